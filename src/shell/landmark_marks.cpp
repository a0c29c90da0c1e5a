#include "shell/landmark_marks.hpp"

namespace quillan {

LandmarkMarks landmark_marks(const Runner& shell) {
    LandmarkMarks marks;
    const io::ImportSteps& steps = shell.legend().steps;
    if (shell.loaded_paths().landmarks != shell.legend().source) return marks;
    for (int j : steps.semilandmarks) marks.semilandmarks.push_back(j - 1);
    for (const auto& s : steps.sliders) {
        marks.curves.emplace_back(s[0] - 1, s[1] - 1);
        marks.curves.emplace_back(s[1] - 1, s[2] - 1);
    }
    for (const auto& [specimen, landmark] : steps.estimated) marks.estimated.emplace_back(specimen - 1, landmark - 1);
    return marks;
}

Links imported_wireframe(const Runner& shell) {
    const io::Legend& legend = shell.legend();
    const Workspace& ws = shell.workspace();
    const Eigen::Index landmarks = ws.landmarks.cols() > 0 ? (ws.landmarks.cols() - 1) / ws.dimensions : 0;
    if (shell.loaded_paths().landmarks != legend.source || landmarks != legend.wireframe_landmarks) return {};
    return legend.wireframe;
}

}  // namespace quillan
