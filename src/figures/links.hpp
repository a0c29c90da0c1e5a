// The wireframe drawn between landmarks: a links file holds one pair of
// landmark numbers (counting from 1) per line.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillan {

using Links = std::vector<std::pair<int, int>>;  // 0-based landmark pairs

// Reads a links file for shapes of `landmarks` landmarks.  Blank lines are
// skipped.  Fails naming the file and line for a line that is not two whole
// numbers, a number outside 1..landmarks, or a landmark linked to itself.
Links read_links(const std::string& path, int landmarks);
// The same for text already read; `source` names it in messages.
Links parse_links(const std::string& text, int landmarks, const std::string& source);

}  // namespace quillan
