#include "window/workspace_view.hpp"

#include "window/window_env.hpp"

namespace quillan {

namespace {

// The legend beside the file box, optional like the choices.
constexpr const char* kLegendBox = "LegendBox";
constexpr const char* kTreeInfo = "TreeInfo";
constexpr const char* kNone = "(none)";

}  // namespace

const char* factor_box_tag(FactorBox box) {
    switch (box) {
        case FactorBox::G1:
            return "G1Choice";
        case FactorBox::G2:
            return "G2Choice";
        case FactorBox::Covariate:
            return "CovariateChoice";
    }
    return "";
}

int factor_box_choice(Gui& gui, FactorBox box) {
    const auto found = gui.findobj_tag(factor_box_tag(box));
    if (found.empty()) return -1;
    const Value v = gui.get(found.front(), "Value");
    if (!v.is_matrix() || v.matrix().size() != 1) return -1;
    return static_cast<int>(v.scalar()) - 2;  // entry 1 is "(none)"
}

void GuiWorkspaceView::need_file_box() { static_cast<void>(find_control(gui_, kFileBox)); }

void GuiWorkspaceView::show_files(const std::string& files, const std::string& tree_line) {
    gui_.set(find_control(gui_, kFileBox), "String", Value(files));
    // The tree's line again on its own, where the window has a place for it.
    if (const auto tree_box = gui_.findobj_tag(kTreeInfo); !tree_box.empty())
        gui_.set(tree_box.front(), "String", Value(tree_line));
}

void GuiWorkspaceView::show_legend(const std::string& summary) {
    if (const auto found = gui_.findobj_tag(kLegendBox); !found.empty()) gui_.set(found.front(), "String", Value(summary));
}

void GuiWorkspaceView::offer(FactorBox box, const std::vector<std::string>& entries) {
    const auto found = gui_.findobj_tag(factor_box_tag(box));
    if (found.empty()) return;
    List list{Value(kNone)};
    for (const auto& e : entries) list.emplace_back(e);
    gui_.set(found.front(), "String", Value(list));
}

void GuiWorkspaceView::show_choice(FactorBox box, int chosen) {
    const auto found = gui_.findobj_tag(factor_box_tag(box));
    if (!found.empty()) gui_.set(found.front(), "Value", Value(static_cast<double>(chosen + 2)));
}

}  // namespace quillan
