#include "shell/shell.hpp"

#include "analyses/registry.hpp"
#include "platform/format.hpp"

#include <new>

namespace quillan {

const std::vector<std::string>& action_names() {
    static const std::vector<std::string> names = {
        "Load",          "LoadGlist",   "LoadClist",     "RunOneWay", "RunOneWayF",   "RunTwoWay",
        "RunTwoWayF",    "RunTwoWayNest", "RunOneStand", "RunTwoStand", "TestCovariate", "RunTwoCov",
        "RunOneCov",     "GoMan",       "RunOneStandF",  "RunTwoStandF", "SaveOut",     "Clear"};
    return names;
}

Handle Shell::control(const char* tag) {
    auto found = gui_.findobj_tag(tag);
    if (found.empty()) throw QuillanError(std::string("The window has no control tagged ") + tag + ".");
    return found.front();
}

void Shell::set_file_box(const std::string& text) { gui_.set(control(kFileBox), "String", Value(text)); }

Outcome Shell::quillan_action(const std::string& action) {
    last_message_.clear();
    // Exact, case-significant comparison, in table order.
    const auto& names = action_names();
    std::size_t index = names.size();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == action) { index = i; break; }
    const AnalysisFn analysis = index < names.size() ? find_analysis(action) : nullptr;
    const bool shell_action = action == "Load" || action == "LoadGlist" || action == "LoadClist" ||
                              action == "SaveOut" || action == "Clear";
    const bool io = index == names.size() && is_io_action(action);
    if (!io && (index == names.size() || (!shell_action && !analysis))) {
        gui_.msgbox("Fell through case", "");
        last_message_ = "Fell through case";
        return Outcome::Unknown;
    }
    try {
        if (io) io_action(action);
        else if (action == "Load") load();
        else if (action == "LoadGlist") load_glist();
        else if (action == "LoadClist") load_clist();
        else if (action == "SaveOut") save_out();
        else if (action == "Clear") clear();
        else {
            ActionEnv env(ws_, gui_, console_, options_);
            analysis(env);
            if (env.reported()) keep_record(env, action);
            return env.reported() ? Outcome::Reported : Outcome::Done;
        }
        return Outcome::Done;
    } catch (const Cancelled& e) {
        last_message_ = e.what();
        console_.line(e.what());
        return Outcome::Cancelled;
    } catch (const Refused& e) {
        last_message_ = e.what();
        gui_.msgbox(e.what(), "");
        return Outcome::Refused;
    } catch (const QuillanError& e) {
        last_message_ = e.what();
        console_.line(e.what());
        gui_.msgbox(e.what(), "Error");
        return Outcome::Failed;
    } catch (const std::bad_alloc&) {
        last_message_ = "Not enough memory to complete \"" + action + "\".";
        console_.line(last_message_);
        gui_.msgbox(last_message_, "Error");
        return Outcome::Failed;
    } catch (const std::exception& e) {
        last_message_ = "Unexpected error in \"" + action + "\": " + e.what();
        console_.line(last_message_);
        gui_.msgbox(last_message_, "Error");
        return Outcome::Failed;
    }
}

namespace {

// Tells the user when a file went on after the end of its table.
void report_ignored(Gui& gui, const MfloadResult& r) {
    if (r.table.ignored_lines == 0) return;
    gui.msgbox(sprintf("The table in %s ends at the empty line %i: the %i lines with numbers after it were ignored.",
                       {r.fn, r.table.end_line, r.table.ignored_lines}),
               "Possible error");
}

}  // namespace

void Shell::load() {
    auto r = mfload(gui_);
    if (!r) return;
    const Matrix& x = r->table.x;
    const double m = static_cast<double>(x.rows()), n = static_cast<double>(x.cols());
    std::string info = sprintf("Data File: %s with %i specimens, %i LM\n", {r->fn, m, (n - 1) / 2});
    const Handle box = control(kFileBox);
    ws_.data = x;
    ws_.dfileinfo = info;
    ws_.data_path = r->path;
    ws_.legend.ids.clear();
    gui_.set(box, "String", Value(ws_.dfileinfo));
    report_ignored(gui_, *r);
}

void Shell::load_glist() {
    auto r = mfload(gui_);
    if (!r) return;
    const Matrix& x = r->table.x;
    const double m = static_cast<double>(x.rows()), n = static_cast<double>(x.cols());
    std::string info = sprintf("\nGroup File: %s with %i specimens, % i group variables\n", {r->fn, m, n});
    const Handle box = control(kFileBox);
    ws_.glist = x;
    ws_.gfileinfo = info;
    ws_.groups_path = r->path;
    ws_.legend.chosen.clear();
    gui_.set(box, "String", Value(strcat({ws_.dfileinfo, ws_.gfileinfo})));
    const double md = static_cast<double>(ws_.data.rows());
    console_.echo("md", md);
    console_.echo("m", m);
    report_ignored(gui_, *r);
    if (md != m)
        gui_.msgbox(sprintf("Your data set has %i specimens, but the group coding file has %i", {md, m}), "Possible error");
}

void Shell::load_clist() {
    auto r = mfload(gui_);
    if (!r) return;
    const Matrix& x = r->table.x;
    const double m = static_cast<double>(x.rows());
    std::string info = sprintf("\nCovariate File: %s with %i specimens", {r->fn, m});
    const Handle box = control(kFileBox);
    ws_.clist = x;
    ws_.cfileinfo = info;
    ws_.covariate_path = r->path;
    ws_.legend.covariate.clear();
    gui_.set(box, "String", Value(strcat({ws_.dfileinfo, ws_.gfileinfo, ws_.cfileinfo})));
    const double md = static_cast<double>(ws_.data.rows());
    report_ignored(gui_, *r);
    if (md != m)
        gui_.msgbox(sprintf("Your data set has %i specimens, but the covariate file has %i", {md, m}), "Possible error");
}

void Shell::save_out() {
    const std::vector<std::string> lines = string_lines(gui_.get(control(kResultsBox), "String"));
    auto choice = gui_.uiputfile("*.txt", "Please Select an Output file");
    if (!choice) return;
    gui_.cd(choice->folder);
    write_report_file(join_path(gui_.pwd(), choice->name), lines);
}

void Shell::clear() {
    const Handle results = control(kResultsBox), files = control(kFileBox);
    ws_.data = Matrix();
    ws_.glist = Matrix();
    ws_.clist = Matrix();
    ws_.dfileinfo.clear();
    ws_.gfileinfo.clear();
    ws_.cfileinfo.clear();
    ws_.data_path.clear();
    ws_.groups_path.clear();
    ws_.covariate_path.clear();
    ws_.legend = io::Legend();
    last_record_ = ResultRecord();
    gui_.set(results, "String", Value("   "));
    gui_.set(files, "String", Value("   "));
    show_legend();
}

}  // namespace quillan
