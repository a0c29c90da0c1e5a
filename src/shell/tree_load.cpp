// Loading a phylogeny: the tree file read whole (io/import_tree.cpp) before
// the workspace changes, so a refused file leaves the tree loaded before.
// A NEXUS file's tree is chosen by name (quillan-batch's --tree-name, the
// window's Tree name box), and the tree's line is shown beside the file
// box's (set_file_box).  The analyses on a tree match its tips to the
// specimens themselves.
#include "io/import_tree.hpp"
#include "shell/runner.hpp"

#include <filesystem>

namespace quillan {

void Runner::take_tree(const std::string& path, const std::string& tree_name) {
    const std::string absolute = std::filesystem::absolute(std::filesystem::path(path)).string();
    PhyloTree tree = io::read_tree_file(absolute, tree_name);
    const std::string name = std::filesystem::path(absolute).filename().string();
    std::string info = io::tree_file_info(name, tree);
    need_file_box();
    ws_.tree = std::move(tree);
    ws_.tree_info = std::move(info);
    origin_.tree_path = absolute;
    show_files();
}

}  // namespace quillan
