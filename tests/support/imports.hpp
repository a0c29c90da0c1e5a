// An import of bytes given in the test, as if read from /data/NAME, and the
// message of a refused import.
#pragma once

#include "io/import.hpp"
#include "io/text.hpp"
#include "support/text.hpp"

#include <string>

namespace quillan::test {

// The specimens of `bytes` assembled as `o` says, with the factor table
// `table` when one is given.
inline io::ImportedData import_text(const std::string& name, const std::string& bytes, const io::ImportOptions& o = {},
                                    const io::TextFile* table = nullptr) {
    return io::assemble(io::read_specimens(io::text_from_bytes(bytes, "/data/" + name), o.id_column, o.semilandmarks), o, table);
}

// The message of a refused import of `bytes`, or "" when it went through.
inline std::string import_refusal(const std::string& name, const std::string& bytes, const io::ImportOptions& o = {},
                                  const io::TextFile* table = nullptr) {
    const std::string e = error_of([&] { import_text(name, bytes, o, table); });
    return e == "(no error)" ? "" : e;
}

}  // namespace quillan::test
