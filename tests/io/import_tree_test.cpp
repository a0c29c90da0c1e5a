// The reader of tree files on what real Newick and NEXUS files hold, the
// nodes numbered as ape numbers them, and every fault refused naming the
// file, line and column.
#include "io/import_tree.hpp"

#include "support/text.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quillan;
using quillan::test::error_of;
using ::testing::HasSubstr;

namespace {

const std::string kNexus =
    "#NEXUS\n"
    "begin taxa; dimensions ntax=3; taxlabels A 'B x' C; end;\n"
    "BEGIN TREES;\n"
    "  TRANSLATE 1 'Plethodon cinereus', 2 B_x, 3 C;\n"
    "  TREE first = [&U] ((1:1,2:2):0.5,3:3);\n"
    "  TREE * 'the second' = ((3:1,1:1):1,2:2);\n"
    "END;\n";

}  // namespace

TEST(TreeReader, ReadsWhatRealFilesHoldNumberedAsApe) {
    struct Row {
        std::string text, name;
        std::vector<std::string> labels;
        std::vector<int> parent;
        std::vector<double> length;
    };
    const std::vector<Row> rows = {
        {"((A:1,B:2):0.5,C:3);", "", {"A", "B", "C"}, {4, 4, 3, -1, 3}, {1, 2, 3, 0, 0.5}},
        // Quotes, doubled quotes, comments, support values, a root edge; underscores kept.
        {"[&R] (('O''Brien''s salamander':1[c],'a (b): c':2)0.95:0.5, Plethodon_cinereus:3)'root x':7;",
         "",
         {"O'Brien's salamander", "a (b): c", "Plethodon_cinereus"},
         {4, 4, 3, -1, 3},
         {1, 2, 3, 0, 0.5}},
        {"\xEF\xBB\xBF([a[b]c]A:1,B:1);", "", {"A", "B"}, {2, 2, -1}, {1, 1, 0}},
        {"(A:1,B:1,C:1,D:1);", "", {"A", "B", "C", "D"}, {4, 4, 4, 4, -1}, {1, 1, 1, 1, 0}},
        // A node of one child is folded, its length added; the root's only child gives the root its children.
        {"(((A:1):2):0.5,B:3);", "", {"A", "B"}, {2, 2, -1}, {3.5, 3, 0}},
        {"(((A:1,B:2):0.5):4);", "", {"A", "B"}, {2, 2, -1}, {1, 2, 0}},
        {"(A:0,B:1e-300);", "", {"A", "B"}, {2, 2, -1}, {0, 1e-300, 0}},
        {"(\r\n  '\xC3\x91"
         "and\xC3\xBA':1,\n\tB:2\r);\n",
         "",
         {"\xC3\x91"
          "and\xC3\xBA",
          "B"},
         {2, 2, -1},
         {1, 2, 0}},
        // Inner nodes in preorder after the root.
        {"((A:1,B:1):1,(C:1,D:1):2);", "", {"A", "B", "C", "D"}, {5, 5, 6, 6, -1, 4, 4}, {1, 1, 1, 1, 0, 1, 2}},
        {kNexus, "", {"Plethodon cinereus", "B_x", "C"}, {4, 4, 3, -1, 3}, {1, 2, 3, 0, 0.5}},
        {kNexus, "the second", {"C", "Plethodon cinereus", "B_x"}, {4, 4, 3, -1, 3}, {1, 1, 2, 0, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const PhyloTree t = io::tree_from_bytes(row.text, "/data/t.tre", row.name);
        EXPECT_EQ(t.labels, row.labels);
        EXPECT_EQ(t.parent, row.parent);
        EXPECT_EQ(t.length, row.length);
        EXPECT_EQ(t.source, "/data/t.tre");
    }
}

TEST(TreeReader, RefusesFaultsNamingTheFileLineAndColumn) {
    struct Row {
        std::string text, name, message;
    };
    const std::vector<Row> rows = {
        {"((A:1,B):1,C:1);", "", "line 1, column 8: the branch above tip \"B\" has no length"},
        {"((A:1,B:1),C:1);", "",
         "line 1, column 11: the branch above the inner node that ends here (tips \"A\" to \"B\") has no length"},
        {"(A:1,\n A:2);", "", "line 2, column 2: this tip and the one at line 1, column 2 are both labelled \"A\""},
        {"(A:1,B:1;", "", "line 1, column 9: the tree ends with 1 '(' not closed"},
        {"(A:1,B:1)", "", "line 1, column 10: the tree does not end with ';'"},
        {"(A:1,B:1));", "", "line 1, column 10: a ')' without its '('"},
        {"(A:1,B:1)x:1,C:1);", "", "line 1, column 13: a ',' after the tree's last ')'"},
        {"(A:1,[open [x] B:1);", "", "line 1, column 6: a comment opened here with '[' is never closed"},
        {"(A:1,'B:1);\n", "", "line 1, column 6: a label opened here with a quote runs past the end of its line"},
        {"(A:1,:1);", "", "line 1, column 6: a tip without a label"},
        {"(A:-1,B:1);", "", "line 1, column 4: the branch above tip \"A\" has a negative length (-1)"},
        {"(A:1,B:x\x1b);", "", "column 8: the branch above tip \"B\" has no length a number can be read from (\"x\\x1B\")"},
        {"(Plethodon cinereus:1,B:1);", "",
         "column 12: expected ':' and the length of the branch above tip \"Plethodon\", not 'c'"},
        {std::string("(A:1,\nB\0:1);", 12), "", "line 2, column 2: a NUL byte"},
        {"\xFF\xFE(\0", "", "UTF-16"},
        {"A;", "", "line 1, column 1: a tree opens with '(', not 'A'"},
        {"(A:1);", "", "a tree needs two tips or more, and this one has 1"},
        {"  \n", "", "line 2, column 1: the file holds no tree"},
        {"(A:1,B:1);", "x", "it is a Newick file, which names no trees"},
        {kNexus, "third", "it holds no tree named \"third\" (its trees: \"first\", \"the second\")"},
        {"#NEXUS\nbegin data; matrix A 'x;y' [;] ; end;\n", "", "it is a NEXUS file without a TREES block"},
        {"#nexus\nBEGIN TREES;\n translate 1 A, 1 B;\n", "",
         "line 3, column 17: the TRANSLATE table gives the token \"1\" twice"},
        {"#NEXUS\nBEGIN TREES;\n tree a = (A:1,B:1);\n", "b", "line 2, column 1: the TREES block opened here has no END;"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        const std::string e = error_of([&] { io::tree_from_bytes(row.text, "/data/t.tre", row.name); });
        EXPECT_THAT(e, HasSubstr("The tree file /data/t.tre could not be loaded: "));
        EXPECT_THAT(e, HasSubstr(row.message));
        EXPECT_THAT(e, HasSubstr("Nothing was loaded."));
    }
}

// A caterpillar of 20,000 tips: as deep as trees come, read without recursion.
TEST(TreeReader, ReadsADeepTreeAndDescribesIt) {
    const int n = 20000;
    std::string text;
    for (int i = 0; i + 1 < n; ++i) text += "(t" + std::to_string(i) + ":1,";
    text += "t" + std::to_string(n - 1) + ":1";
    for (int i = 0; i + 1 < n; ++i) text += i + 2 < n ? "):1" : ")";
    text += ";";
    const PhyloTree t = io::tree_from_bytes(text, "deep.tre");
    ASSERT_EQ(t.tip_count(), n);
    ASSERT_EQ(t.node_count(), 2 * n - 1);
    for (int v = t.root() + 1; v < t.node_count(); ++v) EXPECT_LT(t.parent[v], v);
    EXPECT_EQ(t.parent[n - 1], 2 * n - 2);
    EXPECT_EQ(io::tree_file_info("deep.tre", t),
              "\nTree File: deep.tre with 20000 tips, not ultrametric, no polytomies, branches 1 to 1");
    const PhyloTree u = io::tree_from_bytes("((A:1,B:1):0.5,(C:0.25,D:0.25,E:0.25):1.25);", "u.tre");
    EXPECT_EQ(io::tree_file_info("u.tre", u), "\nTree File: u.tre with 5 tips, ultrametric, 1 polytomy, branches 0.25 to 1.25");
    EXPECT_THAT(error_of([] { io::read_tree_file("/nonexistent/t.tre"); }), HasSubstr("/nonexistent/t.tre"));
}
