#include "shell/runner.hpp"

#include "analyses/action_env.hpp"
#include "analyses/common.hpp"
#include "platform/format.hpp"
#include "shell/dimension_hints.hpp"
#include "shell/input_checks.hpp"
#include "shell/side_inputs.hpp"

#include <algorithm>
#include <new>
#include <tuple>
#include <utility>

namespace quillan {

void Runner::set_file_box(const std::string& text) {
    file_box_ = text;
    if (!view_) return;
    const std::string& info = ws_.tree_info;
    const auto a = info.find_first_not_of(" \n"), b = info.find_last_not_of(" \n");
    view_->show_files(text, ws_.tree && a != std::string::npos ? info.substr(a, b - a + 1) : std::string("No tree loaded."));
}

void Runner::tell(const std::string& text, const std::string& title) {
    if (view_) view_->message(text, title);
    else if (channel_) channel_->message(text, title);
}

void Runner::need_file_box() {
    if (view_) view_->need_file_box();
}

void Runner::show_legend() {
    if (view_) view_->show_legend(origin_.legend.summary());
}

namespace {

// An import's named columns as variables of a formula: its factors (levels
// in R's order) and its columns of numbers, those of the current specimens
// only.  A column of numbers chosen as a factor is that factor alone.
ModelVariables legend_variables(const io::Legend& legend, Eigen::Index specimens) {
    ModelVariables vars;
    const auto n = static_cast<std::size_t>(specimens);
    for (const io::Factor& f : legend.factors) {
        // A factor some specimens have no value of is no variable until
        // they are left out.
        if (f.codes.size() != n || std::find(f.codes.begin(), f.codes.end(), 0) != f.codes.end()) continue;
        std::vector<std::string> words;
        for (int c : f.codes)
            words.push_back(c >= 1 && static_cast<std::size_t>(c) <= f.levels.size() ? f.levels[static_cast<std::size_t>(c) - 1]
                                                                                     : "");
        vars.push_back(ModelVariable::factor_of_words(f.name, words));
    }
    for (const auto& num : legend.numbers) {
        if (num.values.size() != n) continue;
        if (std::any_of(legend.factors.begin(), legend.factors.end(), [&](const io::Factor& f) { return f.name == num.name; }))
            continue;
        ModelVariable v;
        v.name = num.name;
        v.values = num.values;
        vars.push_back(std::move(v));
    }
    return vars;
}

}  // namespace

ModelVariables Runner::loaded_variables() const {
    return workspace_variables(ws_, legend_variables(origin_.legend, ws_.landmarks.rows()));
}

RunResult Runner::run(const RunRequest& request, RunChannel& channel) {
    last_message_.clear();
    RunChannel* const outer = std::exchange(channel_, &channel);
    RunResult result;
    result.outcome = read_inputs(request.inputs, channel);
    const bool read = result.outcome == Outcome::Done;
    if (read && request.action && request.action->analysis) {
        result = run_analysis(request, channel);
    } else if (read && request.action) {
        result.outcome = guarded(request.action->name, channel, [&] {
            // The steps that need no dialog or box; the others are the
            // window's (window/shell.hpp).
            if (request.action->step == WindowStep::Clear) clear();
            else if (request.action->step == WindowStep::LeaveOutOutliers) leave_out_outliers();
            else throw Refused(std::string(request.action->name) + " is an action of the window.");
            return Outcome::Done;
        });
    }
    channel_ = outer;
    result.message = last_message_;
    last_outcome_ = result.outcome;
    return result;
}

Outcome Runner::step(const std::string& action, RunChannel& channel, const std::function<void()>& body) {
    last_message_.clear();
    RunChannel* const outer = std::exchange(channel_, &channel);
    last_outcome_ = guarded(action, channel, [&] {
        body();
        return Outcome::Done;
    });
    channel_ = outer;
    return last_outcome_;
}

// The files of a request in the order RunInputs gives, each read as its
// load action reads it and failing as it fails; the first failure ends the
// reading.
Outcome Runner::read_inputs(const RunInputs& inputs, RunChannel& channel) {
    if (!inputs.import_file.empty() || inputs.table) {
        const Outcome o = guarded("Import", channel, [&] {
            // Read everything first: a refused table changes nothing.
            if (inputs.table) apply_import(io::import_table(*inputs.table, inputs.import_options));
            else import_file(inputs.import_file, inputs.import_options);
            return Outcome::Done;
        });
        if (o != Outcome::Done) return o;
    }
    if (!inputs.landmarks.empty()) {
        landmark_dimensions_ = inputs.dimensions;
        dimensions_chosen_ = inputs.dimensions_chosen;
    }
    using Take = void (Runner::*)(const MfloadResult&);
    const std::tuple<const std::string*, const char*, Take> loads[] = {{&inputs.landmarks, "Load", &Runner::take_landmarks},
                                                                       {&inputs.groups, "LoadGlist", &Runner::take_groups},
                                                                       {&inputs.covariate, "LoadClist", &Runner::take_covariate}};
    for (const auto& load : loads) {
        // Named here, not bound: a lambda cannot capture a structured binding in every compiler we build with.
        const std::string* file = std::get<0>(load);
        const Take take = std::get<2>(load);
        if (file->empty()) continue;
        const Outcome o = guarded(std::get<1>(load), channel, [&] {
            // A table whose header names its columns holds factors by
            // specimen ID, not codes row by row.
            if (take == &Runner::take_groups && names_its_columns(*file))
                attach_factor_table(*file, inputs.import_options.id_column);
            else (this->*take)(mfload_path(*file));
            return Outcome::Done;
        });
        if (o != Outcome::Done) return o;
    }
    if (inputs.tree.empty()) return Outcome::Done;
    return guarded("LoadTree", channel, [&] {
        take_tree(inputs.tree, inputs.tree_name);
        return Outcome::Done;
    });
}

RunResult Runner::run_analysis(const RunRequest& request, RunChannel& channel) {
    RunResult result;
    result.outcome = guarded(request.action->name, channel, [&] {
        AnalysisParams params = request.params;
        params.side_files = side_files_of(request);
        ActionEnv env(ws_, params, console_, request.run, channel);
        env.add_model_variables(legend_variables(origin_.legend, ws_.landmarks.rows()));
        if (origin_.legend.ids.size() == static_cast<std::size_t>(ws_.landmarks.rows()))
            env.set_names(origin_.legend.ids, origin_.legend.level_names(ws_.groups));
        else env.set_names({}, origin_.legend.level_names(ws_.groups));
        request.action->analysis(env);
        if (!env.reported()) return Outcome::Done;
        keep_record(env, request);
        remind_estimates();
        result.report = env.report();
        return Outcome::Reported;
    });
    return result;
}

// The one exception boundary of an action: a refusal becomes a message
// without title, an error a console line and an "Error" message, a cancel a
// console line; in every case the workspace keeps what it held.
Outcome Runner::guarded(const std::string& action, RunChannel& channel, const std::function<Outcome()>& body) {
    try {
        return body();
    } catch (const Cancelled& e) {
        last_message_ = e.what();
        console_.line(e.what());
        return Outcome::Cancelled;
    } catch (const Refused& e) {
        last_message_ = e.what();
        channel.message(e.what(), "");
        return Outcome::Refused;
    } catch (const QuillanError& e) {
        last_message_ = e.what();
        console_.line(e.what());
        channel.message(e.what(), "Error");
        return Outcome::Failed;
    } catch (const std::bad_alloc&) {
        last_message_ = "Not enough memory to complete \"" + action + "\".";
        console_.line(last_message_);
        channel.message(last_message_, "Error");
        return Outcome::Failed;
    } catch (const std::exception& e) {
        last_message_ = "Unexpected error in \"" + action + "\": " + e.what();
        console_.line(last_message_);
        channel.message(last_message_, "Error");
        return Outcome::Failed;
    }
}

// Tells the user when a file went on after the end of its table.
void Runner::report_ignored(const MfloadResult& r) {
    if (r.table.ignored_lines == 0) return;
    tell(format_expand_reuse("The table in %s ends at the empty line %i: the %i lines with numbers after it were ignored.",
                             {r.fn, r.table.end_line, r.table.ignored_lines}),
         "Possible error");
}

std::string data_file_info(const std::string& name, const Matrix& landmarks, int dimensions) {
    const double m = static_cast<double>(landmarks.rows()), n = static_cast<double>(landmarks.cols());
    if (dimensions == 3) return format_expand_reuse("Data File: %s with %i specimens, %i LM, 3-D\n", {name, m, (n - 1) / 3});
    return format_expand_reuse("Data File: %s with %i specimens, %i LM\n", {name, m, (n - 1) / 2});
}

namespace {

// A file read as landmarks in space holds x, y and z of each of at least
// three landmarks and one further value on every line.
void check_space_layout(const Matrix& x, const std::string& name) {
    const Eigen::Index n = x.cols();
    if (n % 3 == 1 && n >= 10) return;
    throw QuillanError(format_expand_reuse(
        "%s: line 1 has %i numbers. A landmark file in 3-D holds on each line the x, y and z of every landmark and "
        "then one further value, 3k + 1 numbers for k landmarks (at least 3). Please check the file, or load it as 2-D.",
        {name, static_cast<double>(n)}));
}

}  // namespace

void Runner::take_landmarks(const MfloadResult& r) {
    const Matrix& x = r.table.x;
    // Space ticked is a choice; the plane is only where nothing else says.
    const bool chosen = dimensions_chosen_ || landmark_dimensions_ == 3;
    const DimensionHint hint = dimension_hint(r.path);
    const int dimensions = hint.dimensions && !chosen ? hint.dimensions : landmark_dimensions_;
    if (dimensions == 3) check_space_layout(x, r.fn);
    std::string info = data_file_info(r.fn, x, dimensions);
    need_file_box();
    const bool replaced = ws_.landmarks.size() > 0;
    ws_.landmarks = x;
    ws_.dimensions = dimensions;
    ws_.landmarks_info = info;
    origin_.landmarks_path = r.path;
    const io::Legend before = origin_.legend;
    drop_centroid_size(origin_.legend);  // the sizes of the imported landmarks, not these
    origin_.legend.ids.clear();
    origin_.legend.steps = {};
    origin_.legend.wireframe.clear();  // the imported file's links, not these landmarks'
    origin_.legend.wireframe_landmarks = 0;
    origin_.outliers_left_out.clear();
    keep_matching_companions(r.fn, false, false, before, replaced);
    report_ignored(r);
    if (hint.dimensions == 3 && !chosen) console_.line(r.fn + " was read as landmarks in space, as " + hint.source + " says.");
    std::string w = chosen || hint.dimensions ? "" : width_warning(r.fn, x, dimensions);
    if (chosen && hint.dimensions && hint.dimensions != dimensions)
        w = r.fn + " was read with " + std::to_string(dimensions) + " coordinates per landmark, as asked, but " + hint.source +
            " says " + std::to_string(hint.dimensions) + ".";
    if (!w.empty()) {
        console_.line(w);
        tell(w, "Possible error");
    }
}

void Runner::show_files(const std::string& note) {
    set_file_box(concat_trimmed({ws_.landmarks_info, ws_.groups_info, ws_.covariate_info, ws_.tree_info}) + note);
}

void Runner::take_groups(const MfloadResult& r) {
    const Matrix& x = r.table.x;
    check_group_codes(x, r.path);
    const double m = static_cast<double>(x.rows()), n = static_cast<double>(x.cols());
    std::string info = format_expand_reuse("\nGroup File: %s with %i specimens, % i group variables\n", {r.fn, m, n});
    need_file_box();
    ws_.groups = x;
    ws_.groups_info = info;
    origin_.groups_path = r.path;
    origin_.groups_ids.clear();
    origin_.legend.chosen.clear();
    offer_group_columns(x);
    show_files();
    show_legend();
    const double md = static_cast<double>(ws_.landmarks.rows());
    console_.echo("md", md);
    console_.echo("m", m);
    report_ignored(r);
    for (const auto& warning : group_file_warnings(x, r.path)) {
        console_.line(warning);
        tell(warning, "Possible error");
    }
    if (md != m)
        tell(format_expand_reuse("Your data set has %i specimens, but the group coding file has %i", {md, m}), "Possible error");
}

void Runner::take_covariate(const MfloadResult& r) {
    const Matrix& x = r.table.x;
    const double m = static_cast<double>(x.rows());
    std::string info = format_expand_reuse("\nCovariate File: %s with %i specimens", {r.fn, m});
    need_file_box();
    ws_.covariate = x;
    ws_.covariate_info = info;
    origin_.covariate_path = r.path;
    origin_.covariate_ids.clear();
    origin_.legend.covariate.clear();
    show_files();
    show_legend();
    const double md = static_cast<double>(ws_.landmarks.rows());
    report_ignored(r);
    if (md != m)
        tell(format_expand_reuse("Your data set has %i specimens, but the covariate file has %i", {md, m}), "Possible error");
}

void Runner::clear() {
    need_file_box();
    ws_.landmarks = Matrix();
    ws_.dimensions = 2;
    ws_.groups = Matrix();
    ws_.covariate = Matrix();
    ws_.landmarks_info.clear();
    ws_.groups_info.clear();
    ws_.covariate_info.clear();
    ws_.tree.reset();
    ws_.tree_info.clear();
    origin_ = Origin();
    last_record_ = ResultRecord();
    set_file_box("   ");
    show_legend();
    offer_legend_columns();  // nothing left to choose among
}

}  // namespace quillan
