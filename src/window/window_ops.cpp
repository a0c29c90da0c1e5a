// Adapters of the window utilities for calls by name: openfig, guihandles,
// guidata, movegui, isvarname and iskeyword.
#include "platform/error.hpp"
#include "window/operations.hpp"
#include "window/window_utils.hpp"

namespace quillan {

namespace {
using Args = std::vector<Value>;
}

void add_window_ops(OpImpls& impls, Gui& gui) {
    impls["openfig"] = [&gui](const Args& args, int) -> Args {
        const std::string& filename = arg_text(args, 0, "openfig");
        if (args.size() < 2) return {Value(openfig(gui, filename))};
        return {Value(openfig(gui, filename, arg_text(args, 1, "openfig")))};
    };
    impls["movegui"] = [&gui](const Args& args, int) -> Args {
        movegui(gui, args);
        return {};
    };
    impls["guihandles"] = [&gui](const Args& args, int) -> Args {
        if (args.empty()) return {Value(guihandles(gui))};
        return {Value(guihandles(gui, args[0]))};
    };
    impls["guidata"] = [&gui](const Args& args, int nargout) -> Args {
        if (args.empty()) throw QuillanError("Not enough input arguments to guidata.");
        if (args.size() == 1) return {guidata(gui, args[0])};
        // Storing hands nothing back.
        if (nargout > 0) throw QuillanError(too_many_outputs_text("guidata", 1, 0));
        guidata(gui, args[0], args[1]);
        return {};
    };
    impls["isvarname"] = [](const Args& args, int) -> Args {
        if (args.empty()) throw QuillanError("Not enough input arguments to isvarname.");
        return {Value(isvarname(args[0]) ? 1.0 : 0.0)};
    };
    impls["iskeyword"] = [](const Args& args, int) -> Args {
        if (args.empty()) {
            List words;
            for (const auto& k : keywords()) words.emplace_back(k);
            return {Value(words)};
        }
        return {Value(args[0].is_text() && iskeyword(args[0].text()) ? 1.0 : 0.0)};
    };
}

}  // namespace quillan
