// Import and export, rows of the action table beside the loads: reading landmark data written by
// other programs into the workspace, choosing which of its factors are the
// grouping variables, and writing the numbers of the last report and the
// per-specimen table.  A refused import or export changes nothing.
#include "analyses/common.hpp"
#include "analyses/covariates/covariate.hpp"
#include "analyses/linear_models/size_correction.hpp"
#include "analyses/process_team.hpp"
#include "io/choice_notes.hpp"
#include "io/output.hpp"
#include "io/results.hpp"
#include "io/specimens.hpp"
#include "platform/format.hpp"
#include "platform/sha256.hpp"
#include "shell/action_table.hpp"
#include "shell/companions.hpp"
#include "shell/runner.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>
#include <tuple>
#include <utility>

namespace quillan {

namespace {

std::string file_name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// The centroid sizes an import puts after the coordinates: a covariate like
// any column of numbers (shape on size, allometry), offered under this name.

}  // namespace

void add_centroid_size(io::Legend& legend, const Matrix& landmarks) {
    const auto& numbers = legend.numbers;
    const bool named = std::any_of(numbers.begin(), numbers.end(),
                                   [](const auto& n) { return io::lower(io::trim(n.name)) == io::lower(io::kCentroidSize); });
    if (named || landmarks.cols() == 0) return;
    const Eigen::VectorXd size = landmarks.col(landmarks.cols() - 1);
    legend.numbers.push_back({io::kCentroidSize, std::vector<double>(size.data(), size.data() + size.size()), {}});
}

void drop_centroid_size(io::Legend& legend) {
    std::erase_if(legend.numbers, [&](const auto& n) {
        return n.name == io::kCentroidSize && (n.path.empty() || n.path == legend.source);  // not a factor table's column
    });
    if (legend.covariate == io::kCentroidSize) legend.covariate.clear();
}

namespace {

std::string group_info(const std::string& name, const Matrix& g) {
    return format_expand_reuse("\nGroup File: %s with %i specimens, % i group variables\n",
                               {name, static_cast<double>(g.rows()), static_cast<double>(g.cols())});
}

std::string covariate_info(const std::string& name, const Matrix& c) {
    return format_expand_reuse("\nCovariate File: %s with %i specimens", {name, static_cast<double>(c.rows())});
}

}  // namespace

void Runner::import_file(const std::string& path, const io::ImportOptions& options) {
    // Read everything first: a refused file changes nothing.
    apply_import(io::import_naming_choices(path, options));
}

void Runner::apply_import(const io::ImportedData& d) {
    need_file_box();
    ws_.landmarks = d.landmarks;
    ws_.dimensions = d.dimensions;
    ws_.landmarks_info = data_file_info(d.name, d.landmarks, d.dimensions);
    const std::string steps = d.legend.steps.description(d.legend.ids);
    if (!steps.empty()) ws_.landmarks_info += steps + "\n";
    origin_.landmarks_path = d.path;
    origin_.outliers_left_out.clear();
    const bool groups_new = d.groups.size() > 0, covariate_new = d.covariate.size() > 0;
    // Groups and a covariate taken from a factor table are that table's:
    // the file box and the exports name it.
    if (groups_new) {
        ws_.groups = d.groups;
        origin_.groups_ids = d.legend.ids;
        origin_.groups_path = d.legend.groups_file();
        ws_.groups_info = group_info(file_name(origin_.groups_path), d.groups);
    }
    if (covariate_new) {
        ws_.covariate = d.covariate;
        origin_.covariate_ids = d.legend.ids;
        origin_.covariate_path = d.legend.numbers_file(d.legend.covariate);
        ws_.covariate_info = covariate_info(file_name(origin_.covariate_path), d.covariate);
    }
    io::Legend before = std::exchange(origin_.legend, d.legend);
    drop_centroid_size(before);  // the sizes of the landmarks replaced go with them
    // The boxes offer the import's factors from now on.
    origin_.group_columns = Matrix();
    origin_.column_choice.clear();
    keep_matching_companions(d.name, groups_new, covariate_new, before);
    add_centroid_size(origin_.legend, ws_.landmarks);
    report_import(d);
    offer_legend_columns();
    show_legend();
}

void Runner::report_import(const io::ImportedData& d) {
    const double m = static_cast<double>(d.landmarks.rows()), n = static_cast<double>(d.landmarks.cols());
    console_.line(format_expand_reuse("Imported %s: %i specimens, %i landmarks%s",
                                      {d.name, m, (n - 1) / d.dimensions, d.dimensions == 3 ? " in 3-D" : ""}));
    const std::string legend = d.legend.summary();
    if (!legend.empty()) console_.line(legend.substr(0, legend.size() - 1));
    for (const auto& notice : d.notices) console_.line(notice);
    for (const auto& warning : d.warnings) {
        console_.line(warning);
        tell(warning, "Possible error");
    }
}

// The G1, G2 and covariate boxes offer the legend's factors and numeric
// columns, showing those in use.
void Runner::offer_legend_columns() {
    if (!view_) return;
    std::vector<std::string> factors, numbers;
    for (const auto& f : origin_.legend.factors) factors.push_back(f.name);
    int cov = -1;
    for (std::size_t i = 0; i < origin_.legend.numbers.size(); ++i) {
        numbers.push_back(origin_.legend.numbers[i].name);
        if (origin_.legend.numbers[i].name == origin_.legend.covariate) cov = static_cast<int>(i);
    }
    const std::vector<int>& chosen = origin_.legend.chosen;
    const std::tuple<FactorBox, const std::vector<std::string>*, int> boxes[] = {
        {FactorBox::G1, &factors, chosen.size() > 0 ? chosen[0] : -1},
        {FactorBox::G2, &factors, chosen.size() > 1 ? chosen[1] : -1},
        {FactorBox::Covariate, &numbers, cov}};
    for (const auto& [box, entries, shown] : boxes) {
        view_->offer(box, *entries);
        view_->show_choice(box, shown);
    }
}

namespace {

std::string column_key(const std::string& name) { return io::lower(io::trim(name)); }

// The specimens as the factor table is matched to them: their IDs alone
// (the coordinates play no part), read by the same merge as
// quillan-batch --factors, which refuses IDs missing from the table or
// repeated, naming them.
io::ImportedData factor_table_columns(const io::Legend& legend, const std::string& landmarks_path, const io::TextFile& table,
                                      const std::string& id_column) {
    io::SpecimenTable t;
    t.path = landmarks_path;
    t.name = file_name(landmarks_path);
    t.ids = legend.ids;
    t.landmarks = 2;
    const std::size_t m = legend.ids.size();
    t.lines.assign(m, 0);
    t.id_lines.assign(m, 0);
    t.coords.assign(m, std::vector<double>{0, 0, 1, 0});
    t.sizes.assign(m, std::nullopt);
    io::ImportOptions options;
    options.id_column = id_column;
    options.offer_incomplete = true;
    return io::assemble(std::move(t), options, &table);
}

// `now` with the entries of `added` after those it keeps: an entry of
// `added` replaces one of the same name.  `kept[i]` is where entry i of
// `now` went (-1: replaced).
template <class T>
std::vector<T> merged(const std::vector<T>& now, const std::vector<T>& added, std::vector<int>& kept) {
    std::set<std::string> names;
    for (const T& a : added) names.insert(column_key(a.name));
    std::vector<T> out;
    kept.clear();
    for (const T& x : now) {
        kept.push_back(names.count(column_key(x.name)) ? -1 : static_cast<int>(out.size()));
        if (kept.back() >= 0) out.push_back(x);
    }
    out.insert(out.end(), added.begin(), added.end());
    return out;
}

}  // namespace

void Runner::attach_factor_table(const std::string& path, const std::string& id_column) {
    const io::TextFile table = io::read_text_file(path);
    const std::string data = file_name(origin_.landmarks_path);
    io::Legend& legend = origin_.legend;
    const auto m = static_cast<std::size_t>(ws_.landmarks.rows());
    const std::string what = "The table " + table.name +
                             " names its columns: it is a table of factors, matched to the "
                             "specimens by their IDs";
    if (m == 0) throw QuillanError(what + ", and no landmarks are loaded. Import the landmarks first. Nothing was loaded.");
    if (legend.ids.size() != m || std::any_of(legend.ids.begin(), legend.ids.end(), [](const auto& id) { return id.empty(); }))
        throw QuillanError(what + ", and the specimens of " + data +
                           " carry no IDs. Import landmarks with their IDs (a TPS file's ID= lines, the ID column of a "
                           "table), or load a group file of codes, one line a specimen in the order of the landmarks. "
                           "Nothing was loaded.");
    const io::ImportedData d = factor_table_columns(legend, origin_.landmarks_path, table, id_column);
    need_file_box();
    std::vector<int> kept;
    legend.numbers = merged(legend.numbers, d.legend.numbers, kept);
    const auto table_number = std::find_if(d.legend.numbers.begin(), d.legend.numbers.end(),
                                           [&](const auto& n) { return column_key(n.name) == column_key(legend.covariate); });
    if (!legend.covariate.empty() && table_number != d.legend.numbers.end()) {
        // The covariate in use is the table's column of that name from now on.
        ws_.covariate = Eigen::Map<const Matrix>(table_number->values.data(), static_cast<Eigen::Index>(m), 1);
        origin_.covariate_ids = legend.ids;
        origin_.covariate_path = path;
        ws_.covariate_info = covariate_info(table.name, ws_.covariate);
    }
    std::vector<int> chosen = legend.chosen;
    legend.factors = merged(legend.factors, d.legend.factors, kept);
    legend.chosen.clear();
    for (const int c : chosen)
        if (kept[static_cast<std::size_t>(c)] >= 0) legend.chosen.push_back(kept[static_cast<std::size_t>(c)]);
    // The table's own first factors are the grouping variables, as after an import.
    const int first = static_cast<int>(legend.factors.size() - d.legend.factors.size());
    if (!d.legend.chosen.empty()) legend.chosen.clear();
    for (const int c : d.legend.chosen) legend.chosen.push_back(first + c);
    origin_.group_columns = Matrix();
    origin_.column_choice.clear();
    if (!d.legend.chosen.empty()) {
        ws_.groups = legend.group_table();
        origin_.groups_ids = legend.ids;
        origin_.groups_path = path;
        ws_.groups_info = with_pairing_line(group_info(table.name, ws_.groups), CompanionPairing::Kind::ById, data);
    }
    console_.line(
        format_expand_reuse("Factor table %s: %i factors and %i columns of numbers, matched by specimen ID to the %i "
                            "specimens of %s",
                            {table.name, static_cast<double>(d.legend.factors.size()),
                             static_cast<double>(d.legend.numbers.size()), static_cast<double>(m), data}));
    show_files();
    offer_legend_columns();
    show_legend();
}

// A group file of one or two columns offers them in the G1 and G2 boxes,
// showing those in use, so that a one-way test of either column is one
// choice away and the boxes never say "(none)" of a grouping the tests use.
void Runner::offer_group_columns(const Matrix& table) {
    const bool offered = choosing_columns();
    origin_.group_columns = table.cols() == 1 || table.cols() == 2 ? table : Matrix();
    origin_.column_choice.clear();
    if (!choosing_columns() && !offered) return;
    // Columns of a file loaded before are no longer on offer.
    std::vector<std::string> entries;
    for (int j = 0; j < static_cast<int>(origin_.group_columns.cols()); ++j) {
        origin_.column_choice.push_back(j);
        entries.push_back("column " + std::to_string(j + 1));
    }
    if (view_)
        for (const FactorBox box : {FactorBox::G1, FactorBox::G2}) view_->offer(box, entries);
    show_chosen_factors();
}

// A refused choice does not stay on show: the boxes go back to the
// grouping in use.
void Runner::refuse_bad_grouping_pair(int g1, int g2) {
    if (g1 < 0 && g2 >= 0) {
        show_chosen_factors();
        throw QuillanError("Choose G1 before G2: a single grouping variable is always G1.");
    }
    if (g1 >= 0 && g1 == g2) {
        show_chosen_factors();
        throw QuillanError("G1 and G2 must be different factors.");
    }
}

void Runner::choose_group_columns(int g1, int g2) {
    swap_same_factor(g1, g2);
    refuse_bad_grouping_pair(g1, g2);
    if (g1 < 0) {
        show_chosen_factors();
        throw QuillanError("G1 takes a column of the group file " + file_name(origin_.groups_path) + ".");
    }
    need_file_box();
    std::vector<int> chosen{g1};
    if (g2 >= 0) chosen.push_back(g2);
    Matrix g(origin_.group_columns.rows(), static_cast<Eigen::Index>(chosen.size()));
    for (std::size_t j = 0; j < chosen.size(); ++j) g.col(static_cast<Eigen::Index>(j)) = origin_.group_columns.col(chosen[j]);
    ws_.groups = g;
    ws_.groups_info = group_info(file_name(origin_.groups_path), g);
    origin_.column_choice = chosen;
    show_files();
}

void Runner::choose_groups(int g1, int g2, int cov, bool leave_out_missing) {
    io::Legend& legend = origin_.legend;
    if (choosing_columns()) return choose_group_columns(g1, g2);
    if (legend.source.empty()) throw QuillanError("Import a file first: the grouping variables are chosen among its columns.");
    swap_same_factor(g1, g2);
    refuse_bad_grouping_pair(g1, g2);
    const int nf = static_cast<int>(legend.factors.size()), nn = static_cast<int>(legend.numbers.size());
    if (g1 >= nf || g2 >= nf || cov >= nn)
        throw QuillanError("The choice does not match the imported file's columns; import it again.");

    need_file_box();
    std::vector<int> chosen;
    if (g1 >= 0) chosen.push_back(g1);
    if (g2 >= 0) chosen.push_back(g2);
    leave_out_unvalued(chosen, leave_out_missing);
    legend.chosen = chosen;
    if (!chosen.empty()) {
        ws_.groups = legend.group_table();
        origin_.groups_ids = legend.ids;
        origin_.groups_path = legend.groups_file();
        ws_.groups_info = group_info(file_name(origin_.groups_path), ws_.groups);
    }
    if (cov >= 0) {
        const auto& column = legend.numbers[static_cast<std::size_t>(cov)];
        Matrix c(static_cast<Eigen::Index>(column.values.size()), 1);
        for (std::size_t i = 0; i < column.values.size(); ++i) c(static_cast<Eigen::Index>(i), 0) = column.values[i];
        ws_.covariate = c;
        origin_.covariate_ids = legend.ids;
        origin_.covariate_path = column.path.empty() ? legend.source : column.path;
        ws_.covariate_info = covariate_info(file_name(origin_.covariate_path), c);
        legend.covariate = legend.numbers[static_cast<std::size_t>(cov)].name;
    } else if (!legend.covariate.empty()) {
        // The imported covariate is no longer wanted.
        ws_.covariate = Matrix();
        ws_.covariate_info.clear();
        origin_.covariate_path.clear();
        legend.covariate.clear();
    }
    show_files();
    show_legend();
}

// Choosing for one grouping variable the factor the other holds swaps them:
// the other takes the factor the first one had.
void Runner::swap_same_factor(int& g1, int& g2) {
    if (g1 < 0 || g1 != g2) return;
    const auto& was = chosen_now();
    const int old1 = was.size() > 0 ? was[0] : -1, old2 = was.size() > 1 ? was[1] : -1;
    if (g1 != old1) g2 = old1;       // G1 took G2's factor
    else if (g2 != old2) g1 = old2;  // G2 took G1's factor
    if (g1 < 0 && g2 >= 0) std::swap(g1, g2);
    if (!view_) return;
    view_->show_choice(FactorBox::G1, g1);
    view_->show_choice(FactorBox::G2, g2);
}

void Runner::show_chosen_factors() {
    if (!view_) return;
    const auto& chosen = chosen_now();
    view_->show_choice(FactorBox::G1, chosen.size() > 0 ? chosen[0] : -1);
    view_->show_choice(FactorBox::G2, chosen.size() > 1 ? chosen[1] : -1);
}

void Runner::keep_record(ActionEnv& env, const RunRequest& request) {
    ResultRecord rec = env.record();
    RunInfo& r = rec.run;
    r.action = request.action->name;
    r.statistics = request.action->statistics;
    r.date = io::utc_now();
    const std::pair<const char*, const std::string*> inputs[] = {{"landmarks", &origin_.landmarks_path},
                                                                 {"groups", &origin_.groups_path},
                                                                 {"covariate", &origin_.covariate_path},
                                                                 {"tree", &origin_.tree_path},
                                                                 {"links", &request.links_file}};
    for (const auto& [role, path] : inputs)
        if (!path->empty()) r.inputs.push_back({role, file_name(*path), *path, sha256_of_file(*path)});
    // The side files with the digest of the bytes the analysis read.
    for (const auto& [option, file] : env.params().side_files)
        r.inputs.push_back({option, file_name(file.path), file.path, file.sha256});
    r.specimens = ws_.landmarks.rows();
    r.landmarks = ws_.landmarks.cols() > 0 ? (ws_.landmarks.cols() - 1) / ws_.dimensions : 0;
    record_import_steps(r);
    r.left_out_as_outliers = origin_.outliers_left_out;
    for (Eigen::Index j = 0; j < ws_.groups.cols(); ++j) {
        RunInfo::Grouping g;
        const std::size_t uj = static_cast<std::size_t>(j);
        const bool named = uj < origin_.legend.chosen.size() &&
                           origin_.legend.factors[static_cast<std::size_t>(origin_.legend.chosen[uj])].codes.size() ==
                               static_cast<std::size_t>(ws_.groups.rows());
        if (named) {
            const io::Factor& f = origin_.legend.factors[static_cast<std::size_t>(origin_.legend.chosen[uj])];
            g.name = f.name;
            g.levels = f.levels;
        } else {
            g.name = std::to_string(j + 1);
            g.name.insert(g.name.begin(), 'G');  // not "G" + ...: GCC 12 warns falsely of overlap there
            std::vector<double> seen;
            for (Eigen::Index i = 0; i < ws_.groups.rows(); ++i)
                if (std::find(seen.begin(), seen.end(), ws_.groups(i, j)) == seen.end()) seen.push_back(ws_.groups(i, j));
            for (double c : seen) g.levels.push_back(io::number_text(c));
        }
        r.groups.push_back(std::move(g));
    }
    r.covariate_name = !origin_.legend.covariate.empty()
                           ? origin_.legend.covariate
                           : (origin_.covariate_path.empty() ? "" : file_name(origin_.covariate_path));
    try {
        const int model = static_cast<int>(request.params.covariate.get());
        r.covariate_model = model;
        r.covariate_model_name = covariate_model_entries()[static_cast<std::size_t>(model) - 1];
    } catch (const QuillanError&) {
        r.covariate_model = 0;
    }
    const RunOptions& o = request.run;
    r.seeded = o.seed.has_value();
    r.threads = o.threads > 0 ? o.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    r.processes = o.team ? o.team->size() : 1;
    last_record_ = std::move(rec);
}

// The record names what the import estimated and slid, while the landmarks
// in use are still the imported ones.
void Runner::record_import_steps(RunInfo& r) const {
    const io::ImportSteps& steps = origin_.legend.steps;
    if (origin_.landmarks_path != origin_.legend.source) return;
    r.estimate_method = steps.estimate_method;
    for (const auto& [s, landmark] : steps.estimated) {
        const std::size_t i = static_cast<std::size_t>(s - 1);
        r.estimated.push_back({s, i < origin_.legend.ids.size() ? origin_.legend.ids[i] : std::to_string(s), landmark});
    }
    r.slide_criterion = steps.slide_criterion;
    r.semilandmarks = steps.semilandmarks;
    r.sliders = steps.sliders;
    r.slide_iterations = steps.iterations;
    r.slide_converged = steps.converged;
    r.left_out = steps.left_out;
}

void Runner::remind_estimates() {
    const io::ImportSteps& steps = origin_.legend.steps;
    if (steps.estimated.empty() || origin_.landmarks_path != origin_.legend.source) return;
    console_.line("These results rest on " + std::to_string(steps.estimated.size()) + " estimated landmarks (" +
                  steps.estimate_method + "); see the data line of the report.");
}

void Runner::write_results(const std::string& path, bool csv) { io::write_output(path, results_export(csv)); }

std::string Runner::results_export(bool csv) const {
    if (last_record_.empty()) throw QuillanError("There is no report to export yet: run an analysis first. Nothing was written.");
    return csv ? io::results_csv(last_record_) : io::results_json(last_record_);
}

void Runner::write_specimens(const std::string& path, CovariateChoice model, const std::optional<SizeModel>& size) {
    io::write_output(path, specimens_export(model, alignment_, size));
}

std::string Runner::specimens_export(CovariateChoice choice, Alignment alignment, const std::optional<SizeModel>& size) {
    if (ws_.landmarks.size() == 0)
        throw QuillanError("No landmark file is loaded: load or import one first. Nothing was written.");
    io::SpecimenExport e;
    e.landmarks = &ws_.landmarks;
    e.dimensions = ws_.dimensions;
    e.groups = &ws_.groups;
    e.covariate = &ws_.covariate;
    e.legend = origin_.landmarks_path == origin_.legend.source ? &origin_.legend : nullptr;
    e.partial = alignment == Alignment::Partial;
    Eigen::MatrixXd size_design_x;
    if (size) {
        const auto name = [this](Eigen::Index row) {
            const auto& ids = origin_.legend.ids;
            const auto i = static_cast<std::size_t>(row);
            return ids.size() == static_cast<std::size_t>(ws_.landmarks.rows()) && !ids[i].empty()
                       ? ids[i]
                       : "specimen " + std::to_string(row + 1);
        };
        size_design_x = size_design(*size, loaded_variables(), ws_.landmarks, name).design.x;
        e.size_design = &size_design_x;
    }
    // With a covariate model chosen, the standardised shapes come too.
    std::optional<CovariateModel> model;
    if (choice != CovariateChoice::None) {
        model = apply_covariate_model(ws_, control_words_, console_, choice, standardisation_value(ws_), ws_.groups.cols() > 1);
        e.standardised = &model->xdata;
        e.covariate_model = static_cast<int>(choice);
    }
    return io::specimens_csv(e);
}

}  // namespace quillan
