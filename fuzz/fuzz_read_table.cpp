// The table reader on any file content: it either gives a rectangular table
// or a message that names the file, and never crashes.  The limits are made
// small so that the size checks are reached too.
#include "platform/error.hpp"
#include "window/shell.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

const std::string& scratch_path() {
    static const std::string path = [] {
        char name[] = "/tmp/quillan-fuzz-table-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        ::close(fd);
        return std::string(name);
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratch_path();
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    if (fd < 0) std::abort();
    if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size)) std::abort();
    ::close(fd);
    quillan::ReadLimits limits;
    limits.file_bytes = 1 << 16;
    limits.line_bytes = 1 << 12;
    try {
        const quillan::LoadedTable t = quillan::dload_file(path, limits);
        if (t.x.rows() == 0 || t.x.cols() == 0) std::abort();  // an empty table is an error, not a table
    } catch (const quillan::QuillanError& e) {
        if (std::string(e.what()).find(path) == std::string::npos) std::abort();  // every message names the file
    }
    return 0;
}
