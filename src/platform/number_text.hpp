// A number written so that it reads back as exactly the same double: whole
// numbers in plain digits, others in the shortest form that round-trips.
// Used wherever a message must tell two codes apart that a fixed number of
// significant digits would show alike.
#pragma once

#include <string>

namespace quillan {

std::string exact_number_text(double d);

}  // namespace quillan
