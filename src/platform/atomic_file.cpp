#include "platform/atomic_file.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillan {

namespace {

// One save at a time: the signal handlers below look at a single temporary
// file name.
std::mutex& save_mutex() {
    static std::mutex m;
    return m;
}

SaveWarningFn& warning_handler() {
    static SaveWarningFn h;
    return h;
}

std::function<void(const std::string&)>& after_temp_created() {
    static std::function<void(const std::string&)> h;
    return h;
}

[[noreturn]] void fail(const std::string& path, const std::string& why) {
    throw QuillanError("Cannot write the file " + path + ": " + why +
                       ". Nothing was saved; an existing file of that name is unchanged.");
}

[[noreturn]] void fail_errno(const std::string& path, int err) { fail(path, std::strerror(err)); }

std::string folder_of(const std::string& p) {
    const auto slash = p.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

// Follows a chain of symbolic links to the name that is finally written.  A
// link whose target does not exist yet leads to that target, which the save
// then creates.
// A link into /proc or /dev/fd names a stream the process already has open
// (/dev/stdout, /dev/fd/3): replacing what it leads to would not write to
// the stream, and might replace a file the stream was redirected to.
bool names_open_stream(const std::string& p) {
    return p.rfind("/proc/", 0) == 0 || p.rfind("/dev/fd/", 0) == 0 || p.rfind("/dev/std", 0) == 0;
}

std::string follow_links(const std::string& path) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        if (names_open_stream(p)) fail(path, "it names an already open stream (such as standard output), not a file");
        std::vector<char> buf(static_cast<std::size_t>(std::max<off_t>(st.st_size, PATH_MAX)) + 1);
        const ssize_t n = ::readlink(p.c_str(), buf.data(), buf.size());
        if (n < 0) return p;  // the later steps report what is wrong
        std::string target(buf.data(), static_cast<std::size_t>(n));
        if (target.empty()) return p;
        if (target.front() != '/' && p.find('/') != std::string::npos) target = p.substr(0, p.find_last_of('/') + 1) + target;
        p = target;
    }
    fail(path, std::strerror(ELOOP));
}

const char* kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "it is a folder";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device, not a regular file";
    if (S_ISFIFO(mode)) return "it is a pipe, not a regular file";
    if (S_ISSOCK(mode)) return "it is a socket, not a regular file";
    return "it is not a regular file";
}

// The process's umask, read without changing it where the system allows
// (changing it even briefly would affect files other threads create).
mode_t current_umask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
}

// --- Removing the temporary file when a signal ends the process ---------

char g_temp_path[PATH_MAX + 1];
volatile std::sig_atomic_t g_temp_armed = 0;
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
bool g_installed[3] = {false, false, false};

extern "C" void remove_temp_and_end(int sig) {
    if (g_temp_armed) ::unlink(g_temp_path);
    g_temp_armed = 0;
    // Let the signal do what it would have done: the handler is replaced by
    // the default action, which ends the process once this handler returns.
    for (int i = 0; i < 3; ++i)
        if (kEndSignals[i] == sig) ::sigaction(sig, &g_previous[i], nullptr);
    ::raise(sig);
}

// While a save runs: SIGINT, SIGTERM and SIGHUP that would end the process
// remove the temporary file first (a handler the program set itself is left
// alone: the process goes on and the save reports its failure), and
// SIGXFSZ is ignored so that a file-size limit shows as EFBIG.
class SignalGuard {
public:
    SignalGuard() {
        g_temp_armed = 0;
        for (int i = 0; i < 3; ++i) {
            struct sigaction current {};
            ::sigaction(kEndSignals[i], nullptr, &current);
            g_installed[i] = false;
            if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_DFL) {
                struct sigaction mine {};
                mine.sa_handler = remove_temp_and_end;
                sigemptyset(&mine.sa_mask);
                if (::sigaction(kEndSignals[i], &mine, &g_previous[i]) == 0) g_installed[i] = true;
            }
        }
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        xfsz_saved_ = ::sigaction(SIGXFSZ, &ignore, &xfsz_previous_) == 0;
    }
    // From now on a signal removes this file.
    void arm(const std::string& temp) {
        g_temp_armed = 0;
        std::snprintf(g_temp_path, sizeof g_temp_path, "%s", temp.c_str());
        g_temp_armed = 1;
    }
    ~SignalGuard() {
        for (int i = 0; i < 3; ++i)
            if (g_installed[i]) ::sigaction(kEndSignals[i], &g_previous[i], nullptr);
        g_temp_armed = 0;
        if (xfsz_saved_) ::sigaction(SIGXFSZ, &xfsz_previous_, nullptr);
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    struct sigaction xfsz_previous_ {};
    bool xfsz_saved_ = false;
};

// The temporary file: removed unless it was renamed into place.
class TempFile {
public:
    TempFile(std::string name, int fd) : name_(std::move(name)), fd_(fd) {}
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!kept_) ::unlink(name_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    // Closes the file; returns the error, or 0.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0 ? 0 : errno;
    }
    void keep() { kept_ = true; }

private:
    std::string name_;
    int fd_;
    bool kept_ = false;
};

int write_all(int fd, std::string_view content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, std::min<std::size_t>(left, std::size_t{1} << 30));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

void save(const std::string& path, std::string_view content, const SaveWarningFn& warn) {
    if (path.empty()) fail(path, "no file name was given");
    const std::string target = follow_links(path);

    struct stat st {};
    bool exists = false;
    if (::stat(target.c_str(), &st) == 0) {
        exists = true;
        if (!S_ISREG(st.st_mode)) fail(path, kind_of(st.st_mode));
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) fail_errno(path, errno);
    } else if (errno != ENOENT) {
        fail_errno(path, errno);
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~current_umask());

    std::lock_guard<std::mutex> lock(save_mutex());
    const std::string folder = folder_of(target);
    std::string name = (folder == "/" ? std::string("/") : folder + "/") + ".quillan-save-XXXXXX";
    if (name.size() > PATH_MAX) fail_errno(path, ENAMETOOLONG);
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    // The guard is in place before the temporary file exists and is lifted
    // only after the file is renamed or removed.
    SignalGuard signals;
    const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) fail_errno(path, errno);
    signals.arm(buf.data());
    TempFile temp(buf.data(), fd);
    if (auto& hook = after_temp_created()) hook(temp.name());

    mode_t new_mode = mode;
    if (exists && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
        // Keep the owner where the system lets us; otherwise the file
        // becomes the saver's, as any newly written file would, and must
        // not carry set-user or set-group bits.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) new_mode &= 0777;
    }
    if (::fchmod(fd, new_mode) != 0) fail_errno(path, errno);
    if (const int err = write_all(fd, content)) fail_errno(path, err);
    if (::fsync(fd) != 0) fail_errno(path, errno);
    if (const int err = temp.close()) fail_errno(path, err);
    if (::rename(temp.name().c_str(), target.c_str()) != 0) fail_errno(path, errno);
    temp.keep();

    // The rename is durable only once the folder is synced too.
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        if (::fsync(dfd) != 0 && errno != EINVAL && warn)
            warn("The file " + path + " was saved, but its folder could not be flushed to the disk: " + std::strerror(errno) +
                 ".");
        ::close(dfd);
    }
    if (exists && st.st_nlink > 1 && warn) {
        const unsigned long others = static_cast<unsigned long>(st.st_nlink) - 1;
        warn("The file " + path + " had " + std::to_string(others) + (others == 1 ? " other name" : " other names") +
             " (hard links). The save replaced the file under this name only; the other " +
             (others == 1 ? "name keeps" : "names keep") + " the old content.");
    }
}

}  // namespace

void write_file_atomically(const std::string& path, std::string_view content) {
    SaveWarningFn handler = warning_handler();
    if (!handler) handler = [](const std::string& w) { std::cerr << "Warning: " << w << '\n'; };
    save(path, content, handler);
}

void write_file_atomically(const std::string& path, std::string_view content, const SaveWarningFn& warn) {
    save(path, content, warn);
}

SaveWarningFn set_save_warning_handler(SaveWarningFn handler) {
    SaveWarningFn previous = std::move(warning_handler());
    warning_handler() = std::move(handler);
    return previous;
}

namespace save_testing {
void set_after_temp_created(std::function<void(const std::string&)> hook) { after_temp_created() = std::move(hook); }
}  // namespace save_testing

}  // namespace quillan
