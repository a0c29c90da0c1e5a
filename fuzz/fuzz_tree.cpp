// The reader of tree files on any content, Newick or NEXUS (a first byte
// picks whether a tree is asked for by name).  Each either gives a tree the
// analyses can trust -- two tips or more, each label once, every node's
// parent among the inner nodes and before it, every inner node of two
// children or more, every length finite and not negative -- or a message that
// names the file and carries no control byte to a terminal.
#include "io/import_tree.hpp"
#include "platform/error.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

bool safe_text(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return false;
    return true;
}

void check(const quillan::PhyloTree& t) {
    const int n = t.tip_count(), nodes = t.node_count();
    if (n < 2 || nodes <= n || t.length.size() != t.parent.size() || t.parent[n] != -1) std::abort();
    if (std::set<std::string>(t.labels.begin(), t.labels.end()).size() != t.labels.size()) std::abort();
    std::vector<int> children(static_cast<std::size_t>(nodes), 0);
    for (int v = 0; v < nodes; ++v) {
        if (v == n) continue;
        const int p = t.parent[static_cast<std::size_t>(v)];
        if (p < n || p >= nodes || (v > n && p >= v)) std::abort();
        const double l = t.length[static_cast<std::size_t>(v)];
        if (!std::isfinite(l) || l < 0) std::abort();
        ++children[static_cast<std::size_t>(p)];
    }
    for (int v = n; v < nodes; ++v)
        if (children[static_cast<std::size_t>(v)] < 2) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string name = data[0] % 4 == 0 ? "second" : "";
    const std::string path = "/fuzz/tree.nex";
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        check(quillan::io::tree_from_bytes(bytes, path, name));
    } catch (const quillan::QuillanError& e) {
        const std::string message = e.what();
        if (message.find(path) == std::string::npos || !safe_text(message)) std::abort();
    }
    return 0;
}
