#include "shell/text_lines.hpp"

#include <cstring>

namespace quillan {

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

}  // namespace quillan
