// "RunPls": two-block PLS of shape against a table of other variables of
// the same specimens (--block2 FILE: one row of numbers per specimen, in
// specimen order, separated by blanks, tabs or commas; a first line of
// names is allowed).
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/pls_report.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/two_block_pls.hpp"
#include "platform/capped_read.hpp"
#include "platform/format.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

namespace quillan {

namespace {

std::vector<std::string> cells_of(std::string line) {
    std::replace(line.begin(), line.end(), ',', ' ');
    std::replace(line.begin(), line.end(), '\t', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    std::istringstream in(line);
    std::vector<std::string> cells;
    for (std::string c; in >> c;) cells.push_back(c);
    return cells;
}

bool is_number(const std::string& cell, double& v) {
    std::istringstream in(cell);
    return static_cast<bool>(in >> v) && in.peek() == std::char_traits<char>::eof() && std::isfinite(v);
}

// The table of --block2, checked against the number of specimens.
Eigen::MatrixXd read_block(const std::string& path, Eigen::Index specimens, std::vector<std::string>& names) {
    if (path.empty())
        throw Refused(
            "A PLS of shape needs a second block: give its table with --block2 FILE, or in the Second block box of the Toolkit "
            "page.");
    const std::vector<std::string> lines = split_lines(read_file_capped(path, {}, "Nothing was analysed."));
    std::vector<std::vector<double>> rows;
    for (std::size_t l = 0; l < lines.size(); ++l) {
        const std::vector<std::string> cells = cells_of(lines[l]);
        if (cells.empty()) continue;
        std::vector<double> row(cells.size());
        bool numeric = true;
        for (std::size_t c = 0; c < cells.size(); ++c) numeric = numeric && is_number(cells[c], row[c]);
        if (!numeric && rows.empty() && names.empty()) {
            names = cells;
            continue;
        }
        const std::string where = "The table " + path + ", line " + std::to_string(l + 1);
        if (!numeric) throw Refused(where + ", holds something that is not a number: \"" + quoted_snippet(lines[l]) + "\".");
        if (!rows.empty() && row.size() != rows.front().size())
            throw Refused(where + ", has " + std::to_string(row.size()) + " values; the lines before it have " +
                          std::to_string(rows.front().size()) + ".");
        rows.push_back(std::move(row));
    }
    if (static_cast<Eigen::Index>(rows.size()) != specimens)
        throw Refused("The table " + path + " has " + std::to_string(rows.size()) + " rows of numbers, but " +
                      std::to_string(specimens) + " specimens are loaded: give one row per specimen, in their order.");
    Eigen::MatrixXd block(specimens, static_cast<Eigen::Index>(rows.front().size()));
    for (Eigen::Index i = 0; i < block.rows(); ++i)
        for (Eigen::Index j = 0; j < block.cols(); ++j)
            block(i, j) = rows[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)];
    for (Eigen::Index j = 0; j < block.cols(); ++j)
        if (block.col(j).maxCoeff() == block.col(j).minCoeff())
            throw Refused("Column " + std::to_string(j + 1) + " of the table " + path +
                          " has the same value for every specimen; it cannot covary with shape.");
    if (names.size() != static_cast<std::size_t>(block.cols())) names.clear();
    return block;
}

std::string joined_names(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t k = 0; k < names.size(); ++k) out += (k ? ", " : ": ") + names[k];
    return out;
}

}  // namespace

void run_pls(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const std::string& path = env.settings().file("block2");
    std::vector<std::string> names;
    const Eigen::MatrixXd block = read_block(path, shapes.rows(), names);
    const long long nperm = read_nperm(env);
    if (PermutationRecorder* recorder = env.options().recorder)
        recorder->name_statistics(0, {"PLS: r-PLS of shape and the table", "PLS: r-PLS (again, as the mean of one pair)"},
                                  PValueRule::ReachedWithObserved);
    PermutationEngine engine(env.options(), &env.console());
    const PlsResult r = two_block_pls(engine, shapes, block, nperm);
    std::string text = shape_report_head(env, "Two-block PLS of shape against the table " + path);
    text += std::to_string(block.cols()) + " variable(s)" + joined_names(names) + ", centred, not scaled\n" +
            pls_method_text(nperm) + "\n" + pls_text(r);
    text += "\nThe second block's vector of each axis\n\n" + padded("variable", 14, true);
    for (std::size_t j = 0; j < r.axes.size(); ++j) text += padded("axis " + std::to_string(j + 1), 12);
    text += "\n";
    for (Eigen::Index v = 0; v < r.right.rows(); ++v) {
        text += padded(names.empty() ? "column " + std::to_string(v + 1) : names[static_cast<std::size_t>(v)], 14, true);
        for (Eigen::Index j = 0; j < r.right.cols(); ++j) text += padded(shown(r.right(v, j)), 12);
        text += "\n";
    }
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
