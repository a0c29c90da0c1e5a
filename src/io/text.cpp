#include "io/text.hpp"

#include "platform/capped_read.hpp"
#include "platform/error.hpp"
#include "platform/stop_request.hpp"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillan::io {

TextFile text_from_bytes(std::string bytes, const std::string& path) {
    TextFile f;
    f.path = path;
    f.name = std::filesystem::path(path).filename().string();
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    // Read byte by byte, UTF-16 is a NUL after every letter: say what it is.
    if (bytes.size() >= 2 && (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0))
        throw QuillanError("The file " + path + " could not be imported: UTF-16 text: save it as UTF-8. Nothing was imported.");
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i % 65536 == 0) stop_point();
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            f.lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) f.lines.push_back(line);
    return f;
}

TextFile read_text_file(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw QuillanError("Cannot import " + path + ": it is a folder. Nothing was imported.");
    // The loaders' limits: a file of over a gigabyte, or a line of over 64 MB,
    // is no table of specimens (and /dev/zero would never end).
    return text_from_bytes(read_file_capped(path, {}, "Nothing was imported."), path);
}

std::string trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::optional<double> parse_number(std::string_view token) {
    if (token.empty()) return std::nullopt;
    std::string_view t = token;
    if (t.front() == '+') t.remove_prefix(1);
    if (t.empty()) return std::nullopt;
    // Only plain decimal and exponent notation: no hexadecimal, no words.
    for (char c : t)
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
    double d = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), d);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(d)) return std::nullopt;
    return d;
}

std::vector<std::string> split_blanks(std::string_view line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t b = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > b) out.emplace_back(line.substr(b, i - b));
    }
    return out;
}

std::vector<std::string> split_delimited(std::string_view line, char delimiter) {
    std::vector<std::string> out;
    std::string cell;
    bool quoted = false, was_quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < line.size() && line[i + 1] == '"') {
                    cell += '"';
                    ++i;
                } else quoted = false;
            } else {
                cell += c;
            }
        } else if (c == '"' && trim(cell).empty()) {
            quoted = was_quoted = true;
            cell.clear();
        } else if (c == delimiter) {
            out.push_back(was_quoted ? cell : trim(cell));
            cell.clear();
            was_quoted = false;
        } else if (!(was_quoted && (c == ' ' || c == '\t'))) {
            cell += c;
        }
    }
    out.push_back(was_quoted ? cell : trim(cell));
    return out;
}

std::string number_text(double d) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

}  // namespace quillan::io
