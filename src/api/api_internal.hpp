// The pieces of the library entry behind its header: the words of a
// command line made from a request, and landmark data to and from the
// import's tables.
#pragma once

#include "api/quillan_api.hpp"
#include "io/import.hpp"

#include <string>
#include <vector>

namespace quillan::api {

// The words of a command line, held with the pointers CLI11 reads.
class CommandLine {
public:
    explicit CommandLine(std::vector<std::string> words);
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;
    int argc() const { return static_cast<int>(pointers_.size()); }
    char** argv() { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};

// quillan-batch's command line for `action` with `options`, each of which
// must be among `allowed` (a flag given "true" or "false"); throws
// Error{Usage} otherwise.  An empty action makes a line without one.
std::vector<std::string> command_words(const std::string& action, const std::vector<Option>& options,
                                       const std::vector<OptionInfo>& allowed);
// Every option a run takes: the run's own the entry offers, then the actions'.
std::vector<OptionInfo> run_and_action_options();

// Landmark data as the specimens of an import, checked for the sizes it
// claims; throws Error{Usage} naming what does not fit.
io::SpecimenTable specimen_table(const Data& data);
// An import's tables as landmark data.
Data data_of(const io::ImportedData& imported);

}  // namespace quillan::api
