#include "batch/picture_module.hpp"

#include "platform/version.hpp"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

namespace quillan {

const PictureModule* load_picture_module(std::string& problem) {
    // A run handed over by quillan-batch: the two must be of one build, as
    // the module must be of this program's.
    if (const char* by = std::getenv(kHandingBuildVariable)) {
        const std::string handing = by;
        ::unsetenv(kHandingBuildVariable);
        if (handing != version_text()) {
            problem = std::string("the picture program ") + kPictureProgramFile + " belongs to another build of quillan (" +
                      version_text() + ", the program that handed it the run is " + handing + ")";
            return nullptr;
        }
    }
    const std::vector<std::string> folders = picture_folders();
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
    problem =
        std::string("the picture module ") + kPictureModuleFile + " was not found (looked in " + listed_folders(folders) + ")";
    return nullptr;
}

}  // namespace quillan
