#include "io/side_files.hpp"

#include "platform/capped_read.hpp"
#include "platform/error.hpp"
#include "platform/sha256.hpp"
#include "platform/stop_request.hpp"

#include <algorithm>
#include <string_view>

namespace quillan::io {

namespace {

constexpr const char* kOutcome = " Nothing was analysed.";

void add_line(SideFile& f, int number, std::string_view text) {
    SideLine line{number, {}};
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t begin = text.find_first_not_of(" \t", from);
        if (begin == std::string_view::npos) break;
        const std::size_t end = std::min(text.find_first_of(" \t", begin), text.size());
        line.words.emplace_back(text.substr(begin, end - begin));
        from = end;
    }
    if (!line.words.empty()) f.lines.push_back(std::move(line));
}

}  // namespace

SideFile side_file_from_bytes(const std::string& bytes, const std::string& path, const std::string& what) {
    SideFile f;
    f.path = path;
    Sha256 digest;
    digest.update(bytes.data(), bytes.size());
    f.sha256 = digest.hex_digest();
    std::string_view text(bytes);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")
        throw Refused(what + " " + printable_text(path) + " is UTF-16 text: save it as UTF-8." + kOutcome);
    int number = 1;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i % 65536 == 0) stop_point();
        const char c = i < text.size() ? text[i] : '\n';
        if (c == '\0')
            throw Refused(what + " " + printable_text(path) + ", line " + std::to_string(number) +
                          ", holds a NUL byte: it is no text file." + kOutcome);
        if (c != '\n' && c != '\r') continue;
        add_line(f, number++, text.substr(begin, i - begin));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        begin = i + 1;
    }
    return f;
}

SideFile read_side_file(const std::string& path, const std::string& what, const ReadLimits& limits) {
    return side_file_from_bytes(read_file_capped(path, limits, "Nothing was analysed."), path, what);
}

}  // namespace quillan::io
