#include "platform/capped_read.hpp"

#include "platform/error.hpp"
#include "platform/stop_request.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include <sys/stat.h>

namespace quillan {

namespace {

std::string megabytes(std::size_t bytes) {
    if (bytes >= (std::size_t{1} << 30) && bytes % (std::size_t{1} << 30) == 0) return std::to_string(bytes >> 30) + " GB";
    if (bytes >= (std::size_t{1} << 20)) return std::to_string(bytes >> 20) + " MB";
    return std::to_string(bytes) + " bytes";
}

// Counts lines and the length of the current one as the bytes arrive, so an
// endless line (/dev/zero) is refused once it passes the limit rather than
// once the whole file limit is read.
class LineWatch {
public:
    LineWatch(const std::string& path, const ReadLimits& limits, const std::string& outcome)
        : path_(path), limits_(limits), outcome_(outcome) {}
    void feed(const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const char c = p[i];
            if (c == '\n' || (c == '\r' && !(i + 1 < n && p[i + 1] == '\n'))) {
                ++line_;
                length_ = 0;
            } else if (c != '\r' && ++length_ > limits_.line_bytes) {
                throw QuillanError("The file " + path_ + " could not be read: line " + std::to_string(line_) + " is more than " +
                                   megabytes(limits_.line_bytes) + " long, longer than any line of a table should be. " +
                                   outcome_);
            }
        }
    }

private:
    const std::string& path_;
    const ReadLimits& limits_;
    const std::string& outcome_;
    std::size_t line_ = 1, length_ = 0;
};

}  // namespace

std::string read_file_capped(const std::string& path, const ReadLimits& limits, const std::string& outcome) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw QuillanError("Cannot open the file " + path + ": it is a folder. " + outcome);
    // Opening a pipe waits, without end, for something to write into it:
    // a named pipe or a socket is refused before it is opened.
    if (::stat(path.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)))
        throw QuillanError("Cannot open the file " + path + ": it is a " + (S_ISFIFO(st.st_mode) ? "pipe" : "socket") +
                           ", not a file; save what it carries to a file and give that. " + outcome);
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) {
        const int err = errno;
        throw QuillanError("Cannot open the file " + path + ": " + std::strerror(err ? err : ENOENT) + ". " + outcome);
    }
    auto too_large = [&] {
        return QuillanError("The file " + path + " is larger than " + megabytes(limits.file_bytes) +
                            ", far more than any table of landmarks, groups or covariates; it is not read. " + outcome);
    };
    std::string bytes;
    // A regular file says its size up front; other files (pipes, devices)
    // are read until the limit.
    struct stat opened {};
    if (::fstat(::fileno(f.get()), &opened) == 0 && S_ISREG(opened.st_mode)) {
        if (static_cast<std::uintmax_t>(opened.st_size) > limits.file_bytes) throw too_large();
        bytes.reserve(static_cast<std::size_t>(opened.st_size));
    }
    LineWatch lines(path, limits, outcome);
    char buf[1 << 16];
    for (;;) {
        stop_point();  // a gigabyte takes a while
        const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
        if (n > 0) {
            if (bytes.size() + n > limits.file_bytes) throw too_large();
            lines.feed(buf, n);
            bytes.append(buf, n);
        }
        if (n < sizeof buf) {
            if (std::ferror(f.get())) {
                const int err = errno;
                throw QuillanError("Cannot read the file " + path +
                                   (err ? std::string(": ") + std::strerror(err) : std::string()) + ". " + outcome);
            }
            if (std::feof(f.get())) break;
        }
    }
    return bytes;
}

std::string quoted_snippet(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    const bool cut = line.size() > 60;
    if (cut) line = line.substr(0, 57);
    std::string out;
    for (unsigned char c : line) {
        if (c == '\t') out += "\\t";
        else if (c >= 0x20 && c < 0x7f) out += static_cast<char>(c);
        else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (cut) out += "...";
    return out;
}

std::string printable_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c >= 0x20 ? c != 0x7f : c == '\n' || c == '\t') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace quillan
