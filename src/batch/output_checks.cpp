#include "batch/output_checks.hpp"

#include <filesystem>
#include <optional>

#include <sys/stat.h>

namespace quillan {

namespace {

// What a path names: the file's device and inode when it exists, and its
// absolute path with every link resolved that can be.
struct Identity {
    std::optional<std::pair<dev_t, ino_t>> inode;
    std::string path;
};

Identity identity_of(const std::string& path) {
    Identity id;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) id.inode = std::make_pair(st.st_dev, st.st_ino);
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(std::filesystem::absolute(path, ec), ec);
    id.path = ec ? path : p.lexically_normal().string();
    return id;
}

bool same_file(const Identity& a, const Identity& b) {
    if (a.inode && b.inode) return *a.inode == *b.inode;
    return a.path == b.path;
}

std::string named(const NamedFile& f) {
    if (f.path == "-" && f.option.rfind("--", 0) != 0) return f.option;  // "the report", to standard output by default
    return f.option + " " + f.path;
}

}  // namespace

std::string output_clash(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs) {
    std::vector<Identity> in, out;
    for (const auto& f : inputs) in.push_back(identity_of(f.path));
    for (const auto& f : outputs) out.push_back(f.path == "-" ? Identity{} : identity_of(f.path));
    for (std::size_t o = 0; o < outputs.size(); ++o) {
        const bool to_stdout = outputs[o].path == "-";
        for (std::size_t i = 0; i < inputs.size() && !to_stdout; ++i)
            if (same_file(out[o], in[i]))
                return named(outputs[o]) + " would overwrite the input " + named(inputs[i]) +
                       ": write the output to another file";
        for (std::size_t e = 0; e < o; ++e) {
            const bool both_stdout = to_stdout && outputs[e].path == "-";
            if (both_stdout)
                return named(outputs[e]) + " and " + named(outputs[o]) +
                       " would both go to standard output: give one of them a file (--out FILE for the report)";
            if (!to_stdout && outputs[e].path != "-" && same_file(out[o], out[e]))
                return named(outputs[e]) + " and " + named(outputs[o]) +
                       " are the same file, and one would be lost: give each output a file of its own";
        }
    }
    return "";
}

}  // namespace quillan
