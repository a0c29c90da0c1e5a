#include "shell/text_lines.hpp"

#include "platform/error.hpp"

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
}  // namespace

std::string read_file_capped(const std::string& path, const ReadLimits& limits) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        throw QuillanError("Cannot open the file " + path + ": it is a folder. Nothing was loaded.");
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) {
        const int err = errno;
        throw QuillanError("Cannot open the file " + path + ": " + std::strerror(err ? err : ENOENT) + ". Nothing was loaded.");
    }
    auto too_large = [&] {
        return QuillanError("The file " + path + " is larger than " + megabytes(limits.file_bytes) +
                            ", far more than any table of landmarks, groups or covariates; it is not read. Nothing was loaded.");
    };
    std::string bytes;
    // A regular file says its size up front; other files (pipes, devices)
    // are read until the limit.
    struct stat opened {};
    if (::fstat(::fileno(f.get()), &opened) == 0 && S_ISREG(opened.st_mode)) {
        if (static_cast<std::uintmax_t>(opened.st_size) > limits.file_bytes) throw too_large();
        bytes.reserve(static_cast<std::size_t>(opened.st_size));
    }
    char buf[1 << 16];
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
        if (n > 0) {
            if (bytes.size() + n > limits.file_bytes) throw too_large();
            bytes.append(buf, n);
        }
        if (n < sizeof buf) {
            if (std::ferror(f.get())) {
                const int err = errno;
                throw QuillanError("Cannot read the file " + path +
                                   (err ? std::string(": ") + std::strerror(err) : std::string()) + ". Nothing was loaded.");
            }
            if (std::feof(f.get())) break;
        }
    }
    return bytes;
}

std::vector<std::string_view> split_file_lines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> lines;
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* start = begin;
    while (start < end) {
        // The next line feed, and the first carriage return before it.
        const char* lf = static_cast<const char*>(std::memchr(start, '\n', static_cast<std::size_t>(end - start)));
        const char* stop = lf ? lf : end;
        const char* cr = static_cast<const char*>(std::memchr(start, '\r', static_cast<std::size_t>(stop - start)));
        const char* line_end;
        if (!cr) {
            line_end = lf ? lf + 1 : end;
        } else {
            // Carriage returns before a line feed belong to it; otherwise the
            // first one ends the line by itself.
            const char* j = cr;
            while (j < end && *j == '\r') ++j;
            line_end = (j < end && *j == '\n') ? j + 1 : cr + 1;
        }
        lines.emplace_back(start, static_cast<std::size_t>(line_end - start));
        start = line_end;
    }
    return lines;
}

bool is_only_line_end(std::string_view line) {
    if (line.empty()) return false;
    for (char c : line)
        if (c != '\r' && c != '\n') return false;
    return true;
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

}  // namespace quillan
