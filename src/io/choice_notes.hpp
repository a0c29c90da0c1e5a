// A refusal that a choice of the import brought about (curve points kept
// as semilandmarks, strict sliding) would otherwise seem a fault of the
// file alone, and the choice, made for an earlier file, stays for the next:
// such refusals name the choice, as the window and quillan-batch spell it,
// and the choice that imports the file instead.
#pragma once

#include "io/import.hpp"

#include <string>

namespace quillan::io {

// import_file, its refusals caused by the Curves choice naming it.
ImportedData import_naming_choices(const std::string& path, const ImportOptions& options);

// What is added to such a refusal of `options`: empty for one the choices
// did not cause.
std::string curves_choice_note(const std::string& refusal, const ImportOptions& options);

}  // namespace quillan::io
