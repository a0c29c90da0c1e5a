// The characters of a tree file as both of its formats read them: blanks and
// line ends between words, [bracketed] comments (nested ones too) skipped
// wherever a word may start, labels bare or in single quotes (a doubled
// quote standing for one), and every refusal placed by line and column.
// The Newick reader and the NEXUS reader (import_tree.cpp, import_nexus.cpp)
// walk the same text with it.
#pragma once

#include "analyses/phylo/phylo_tree.hpp"

#include <map>
#include <string>
#include <string_view>

namespace quillan::io {

// A place in the file: line and column from 1, the column counting
// characters (a letter of UTF-8 is one, however many bytes it takes).
struct TextPlace {
    int line = 1;
    int column = 1;
};

class TreeText {
public:
    TreeText(std::string_view text, std::string path) : s_(text), path_(std::move(path)) {}

    const std::string& path() const { return path_; }
    bool at_end() const { return i_ >= s_.size(); }
    char peek() const { return at_end() ? '\0' : s_[i_]; }
    // Steps over one byte, keeping count of the lines.
    void advance();
    // Skips blanks, line ends and comments; refuses a comment never closed.
    void skip_space();
    TextPlace place() const { return {line_, column_}; }

    // A label (or any other word): in quotes when the next byte is a quote,
    // else the run of bytes up to a blank or one of ( ) [ ] ' : ; , =.
    // Empty when the next byte ends a word.
    std::string word();
    // Steps over `keyword` (small letters) when the text goes on with it in
    // any case, followed by the end of a word; false, and nothing read, when not.
    bool take_keyword(std::string_view keyword);
    // Whether `c` ends a bare word.
    static bool ends_word(char c);

    [[noreturn]] void refuse(const TextPlace& at, const std::string& what) const;
    [[noreturn]] void refuse_here(const std::string& what) const { refuse(place(), what); }

private:
    std::string_view s_;
    std::string path_;
    std::size_t i_ = 0;
    int line_ = 1;
    int column_ = 1;  // of the character at i_
};

// A label as a message quotes it: in double quotes, every control byte
// (a tab too) written out, letters of other scripts left alone.
std::string quoted_label(const std::string& label);

// A NEXUS file's TRANSLATE table: the token a tree writes for a tip, and
// the tip's label.
using TipTranslation = std::map<std::string, std::string>;

// Reads one Newick tree from the text's place up to and including its ';',
// its tips' labels translated where the table has them.
PhyloTree read_newick_tree(TreeText& t, const TipTranslation& translate = {});
// Reads the tree named `tree_name` (the first when empty) from the TREES
// blocks of a NEXUS file; the text's place is just after "#NEXUS".
PhyloTree read_nexus_tree(TreeText& t, const std::string& tree_name);

// The message a tree file is refused with, for callers that know the place
// themselves (the reading of the file as a whole).
[[noreturn]] void refuse_tree_file(const std::string& path, const std::string& what);

}  // namespace quillan::io
