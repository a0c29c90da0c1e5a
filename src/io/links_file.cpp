#include "io/links_file.hpp"

#include "platform/error.hpp"

#include <string_view>

namespace quillan::io {

namespace {

constexpr const char* kUnchanged = " The wireframe was not changed.";

}  // namespace

Links read_links_file(const std::string& path, int landmarks, const ReadLimits& limits) {
    const std::string bytes = read_file_capped(path, limits, "The wireframe was not changed.");
    const std::string what = "The links file " + printable_text(path);
    std::string_view text(bytes);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF")
        throw QuillanError(what + " is UTF-16 text: save it as UTF-8." + kUnchanged);
    // Every line end a line feed, so that the lines parse_links counts are the file's.
    std::string lines;
    lines.reserve(text.size());
    int number = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0')
            throw QuillanError(what + ", line " + std::to_string(number) + ", holds a NUL byte: it is no text file." +
                               kUnchanged);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lines += c == '\r' ? '\n' : c;
        if (lines.back() == '\n') ++number;
    }
    return parse_links(lines, landmarks, what);
}

}  // namespace quillan::io
