// The side files of the shape analyses on any content: a partition of the
// landmarks, a second block of variables and pairs of landmarks, read and
// interpreted as a run reads them.  Each either gives what its analysis
// expects (a module per landmark, a finite table of one row per specimen,
// pairs of landmark numbers from 0) or a message that names the file and
// carries no control byte to a terminal.  The first byte picks the reader
// and the counts it checks against; the rest is the file.
#include "analyses/toolkit/side_tables.hpp"
#include "io/side_files.hpp"
#include "platform/error.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool safe_text(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

void check(int reader, int count, const quillan::SideFile& f) {
    if (reader == 0) {
        std::vector<std::string> labels;
        const std::vector<int> module = quillan::partition_of(&f, count, &labels);
        if (static_cast<int>(module.size()) != count || labels.size() < 2) std::abort();
        for (int m : module)
            if (m < 0 || static_cast<std::size_t>(m) >= labels.size()) std::abort();
    } else if (reader == 1) {
        std::vector<std::string> names;
        const Eigen::MatrixXd block = quillan::block_of(&f, count, names);
        if (block.rows() != count || block.cols() < 1 || !block.allFinite()) std::abort();
        if (!names.empty() && static_cast<Eigen::Index>(names.size()) != block.cols()) std::abort();
    } else {
        for (const auto& [a, b] : quillan::land_pairs_of(f))
            if (a < 0 || b < 0 || a == b) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int reader = data[0] % 3;
    const int count = 2 + (data[0] >> 2) % 8;  // landmarks or specimens
    const std::string path = "/fuzz/side.txt";
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        check(reader, count, quillan::io::side_file_from_bytes(bytes, path, "The side file"));
    } catch (const quillan::QuillanError& e) {
        const std::string message = e.what();
        if (message.find(path) == std::string::npos || !safe_text(message)) std::abort();
    }
    return 0;
}
