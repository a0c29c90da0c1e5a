// What a window shows of the workspace, as the runner tells it.  The runner
// changes the workspace and says what changed; how it is shown (the file
// box, the legend, the G1, G2 and covariate boxes, message windows) is the
// window's business (window/workspace_view.cpp).  Without a view (batch, the
// library entry) nothing is shown and messages go through the run's channel.
#pragma once

#include <string>
#include <vector>

namespace quillan {

// The three choices of the grouping variables and the covariate an import
// or a two-column group file offers.
enum class FactorBox { G1, G2, Covariate };

class WorkspaceView {
public:
    virtual ~WorkspaceView() = default;
    // Called before a load changes anything: refuses (throws) when the
    // window has no place to show the files.
    virtual void need_file_box() = 0;
    // The file box's text, and the tree's line on its own ("No tree
    // loaded." when none is).
    virtual void show_files(const std::string& files, const std::string& tree_line) = 0;
    // The legend: the import's IDs, factors and columns of numbers.
    virtual void show_legend(const std::string& summary) = 0;
    // A box's entries, "(none)" first, the entries after it.
    virtual void offer(FactorBox box, const std::vector<std::string>& entries) = 0;
    // The entry shown as chosen: -1 for "(none)", else the index of the entry.
    virtual void show_choice(FactorBox box, int chosen) = 0;
    virtual void message(const std::string& text, const std::string& title) = 0;
};

}  // namespace quillan
