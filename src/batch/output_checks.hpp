// Outputs checked against the inputs and against each other before any work:
// a report, export or trace written onto a file the run reads would destroy
// it, and two outputs onto one file would leave only the last.  Files are
// compared by identity (device and inode) where they exist, so another name
// of the same file (a link, "./x", "../dir/x") is caught too; files that do
// not exist yet are compared by their absolute path.
#pragma once

#include <string>
#include <vector>

namespace quillan {

// A file named on the command line, with the option that named it.
struct NamedFile {
    std::string option;  // "--out", "-l", ...
    std::string path;    // "-" is standard output (outputs only)
};

// The message that refuses the run when an output is one of the inputs or
// another output (two outputs to standard output included); empty when
// every output is a file of its own.
std::string output_clash(const std::vector<NamedFile>& inputs, const std::vector<NamedFile>& outputs);

}  // namespace quillan
