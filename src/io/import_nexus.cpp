// The TREES blocks of a NEXUS file: its TRANSLATE table and its TREE
// commands; every other block, and every other command of a TREES block
// (TITLE, LINK, ...), is stepped over, quotes and comments and all.
#include "io/text.hpp"
#include "io/tree_text.hpp"
#include "platform/capped_read.hpp"

#include <string>
#include <vector>

namespace quillan::io {

namespace {

// Steps over the rest of a command, up to and including its ';'.
void skip_command(TreeText& t) {
    for (;;) {
        t.skip_space();
        if (t.at_end()) return;
        if (t.peek() == ';') {
            t.advance();
            return;
        }
        if (t.peek() == '\'') static_cast<void>(t.word());
        else t.advance();
    }
}

bool take_end(TreeText& t) { return t.take_keyword("end") || t.take_keyword("endblock"); }

// Steps over the commands of a block up to its END; (BEGIN and its name read).
void skip_block(TreeText& t, const TextPlace& opened, const std::string& name) {
    for (;;) {
        t.skip_space();
        if (t.at_end()) t.refuse(opened, "the block " + quoted_label(name) + " opened here has no END;");
        if (take_end(t)) return skip_command(t);
        skip_command(t);
    }
}

// TRANSLATE token label, token label, ... ;
void read_translate(TreeText& t, TipTranslation& table) {
    for (;;) {
        t.skip_space();
        const TextPlace at = t.place();
        const std::string token = t.word();
        t.skip_space();
        const std::string label = t.word();
        if (token.empty() || label.empty()) t.refuse(at, "expected a token and its tip's label in the TRANSLATE table here");
        if (!table.emplace(token, label).second)
            t.refuse(at, "the TRANSLATE table gives the token " + quoted_label(token) + " twice");
        t.skip_space();
        const char c = t.peek();
        t.advance();
        if (c == ';') return;
        if (c != ',') t.refuse(at, "expected ',' or ';' after the TRANSLATE entry of " + quoted_label(token));
    }
}

std::string name_list(const std::vector<std::string>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size() && i < 10; ++i) list += (i ? ", " : "") + quoted_label(names[i]);
    if (names.size() > 10) list += ", ...";
    return list;
}

}  // namespace

PhyloTree read_nexus_tree(TreeText& t, const std::string& tree_name) {
    std::vector<std::string> names;
    bool trees_block = false;
    for (;;) {
        t.skip_space();
        if (t.at_end()) break;
        const TextPlace opened = t.place();
        if (!t.take_keyword("begin")) {
            skip_command(t);
            continue;
        }
        t.skip_space();
        const std::string block = t.word();
        skip_command(t);
        if (lower(block) != "trees") {
            skip_block(t, opened, block);
            continue;
        }
        trees_block = true;
        TipTranslation translate;
        for (;;) {
            t.skip_space();
            if (t.at_end()) t.refuse(opened, "the TREES block opened here has no END;");
            if (take_end(t)) {
                skip_command(t);
                break;
            }
            if (t.take_keyword("translate")) {
                read_translate(t, translate);
                continue;
            }
            if (!t.take_keyword("tree") && !t.take_keyword("utree")) {
                skip_command(t);
                continue;
            }
            t.skip_space();
            if (t.peek() == '*') t.advance();  // PAUP's mark of the default tree
            t.skip_space();
            const std::string name = t.word();
            t.skip_space();
            if (t.peek() != '=') t.refuse_here("expected '=' after the name of the tree " + quoted_label(name));
            t.advance();
            if (tree_name.empty() || name == tree_name) return read_newick_tree(t, translate);
            names.push_back(name);
            skip_command(t);
        }
    }
    const std::string path = t.path();
    if (!trees_block) refuse_tree_file(path, "it is a NEXUS file without a TREES block");
    if (names.empty()) refuse_tree_file(path, "its TREES block holds no tree");
    refuse_tree_file(path, "it holds no tree named " + quoted_label(tree_name) + " (its trees: " + name_list(names) + ")");
}

}  // namespace quillan::io
