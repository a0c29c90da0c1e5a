#include "platform/version.hpp"

#include "quillan_version.hpp"  // generated at build time

namespace quillan {

const char* version_text() { return QUILLAN_VERSION_TEXT; }

}  // namespace quillan
