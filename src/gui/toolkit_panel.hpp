// The Toolkit page of the main window: the shape analyses beside the tests
// of groups (outliers, disparity, canonical variates, integration, two-block
// PLS, modularity, symmetry).  Its boxes are bound to those analyses'
// options by their "option" property (see option_binder.hpp), so a new
// analysis needs only its button and its boxes there; this panel adds the
// Browse buttons beside the file boxes.
#pragma once

class QWidget;

namespace quillan {

class ToolkitPanel {
public:
    // Attaches to the toolkitPage controls of `window`; without them (an
    // older layout file) the panel does nothing.
    explicit ToolkitPanel(QWidget* window);

    bool attached() const { return attached_; }

private:
    bool attached_ = false;
};

}  // namespace quillan
