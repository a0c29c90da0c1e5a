// A side file of an analysis as it was read: the words of each line that
// holds any, with the line's number, and the fingerprint of the bytes.  The
// reading (io::read_side_file) lives with the other readers; what the words
// mean (a partition's labels, a table's numbers, pairs of landmarks) is the
// analysis's, so this plain type is all the two share.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace quillan {

struct SideLine {
    int line = 0;                    // 1-based, in the file as written
    std::vector<std::string> words;  // never empty: lines without words are left out
};

struct SideFile {
    std::string path;    // as given, for messages
    std::string sha256;  // of the bytes read, for the record of the run
    std::vector<SideLine> lines;
};

// The side files of one run by the option that named them, without its
// dashes ("partition", "block2", "land-pairs").
using SideFiles = std::map<std::string, SideFile>;

}  // namespace quillan
