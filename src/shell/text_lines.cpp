#include "shell/text_lines.hpp"

namespace quillan {

std::vector<std::string_view> split_file_lines(std::string_view text) {
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::vector<std::string_view> lines;
    std::size_t start = 0, i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            lines.push_back(text.substr(start, i + 1 - start));
            start = ++i;
        } else if (c == '\r') {
            std::size_t j = i;
            while (j < text.size() && text[j] == '\r') ++j;
            // Carriage returns before a line feed belong to it; otherwise the
            // first one ends the line by itself.
            const std::size_t end = (j < text.size() && text[j] == '\n') ? j + 1 : i + 1;
            lines.push_back(text.substr(start, end - start));
            start = i = end;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool is_only_line_end(std::string_view line) {
    if (line.empty()) return false;
    for (char c : line)
        if (c != '\r' && c != '\n') return false;
    return true;
}

}  // namespace quillan
