// The program's version, as both front ends print it for --version and the
// window's About text shows it: the release number, and the commit when the
// program was built from a git checkout.
#pragma once

namespace quillan {

const char* version_text();

}  // namespace quillan
