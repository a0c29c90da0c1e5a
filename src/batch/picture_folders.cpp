#include "batch/batch_steps.hpp"
#include "batch/picture_module.hpp"
#include "batch/stop_signals.hpp"
#include "platform/version.hpp"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>

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

}  // namespace

std::vector<std::string> picture_folders() {
    if (const char* dir = std::getenv("QUILLAN_PICTURE_MODULE_DIR"); dir && *dir) return {dir};
    const std::string here = executable_folder();
    if (here.empty()) return {};
    return {here, here + "/" + QUILLAN_MODULE_RELATIVE_DIR};
}

std::string listed_folders(const std::vector<std::string>& folders) {
    std::string text;
    for (std::size_t i = 0; i < folders.size(); ++i)
        text += (i == 0 ? "" : i + 1 == folders.size() ? " and " : ", ") + folders[i];
    return text.empty() ? std::string("no folder: the program's own folder is unknown") : text;
}

int hand_over_to_picture_program(char** argv) {
    const std::vector<std::string> folders = picture_folders();
    for (const auto& folder : folders) {
        const std::string module = folder + "/" + kPictureModuleFile;
        if (::access(module.c_str(), F_OK) != 0) continue;
        const std::string program = folder + "/" + kPictureProgramFile;
        if (::access(program.c_str(), X_OK) != 0) {
            std::cerr << "quillan-batch: the picture program " << program << ", which draws with the picture module " << module
                      << ", was not found; --plots is not available\n";
            return batch::kUsage;
        }
        // The stop signals wait, blocked, from here: one that comes now is
        // still pending in the picture program, which unblocks them once its
        // own handlers are in place.  One that came before is answered here.
        sigset_t stops, before;
        sigemptyset(&stops);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
        ::sigprocmask(SIG_BLOCK, &stops, &before);
        if (const int signal = StopSignals::received()) {
            ::sigprocmask(SIG_SETMASK, &before, nullptr);
            std::cerr << "quillan-batch: stopped\n";
            return StopSignals::exit_status(signal);
        }
        ::setenv(kHandingBuildVariable, version_text(), 1);
        std::cout.flush();
        std::cerr.flush();
        ::execv(program.c_str(), argv);
        const int err = errno;
        ::unsetenv(kHandingBuildVariable);
        ::sigprocmask(SIG_SETMASK, &before, nullptr);
        std::cerr << "quillan-batch: the picture program " << program << " could not be started (" << std::strerror(err)
                  << "); --plots is not available\n";
        return batch::kUsage;
    }
    std::cerr << "quillan-batch: the picture module " << kPictureModuleFile << " was not found (looked in "
              << listed_folders(folders) << "); --plots is not available\n";
    return batch::kUsage;
}

}  // namespace quillan
