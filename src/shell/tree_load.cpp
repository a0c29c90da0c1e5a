// Loading a phylogeny: the tree file read whole (io/import_tree.cpp) before
// the workspace changes, so a refused file leaves the tree loaded before.
// The analyses on a tree match its tips to the specimens themselves.
#include "io/import_tree.hpp"
#include "shell/shell.hpp"
#include "shell/window_env.hpp"

#include <filesystem>

namespace quillan {

void Shell::load_tree() {
    const auto choice = gui_->uigetfile("*.*", "Enter tree file to Load?");
    if (!choice) return;
    take_tree(join_path(choice->folder, choice->name), {});
    gui_->cd(choice->folder);
}

void Shell::take_tree(const std::string& path, const std::string& tree_name) {
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
