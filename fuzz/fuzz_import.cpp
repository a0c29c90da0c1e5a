// The importers (TPS, NTS, morphologika, Slicer markups, headed and plain
// tables, in the plane and in space) on any content: an
// import either gives tables of one row per specimen with finite values, or
// a message that names the file and carries no control byte to a terminal.
// The first byte picks the format and the options; the rest is the file.
#include "io/import.hpp"
#include "platform/error.hpp"

#include <cmath>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const kNames[] = {"/fuzz/in.tps",  "/fuzz/in.nts",      "/fuzz/in.csv", "/fuzz/in.txt",
                                         "/fuzz/in.fcsv", "/fuzz/in.mrk.json", "/fuzz/in.tps", "/fuzz/in.txt"};
    const std::string path = kNames[(data[0] & 3) | ((data[0] & 32) ? 4 : 0)];
    quillan::io::ImportOptions options;
    options.negative_missing = (data[0] & 4) != 0;
    if (data[0] & 8) options.factors = {"g"};
    if (data[0] & 16) options.covariate_column = "z";
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        const auto table = quillan::io::read_specimens(quillan::io::text_from_bytes(bytes, path), options.id_column);
        const quillan::io::ImportedData d = quillan::io::assemble(table, options);
        const auto m = d.landmarks.rows();
        const auto k = (d.landmarks.cols() - 1) / d.dimensions;
        if (m == 0 || k < 2 || (d.landmarks.cols() - 1) % d.dimensions != 0) std::abort();
        if (!d.landmarks.allFinite()) std::abort();
        if (d.groups.size() > 0 && d.groups.rows() != m) std::abort();
        if (d.covariate.size() > 0 && (d.covariate.rows() != m || !d.covariate.allFinite())) std::abort();
        if (!d.legend.ids.empty() && static_cast<long>(d.legend.ids.size()) != static_cast<long>(m)) std::abort();
        for (const auto& w : d.warnings)
            if (!safe_text(w)) std::abort();
    } catch (const quillan::QuillanError& e) {
        const std::string message = e.what();
        if (message.find(path) == std::string::npos || !safe_text(message)) std::abort();
    }
    return 0;
}
