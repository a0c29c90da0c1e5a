// The wireframe drawn between landmarks: a links file holds one pair of
// landmark numbers (counting from 1) per line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillan {

using Links = std::vector<std::pair<int, int>>;  // 0-based landmark pairs

// Landmarks the pictures draw apart from the others: semilandmarks (smaller,
// and joined along their curves) and the landmarks estimated at gaps.
struct LandmarkMarks {
    std::vector<int> semilandmarks;              // 0-based landmarks
    Links curves;                                // each slider joined to its neighbours
    std::vector<std::pair<int, int>> estimated;  // 0-based specimen and landmark
    bool empty() const { return semilandmarks.empty() && estimated.empty(); }
};

// The pairs of a links file's text (io::read_links_file reads the file),
// for shapes of `landmarks` landmarks.  Blank lines are skipped.  Fails
// naming `source` and the line for a line that is not two whole numbers, a
// number outside 1..landmarks, or a landmark linked to itself.
Links parse_links(const std::string& text, int landmarks, const std::string& source);

}  // namespace quillan
