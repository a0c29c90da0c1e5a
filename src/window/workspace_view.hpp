// The workspace as the window shows it (shell/workspace_view.hpp), on the
// window-object model: the tagged controls are found afresh each time, so
// a layout without a box simply shows less, except the file box, which the
// loads need.
#pragma once

#include "shell/workspace_view.hpp"
#include "window/gui.hpp"

namespace quillan {

class GuiWorkspaceView final : public WorkspaceView {
public:
    explicit GuiWorkspaceView(Gui& gui) : gui_(gui) {}
    void need_file_box() override;
    void show_files(const std::string& files, const std::string& tree_line) override;
    void show_legend(const std::string& summary) override;
    void offer(FactorBox box, const std::vector<std::string>& entries) override;
    void show_choice(FactorBox box, int chosen) override;
    void message(const std::string& text, const std::string& title) override { gui_.msgbox(text, title); }

private:
    Gui& gui_;
};

// The tag of the control that shows a choice of factor or covariate.
const char* factor_box_tag(FactorBox box);
// The entry a choice shows: -1 for "(none)" or when the window has no such box.
int factor_box_choice(Gui& gui, FactorBox box);

}  // namespace quillan
