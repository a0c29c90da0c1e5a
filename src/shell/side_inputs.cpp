#include "shell/side_inputs.hpp"

#include "io/side_files.hpp"

namespace quillan {

SideFiles side_files_of(const RunRequest& request) {
    struct Side {
        const char* option;
        const char* what;  // how messages name it
        std::string ShapeRequest::*path;
    };
    static const Side sides[] = {{"partition", "The partition file", &ShapeRequest::partition},
                                 {"block2", "The table", &ShapeRequest::block2},
                                 {"land-pairs", "The land pairs file", &ShapeRequest::land_pairs}};
    SideFiles files;
    if (!request.action) return files;
    for (const Side& side : sides) {
        const std::string& path = request.params.model.shape.*side.path;
        if (!path.empty() && request.action->takes_option(std::string("--") + side.option))
            files.emplace(side.option, io::read_side_file(path, side.what));
    }
    return files;
}

}  // namespace quillan
