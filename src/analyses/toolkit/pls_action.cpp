// "RunPls": two-block PLS of shape against a table of other variables of
// the same specimens (--block2 FILE: one row of numbers per specimen, in
// specimen order, separated by blanks, tabs or commas; a first line of
// names is allowed).
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/pls_report.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/side_tables.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "platform/format.hpp"

#include <filesystem>

namespace quillan {

namespace {

std::string joined_names(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t k = 0; k < names.size(); ++k) out += (k ? ", " : ": ") + names[k];
    return out;
}

// The second block's vector of each axis, a row a variable.
ReportTable vectors_table(const PlsResult& r, const std::vector<std::string>& names) {
    std::vector<ReportTable::Column> columns{{"variable", 14, true}};
    for (std::size_t j = 0; j < r.axes.size(); ++j) columns.push_back({"axis " + std::to_string(j + 1), 12});
    ReportTable table(std::move(columns));
    for (Eigen::Index v = 0; v < r.right.rows(); ++v) {
        std::vector<ReportTable::Cell> cells{
            ReportTable::words(names.empty() ? "column " + std::to_string(v + 1) : names[static_cast<std::size_t>(v)])};
        for (Eigen::Index j = 0; j < r.right.cols(); ++j) cells.push_back(ReportTable::number(r.right(v, j)));
        table.row("", std::move(cells));
    }
    return table;
}

}  // namespace

void run_pls(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const SideFile* table = env.params().side_file("block2");
    std::vector<std::string> names;
    const Eigen::MatrixXd block = block_of(table, shapes.rows(), names);
    const std::string& path = table->path;
    const long long nperm = read_nperm(env);
    if (PermutationRecorder* recorder = env.options().recorder)
        recorder->name_statistics(0, {"PLS: r-PLS of shape and the table", "PLS: r-PLS (again, as the mean of one pair)"},
                                  PValueRule::ReachedWithObserved);
    PermutationEngine engine(env.options(), &env.console());
    const PlsResult r = two_block_pls(engine, shapes, block, nperm);
    std::string text = shape_report_head(env, "Two-block PLS of shape against the table " + path);
    text += std::to_string(block.cols()) + " variable(s)" + joined_names(names) + ", centred, not scaled\n" +
            pls_method_text(nperm) + "\n" + pls_text(r);
    text += "\nThe second block's vector of each axis\n\n" + vectors_table(r, names).text();
    record_pls(env, r, "shape - table", nperm);
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        figures.pls.push_back(
            pls_figure(r, "Two-block PLS: first axis of shape and the table " + std::filesystem::path(path).filename().string(),
                       "Shape", names.size() == 1 ? names.front() : "The table", figure_groups(env)));
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
