// The record of the last report leaves the program as JSON (everything, for
// scripts) or as a tidy CSV (one row per model or effect, for spreadsheets).
#pragma once

#include "analyses/result_record.hpp"

#include <string>

namespace quillan::io {

std::string results_json(const ResultRecord& record);
std::string results_csv(const ResultRecord& record);

// The current time in UTC, as 2026-12-07T01:02:03Z.
std::string utc_now();

}  // namespace quillan::io
