#include "batch/picture_module.hpp"

#include "platform/version.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#ifndef QUILLAN_MODULE_RELATIVE_DIR
#define QUILLAN_MODULE_RELATIVE_DIR "../lib/quillan"
#endif

namespace quillan {

namespace {

std::string executable_folder() {
    std::vector<char> buf(4096);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    const std::string path(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Where the module is looked for, in order.
std::vector<std::string> module_folders() {
    if (const char* dir = std::getenv("QUILLAN_PICTURE_MODULE_DIR"); dir && *dir) return {dir};
    const std::string here = executable_folder();
    if (here.empty()) return {};
    return {here, here + "/" + QUILLAN_MODULE_RELATIVE_DIR};
}

std::string listed(const std::vector<std::string>& folders) {
    std::string text;
    for (std::size_t i = 0; i < folders.size(); ++i)
        text += (i == 0 ? "" : i + 1 == folders.size() ? " and " : ", ") + folders[i];
    return text.empty() ? std::string("no folder: the program's own folder is unknown") : text;
}

}  // namespace

const PictureModule* load_picture_module(std::string& problem) {
    const std::vector<std::string> folders = module_folders();
    for (const auto& folder : folders) {
        const std::string path = folder + "/" + kPictureModuleFile;
        if (::access(path.c_str(), F_OK) != 0) continue;
        // Kept open to the end: Qt's objects outlive the drawing.
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            problem = "the picture module " + path + " could not be loaded (" + (why ? why : "unknown reason") + ")";
            return nullptr;
        }
        using Entry = const PictureModule* (*)();
        const auto entry = reinterpret_cast<Entry>(::dlsym(handle, kPictureModuleEntry));
        const PictureModule* module = entry ? entry() : nullptr;
        if (!module || module->interface != kPictureModuleInterface || std::string(module->version) != version_text()) {
            problem = "the picture module " + path + " belongs to another build of quillan (" +
                      (module ? module->version : "unknown") + ", this program is " + version_text() + ")";
            return nullptr;
        }
        return module;
    }
    problem = std::string("the picture module ") + kPictureModuleFile + " was not found (looked in " + listed(folders) + ")";
    return nullptr;
}

}  // namespace quillan
