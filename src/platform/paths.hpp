// File names as the program puts them together.
#pragma once

#include <string>

namespace quillan {

// Joins a folder (with or without its trailing separator) and a file name;
// an absolute name stays as it is.
std::string join_path(const std::string& folder, const std::string& name);

}  // namespace quillan
