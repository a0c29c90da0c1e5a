#include "shell/side_inputs.hpp"

#include "io/side_files.hpp"

namespace quillan {

SideFiles side_files_of(const RunRequest& request) {
    SideFiles files;
    if (!request.action) return files;
    // Every input file the action's row declares, read as the other inputs are.
    for (const OptionDecl& o : request.action->options) {
        if (o.kind != OptionKind::InputFile || !request.params.options.has(o.name)) continue;
        const std::string& path = request.params.options.file(o.name);
        if (path.empty()) continue;
        const std::string what = *o.noun ? std::string(o.noun) : "The file of " + option_flag(o);
        files.emplace(o.name, io::read_side_file(path, what));
    }
    return files;
}

}  // namespace quillan
