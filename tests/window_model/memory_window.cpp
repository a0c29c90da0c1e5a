#include "window_model/memory_window.hpp"

#include "window/window_env.hpp"

namespace quillan {

Handle build_memory_window(MemoryGui& gui) {
    const Handle fig = gui.create("figure", kRoot,
                                  {{"position", Value(matrix_from_rows({{100, 100, 1000, 700}}))},
                                   {"outerposition", Value(matrix_from_rows({{96, 96, 1008, 728}}))},
                                   {"activepositionproperty", Value("outerposition")},
                                   {"Color", Value(matrix_from_rows({{0.94, 0.94, 0.94}}))}});
    List entries;
    for (const auto& e : covariate_model_entries()) entries.emplace_back(e);
    gui.create("uicontrol", fig, {{"tag", Value(kFileBox)}, {"style", Value("text")}, {"String", Value("")}});
    gui.create("uicontrol", fig, {{"tag", Value(kPermBox)}, {"style", Value("edit")}, {"String", Value(kDefaultPermutations)}});
    gui.create("uicontrol", fig,
               {{"tag", Value(kCovBox)}, {"style", Value("popupmenu")}, {"String", Value(entries)}, {"Value", Value(1.0)}});
    gui.create("uicontrol", fig, {{"tag", Value(kResultsBox)}, {"style", Value("listbox")}, {"String", Value("")}});
    return fig;
}

}  // namespace quillan
