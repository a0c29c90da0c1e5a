// Reading the three input files and writing the saved report.
#include "platform/error.hpp"
#include "platform/format.hpp"
#include "shell/shell.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <stdlib.h>
#include <unistd.h>

namespace quillan {

namespace {

bool only_line_end(const std::string& line) { return line == "\n" || line == "\r\n" || line == "\r"; }

bool blank(const std::string& line) {
    for (char c : line)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
    return true;
}

std::string snippet(const std::string& line) {
    std::string s = line;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    if (s.size() > 60) s = s.substr(0, 57) + "...";
    return s;
}

}  // namespace

LoadedTable dload_file(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw QuillanError("Cannot open the file " + path + ": it is a folder. Nothing was loaded.");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int err = errno;
        throw QuillanError("Cannot open the file " + path + ": " + std::strerror(err ? err : ENOENT) +
                           ". Nothing was loaded.");
    }
    std::ostringstream buf;
    buf << in.rdbuf();
    if (in.bad()) throw QuillanError("Cannot read the file " + path + ". Nothing was loaded.");
    const std::string bytes = buf.str();

    // Lines keep their line feed (and any carriage return before it); a last
    // line without a line feed is a line too, however short.
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t p = bytes.find('\n', start);
        if (p == std::string::npos) { lines.push_back(bytes.substr(start)); break; }
        lines.push_back(bytes.substr(start, p - start + 1));
        start = p + 1;
    }
    if (lines.empty()) throw QuillanError("The file " + path + " is empty. Nothing was loaded.");

    LoadedTable out;
    std::vector<std::vector<double>> rows;
    std::size_t width = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const int number = static_cast<int>(i) + 1;
        // A line holding nothing but its line end ends the table (the first
        // line is always read).
        if (i > 0 && only_line_end(line)) {
            out.end_line = number;
            for (std::size_t j = i + 1; j < lines.size(); ++j)
                if (!blank(lines[j])) ++out.ignored_lines;
            break;
        }
        std::vector<double> values = str2num(line);
        if (values.empty()) {
            if (blank(line))
                throw QuillanError(sprintf("The file %s could not be loaded: line %i holds no numbers. Nothing was loaded.",
                                           {path, number}));
            throw QuillanError(sprintf("The file %s could not be loaded: line %i is not a list of numbers (\"%s\"). Nothing was loaded.",
                                       {path, number, snippet(line)}));
        }
        if (i == 0) width = values.size();
        else if (values.size() == 1 && width > 1) values.assign(width, values[0]);
        else if (values.size() != width)
            throw QuillanError(sprintf("The file %s could not be loaded: line %i has %i values, but line 1 has %i. Nothing was loaded.",
                                       {path, number, static_cast<double>(values.size()), static_cast<double>(width)}));
        rows.push_back(std::move(values));
    }
    out.x = matrix_from_rows(rows);
    return out;
}

Matrix dload(const std::string& path) { return dload_file(path).x; }

std::optional<MfloadResult> mfload(Gui& gui) {
    auto choice = gui.uigetfile("*.*", "Enter file to Load?");
    if (!choice) return std::nullopt;
    MfloadResult r;
    r.path = join_path(choice->folder, choice->name);
    r.table = dload_file(r.path);
    r.fn = choice->name;
    gui.cd(choice->folder);
    return r;
}

void write_report_file(const std::string& path, const std::vector<std::string>& lines) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
    // Write beside the target, then rename over it.
    std::string tmpl = (dir / (".quillan-save-XXXXXX")).string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    std::FILE* f = nullptr;
    {
        // mkstemp gives a private, unique file in the target's folder.
        int fd = mkstemp(name.data());
        if (fd < 0) {
            const int err = errno;
            throw QuillanError("Cannot write the file " + path + ": " + std::strerror(err) + ". Nothing was saved.");
        }
        f = fdopen(fd, "w");
        if (!f) {
            const int err = errno;
            ::close(fd);
            std::remove(name.data());
            throw QuillanError("Cannot write the file " + path + ": " + std::strerror(err) + ". Nothing was saved.");
        }
    }
    bool ok = true;
    for (const auto& line : lines) {
        if (std::fputs("\n ", f) == EOF || std::fwrite(line.data(), 1, line.size(), f) != line.size()) { ok = false; break; }
    }
    const int err_write = errno;
    if (std::fflush(f) != 0) ok = false;
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::remove(name.data());
        throw QuillanError("Cannot write the file " + path + ": " + std::strerror(err_write ? err_write : EIO) +
                           ". Nothing was saved; an existing file of that name is unchanged.");
    }
    // Keep the usual permissions of a new file rather than mkstemp's private ones.
    std::error_code ec;
    fs::permissions(name.data(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace, ec);
    if (std::rename(name.data(), path.c_str()) != 0) {
        const int err = errno;
        std::remove(name.data());
        throw QuillanError("Cannot write the file " + path + ": " + std::strerror(err) +
                           ". Nothing was saved; an existing file of that name is unchanged.");
    }
}

}  // namespace quillan
