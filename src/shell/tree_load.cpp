// Loading a phylogeny: the tree file read whole (io/import_tree.cpp) before
// the workspace changes, so a refused file leaves the tree loaded before.
// In the window the Tree name box chooses the tree of a NEXUS file, as
// quillan-batch's --tree-name does, and the tree's line is shown beside the
// file box's (set_file_box).  The analyses on a tree match its tips to the
// specimens themselves.
#include "io/import_tree.hpp"
#include "shell/shell.hpp"
#include "shell/window_env.hpp"

#include <filesystem>

namespace quillan {

namespace {

constexpr const char* kTreeNameBox = "TreeNameBox";

std::string trimmed(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

}  // namespace

void Shell::load_tree() {
    const auto box = gui_->findobj_tag(kTreeNameBox);
    const std::string name = box.empty() ? std::string() : trimmed(gui_->get(box.front(), "String").text());
    const auto choice = gui_->uigetfile("*.*", "Enter tree file to Load?");
    if (!choice) return;
    take_tree(join_path(choice->folder, choice->name), name);
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
