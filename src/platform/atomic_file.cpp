#include "platform/atomic_file.hpp"

#include "platform/error.hpp"

#include <algorithm>
#include <atomic>
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

// The kernel's protected_symlinks rule: in a sticky folder anyone may write
// to (/tmp), a link is followed only when it belongs to the follower or to
// the folder's owner.  Resolving links here bypasses the kernel's check, so
// the same rule is applied here; otherwise a link planted by another user
// in a shared folder could make the save replace any file the saver may
// write.
void refuse_foreign_link_in_shared_folder(const std::string& path, const std::string& link, const struct stat& st) {
    struct stat folder {};
    if (::stat(folder_of(link).c_str(), &folder) != 0) return;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    if (!shared || st.st_uid == ::geteuid() || st.st_uid == folder.st_uid) return;
    fail(path,
         "it is a symbolic link that another user made in a shared folder (sticky and writable by everyone); "
         "such a link is not followed, as the system would not follow it either");
}

std::string follow_links(const std::string& path) {
    std::string p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        if (names_open_stream(p)) fail(path, "it names an already open stream (such as standard output), not a file");
        refuse_foreign_link_in_shared_folder(path, p, st);
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

// The temporary files that exist now: the one of a save, or every one of a
// set of saves.  The handler below reads the registry while the program may
// be changing it, so a slot is armed only once its path is in place, and a
// registry that has to grow is copied whole into a larger one before the
// handler is pointed at it; the smaller one is left allocated (a few bytes a
// slot), since a handler may still be reading it.
struct TempSlot {
    const char* path = nullptr;
    volatile std::sig_atomic_t armed = 0;
};
struct TempRegistry {
    std::size_t size = 0;
    TempSlot* slots = nullptr;
    // The registry this one replaced: a signal handler may still be reading
    // it, so it is never freed, but it stays reachable rather than lost.
    TempRegistry* replaced = nullptr;
};
std::atomic<TempRegistry*> g_registry{nullptr};
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
bool g_installed[3] = {false, false, false};

void disarm_all() {
    if (TempRegistry* r = g_registry.load())
        for (std::size_t i = 0; i < r->size; ++i) r->slots[i].armed = 0;
}

// Arms a free slot for `temp`; returns the slot.
int arm_temp(const std::string& temp) {
    TempRegistry* r = g_registry.load();
    std::size_t free = r ? r->size : 0;
    for (std::size_t i = 0; r && i < r->size && free == r->size; ++i)
        if (!r->slots[i].armed) free = i;
    if (!r || free == r->size) {
        auto* grown = new TempRegistry{r ? 2 * r->size : 64, nullptr, r};
        grown->slots = new TempSlot[grown->size];
        for (std::size_t i = 0; r && i < r->size; ++i) {
            grown->slots[i].path = r->slots[i].path;
            grown->slots[i].armed = r->slots[i].armed;
        }
        g_registry.store(grown);
        r = grown;
    }
    TempSlot& slot = r->slots[free];
    char* path = ::strdup(temp.c_str());
    const char* old = slot.path;
    slot.path = path;
    slot.armed = 1;
    std::free(const_cast<char*>(old));
    return static_cast<int>(free);
}

void disarm_temp(int slot) {
    if (TempRegistry* r = g_registry.load(); r && slot >= 0) r->slots[slot].armed = 0;
}

extern "C" void remove_temp_and_end(int sig) {
    if (TempRegistry* r = g_registry.load())
        for (std::size_t i = 0; i < r->size; ++i)
            if (r->slots[i].armed && r->slots[i].path) ::unlink(r->slots[i].path);
    disarm_all();
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
// Guards nest (a single save while a run's set gathers): the outermost one
// installs the handlers and restores what was there before.
class SignalGuard {
public:
    SignalGuard() {
        std::lock_guard<std::mutex> lock(depth_mutex());
        if (depth()++ > 0) return;
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
    ~SignalGuard() {
        std::lock_guard<std::mutex> lock(depth_mutex());
        if (--depth() > 0) return;
        for (int i = 0; i < 3; ++i)
            if (g_installed[i]) ::sigaction(kEndSignals[i], &g_previous[i], nullptr);
        if (xfsz_saved_) ::sigaction(SIGXFSZ, &xfsz_previous_, nullptr);
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    static std::mutex& depth_mutex() {
        static std::mutex m;
        return m;
    }
    static int& depth() {
        static int d = 0;
        return d;
    }
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

}  // namespace

// What a save found out about its target before writing anything.
struct Target {
    std::string path;    // as given, for messages
    std::string target;  // the name finally written, links followed
    std::string folder;
    bool exists = false;
    struct stat st {};
    mode_t mode = 0;
};

namespace {

Target check_target(const std::string& path) {
    if (path.empty()) fail(path, "no file name was given");
    Target t;
    t.path = path;
    t.target = follow_links(path);
    if (::stat(t.target.c_str(), &t.st) == 0) {
        t.exists = true;
        if (!S_ISREG(t.st.st_mode)) fail(path, kind_of(t.st.st_mode));
        if (::faccessat(AT_FDCWD, t.target.c_str(), W_OK, AT_EACCESS) != 0) fail_errno(path, errno);
    } else if (errno != ENOENT) {
        fail_errno(path, errno);
    }
    t.mode = t.exists ? (t.st.st_mode & 07777) : (0666 & ~current_umask());
    t.folder = folder_of(t.target);
    return t;
}

// Writes the content to a new temporary file beside the target, with the
// target's permissions, synced and closed; returns its name.  The file is
// removed again when anything fails, and on a signal once armed in `slot`.
std::string write_temp(const Target& t, std::string_view content, int& slot) {
    std::string name = (t.folder == "/" ? std::string("/") : t.folder + "/") + ".quillan-save-XXXXXX";
    if (name.size() > PATH_MAX) fail_errno(t.path, ENAMETOOLONG);
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    const int fd = ::mkostemp(buf.data(), O_CLOEXEC);
    if (fd < 0) fail_errno(t.path, errno);
    slot = arm_temp(buf.data());
    TempFile temp(buf.data(), fd);
    if (auto& hook = after_temp_created()) hook(temp.name());

    mode_t new_mode = t.mode;
    if (t.exists && (t.st.st_uid != ::geteuid() || t.st.st_gid != ::getegid())) {
        // Keep the owner where the system lets us; otherwise the file
        // becomes the saver's, as any newly written file would, and must
        // not carry set-user or set-group bits.
        if (::fchown(fd, t.st.st_uid, t.st.st_gid) != 0) new_mode &= 0777;
    }
    if (::fchmod(fd, new_mode) != 0) fail_errno(t.path, errno);
    if (const int err = write_all(fd, content)) fail_errno(t.path, err);
    if (::fsync(fd) != 0) fail_errno(t.path, errno);
    if (const int err = temp.close()) fail_errno(t.path, err);
    temp.keep();
    return temp.name();
}

// After the rename: the folder synced (the rename is durable only then) and
// the warnings a save that succeeded may need.
void after_rename(const Target& t, const SaveWarningFn& warn) {
    const int dfd = ::open(t.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        if (::fsync(dfd) != 0 && errno != EINVAL && warn)
            warn("The file " + t.path + " was saved, but its folder could not be flushed to the disk: " + std::strerror(errno) +
                 ".");
        ::close(dfd);
    }
    if (t.exists && t.st.st_nlink > 1 && warn) {
        const unsigned long others = static_cast<unsigned long>(t.st.st_nlink) - 1;
        warn("The file " + t.path + " had " + std::to_string(others) + (others == 1 ? " other name" : " other names") +
             " (hard links). The save replaced the file under this name only; the other " +
             (others == 1 ? "name keeps" : "names keep") + " the old content.");
    }
}

}  // namespace

struct SaveSet::Member {
    Target target;
    std::string temp;  // the new content; empty for a file the set removes
    std::string old;   // a second name of the old file while the set is committed
    int slot = -1;
};

struct SaveSet::Guard {
    SignalGuard signals;
};

void SaveSet::write(const std::string& path, std::string_view content) {
    const Target t = check_target(path);
    std::lock_guard<std::mutex> lock(save_mutex());
    Member m;
    m.target = t;
    members_.push_back(std::move(m));
    members_.back().temp = write_temp(t, content, members_.back().slot);
}

namespace {

void save(const std::string& path, std::string_view content, const SaveWarningFn& warn) {
    const Target t = check_target(path);
    std::lock_guard<std::mutex> lock(save_mutex());
    // The guard is in place before the temporary file exists and is lifted
    // only after the file is renamed or removed.
    SignalGuard signals;
    int slot = -1;
    std::string temp;
    try {
        temp = write_temp(t, content, slot);
    } catch (...) {
        disarm_temp(slot);
        throw;
    }
    if (::rename(temp.c_str(), t.target.c_str()) != 0) {
        const int err = errno;
        ::unlink(temp.c_str());
        disarm_temp(slot);
        fail_errno(path, err);
    }
    disarm_temp(slot);
    after_rename(t, warn);
}

}  // namespace

// --- A set of saves, all or none ----------------------------------------

// The guard is in place before the first temporary file exists, so a signal
// that ends the program while the set gathers removes every one of them.
SaveSet::SaveSet() : guard_(std::make_unique<Guard>()) {}

SaveSet::~SaveSet() {
    discard();
    // rmdir removes only an empty folder: one that received files stays.
    for (auto it = made_folders_.rbegin(); it != made_folders_.rend(); ++it) ::rmdir(it->c_str());
}

void SaveSet::made_folder(const std::string& path) { made_folders_.push_back(path); }

bool make_folders_for_saves(const std::string& path, std::string& error, SaveSet* set) {
    std::vector<std::string> missing;  // from `path` up
    struct stat st {};
    for (std::string p = path; !p.empty() && ::stat(p.c_str(), &st) != 0 && errno == ENOENT;) {
        missing.push_back(p);
        while (!p.empty() && p.back() == '/') p.pop_back();
        const auto slash = p.find_last_of('/');
        p = slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
    }
    std::lock_guard<std::mutex> lock(save_mutex());
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0777) == 0) {
            if (set) set->made_folder(*it);
        } else if (errno != EEXIST) {
            error = *it + ": " + std::strerror(errno);
            return false;
        }
    }
    const int problem = ::stat(path.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
    if (problem != 0) {
        error = path + ": " + std::strerror(problem);
        return false;
    }
    return true;
}

void SaveSet::discard() {
    for (auto& m : members_) {
        if (!m.temp.empty()) ::unlink(m.temp.c_str());
        disarm_temp(m.slot);
    }
    members_.clear();
}

void SaveSet::remove_at_commit(const std::string& path) {
    std::lock_guard<std::mutex> lock(save_mutex());
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;  // nothing there to remove
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) fail(path, kind_of(st.st_mode));
    const std::string folder = folder_of(path);
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK, AT_EACCESS) != 0) fail_errno(path, errno);
    Member m;
    m.target.path = m.target.target = path;
    m.target.folder = folder;
    m.target.exists = true;
    members_.push_back(std::move(m));
}

namespace {

// A second name for an old file, so a set whose later rename fails can put
// it back.  Empty when the system allows none (the old file then cannot be
// restored, which only a failing rename in the same folder would need).
std::string keep_old(const std::string& target, const std::string& temp) {
    const std::string old = temp + ".old";
    return ::link(target.c_str(), old.c_str()) == 0 ? old : std::string();
}

}  // namespace

void SaveSet::undo(std::size_t done) {
    for (std::size_t j = 0; j < done; ++j) {
        Member& m = members_[j];
        if (!m.old.empty()) ::rename(m.old.c_str(), m.target.target.c_str());
        else if (!m.target.exists) ::unlink(m.target.target.c_str());
    }
    for (auto& m : members_)
        if (!m.old.empty()) ::unlink(m.old.c_str());
}

std::vector<std::string> SaveSet::commit(const SaveWarningFn& warn) {
    std::lock_guard<std::mutex> lock(save_mutex());
    for (auto& m : members_)
        if (m.target.exists) m.old = keep_old(m.target.target, m.temp.empty() ? m.target.target : m.temp);
    for (std::size_t i = 0; i < members_.size(); ++i) {
        Member& m = members_[i];
        const int rc = m.temp.empty() ? ::unlink(m.target.target.c_str()) : ::rename(m.temp.c_str(), m.target.target.c_str());
        if (rc != 0 && !(m.temp.empty() && errno == ENOENT)) {
            const int err = errno;
            undo(i);
            fail_errno(m.target.path, err);
        }
        m.temp.clear();
    }
    std::vector<std::string> done;
    for (auto& m : members_) {
        if (!m.old.empty()) ::unlink(m.old.c_str());
        disarm_temp(m.slot);
        after_rename(m.target, warn);
        done.push_back(m.target.path);
    }
    members_.clear();
    return done;
}

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
