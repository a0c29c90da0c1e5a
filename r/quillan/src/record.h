// The JSON record of a run, as R lists and vectors.
#pragma once

#include <Rcpp.h>

#include <string>

// NULL for a run without a record.
SEXP record_value(const std::string& text);
