#include "platform/paths.hpp"

namespace quillan {

std::string join_path(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (!name.empty() && name[0] == '/') return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace quillan
