// The window's steps: each asks its dialog or reads its boxes, then hands
// the file or the choice to the runner, which changes the workspace and
// tells the window what to show.  A cancelled dialog changes nothing.
#include "analyses/common.hpp"
#include "analyses/linear_models/size_correction.hpp"
#include "io/import.hpp"
#include "platform/error.hpp"
#include "window/shell.hpp"
#include "window/window_env.hpp"

#include <filesystem>

namespace quillan {

namespace {

// How an import takes negative coordinates: as points (1) or as missing
// landmarks (2), which digitising programs write as -1 -1.
constexpr const char* kNegativeChoice = "NegativeChoice";
// How an import takes missing landmarks (refused, or estimated by tps or
// reg) and TPS curves (skipped, or slid by bending energy or Procrustes distance).
constexpr const char* kGapsChoice = "GapsChoice";
constexpr const char* kCurvesChoice = "CurvesChoice";
// Whether an import, and a choice of G1 or G2, leaves out the specimens
// without a value of a factor (a check box: 1 ticked).
constexpr const char* kLeaveOutMissing = "LeaveOutMissingChoice";
// The files an import reads, by their usual extensions; the dialog offers
// every file besides.
constexpr const char* kImportFilter = "Landmark data (*.tps *.nts *.txt *.csv *.tsv *.fcsv *.mrk.json)";
// The name of the tree of a NEXUS file to load (empty: its only or first tree).
constexpr const char* kTreeNameBox = "TreeNameBox";

// The window's choice in a box, where it has one: 1 is the first entry.
int entry_chosen(Gui& gui, const char* tag) {
    const auto found = gui.findobj_tag(tag);
    if (found.empty()) return 0;
    const Value v = gui.get(found.front(), "Value");
    return v.is_matrix() && v.matrix().size() == 1 ? static_cast<int>(v.scalar()) : 0;
}

std::string trimmed(const std::string& s) {
    const auto a = s.find_first_not_of(" \t\r\n"), b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

}  // namespace

std::optional<MfloadResult> mfload(Gui& gui) {
    auto choice = gui.uigetfile("*.*", "Enter file to Load?");
    if (!choice) return std::nullopt;
    return mfload_chosen(gui, *choice);
}

MfloadResult mfload_chosen(Gui& gui, const FileChoice& choice) {
    MfloadResult r;
    r.path = join_path(choice.folder, choice.name);
    r.table = dload_file(r.path);
    r.fn = choice.name;
    gui.cd(choice.folder);
    return r;
}

void Shell::run_step(WindowStep step) {
    switch (step) {
        case WindowStep::None:
            return;
        case WindowStep::LoadLandmarks:
            return load_landmarks();
        case WindowStep::LoadGroups:
            return load_groups();
        case WindowStep::LoadCovariate:
            return load_covariate();
        case WindowStep::LoadTree:
            return load_tree();
        case WindowStep::Import:
            return import_data();
        case WindowStep::ChooseGroups:
            return choose_groups();
        case WindowStep::LeaveOutOutliers:
            return runner_.leave_out_outliers();
        case WindowStep::SaveReport:
            return save_report();
        case WindowStep::ExportResults:
            return export_results();
        case WindowStep::ExportSpecimens:
            return export_specimens();
        case WindowStep::Clear:
            return clear();
    }
}

void Shell::load_landmarks() {
    if (auto r = mfload(gui_)) runner_.take_landmarks(*r);
}

void Shell::load_groups() {
    const auto choice = gui_.uigetfile("*.*", "Enter file to Load?");
    if (!choice) return;
    // A table whose header names its columns holds factors by specimen ID,
    // as quillan-batch --factors reads them, not codes row by row.
    if (names_its_columns(join_path(choice->folder, choice->name))) {
        runner_.attach_factor_table(join_path(choice->folder, choice->name), runner_.import_options().id_column);
        gui_.cd(choice->folder);
        return;
    }
    runner_.take_groups(mfload_chosen(gui_, *choice));
}

void Shell::load_covariate() {
    if (auto r = mfload(gui_)) runner_.take_covariate(*r);
}

void Shell::load_tree() {
    const auto box = gui_.findobj_tag(kTreeNameBox);
    const std::string name = box.empty() ? std::string() : trimmed(gui_.get(box.front(), "String").text());
    const auto choice = gui_.uigetfile("*.*", "Enter tree file to Load?");
    if (!choice) return;
    runner_.take_tree(join_path(choice->folder, choice->name), name);
    gui_.cd(choice->folder);
}

void Shell::import_data() {
    auto choice = gui_.uigetfile(kImportFilter, "Enter file to Import?");
    if (!choice) return;
    // A markups file holds one specimen: the specimens are every markups
    // file of its folder.
    const std::string path = io::markups_name(choice->name) ? choice->folder : join_path(choice->folder, choice->name);
    io::ImportOptions options = runner_.import_options();
    options.offer_incomplete = true;
    options.leave_out_missing = entry_chosen(gui_, kLeaveOutMissing) == 1;
    if (const int negative = entry_chosen(gui_, kNegativeChoice)) options.negative_missing = negative == 2;
    if (const int gaps = entry_chosen(gui_, kGapsChoice)) options.estimate_missing = gaps == 2 ? "tps" : gaps == 3 ? "reg" : "";
    if (const int curves = entry_chosen(gui_, kCurvesChoice)) {
        // skip, be, procd, then be and procd refusing sliding unsettled at its limit
        options.semilandmarks = curves > 1;
        options.slide = curves == 3 || curves == 5 ? "procd" : "be";
        options.strict_sliding = curves >= 4;
    }
    runner_.import_file(path, options);
    gui_.cd(choice->folder);
}

void Shell::choose_groups() {
    const auto box = gui_.findobj_tag(kLeaveOutMissing);
    const bool leave_out = !box.empty() && gui_.get(box.front(), "Value").scalar() != 0;
    runner_.choose_groups(factor_box_choice(gui_, FactorBox::G1), factor_box_choice(gui_, FactorBox::G2),
                          factor_box_choice(gui_, FactorBox::Covariate), leave_out);
}

void Shell::save_report() {
    const std::vector<std::string> lines = string_lines(gui_.get(find_control(gui_, kResultsBox), "String"));
    auto choice = gui_.uiputfile("*.txt", "Please Select an Output file");
    if (!choice) return;
    gui_.cd(choice->folder);
    write_report_file(join_path(gui_.pwd(), choice->name), lines,
                      [this](const std::string& warning) { gui_.msgbox(warning, "Possible error"); });
}

void Shell::export_results() {
    auto choice =
        gui_.uiputfile("JSON (*.json);;CSV table (*.csv)", "Export the numbers of the last report (.json, or .csv for a table)");
    if (!choice) return;
    const std::string ext = std::filesystem::path(choice->name).extension().string();
    runner_.write_results(join_path(choice->folder, choice->name), ext == ".csv" || ext == ".CSV");
    gui_.cd(choice->folder);
}

void Shell::export_specimens() {
    auto choice = gui_.uiputfile("*.csv", "Export the specimens (.csv)");
    if (!choice) return;
    // The size correction of the window's controls, as the analyses take it.
    const ActionRow& row = *find_action("ExportSpecimens");
    const OptionValues options = OptionValues::read(row.options, given_for(row));
    runner_.write_specimens(join_path(choice->folder, choice->name), covariate_choice(window_covariate_entry(gui_)).get(),
                            size_correction_asked(options));
    gui_.cd(choice->folder);
}

void Shell::clear() {
    // Both boxes are there before anything is cleared.
    static_cast<void>(find_control(gui_, kFileBox));
    const Handle results = find_control(gui_, kResultsBox);
    runner_.clear();
    gui_.set(results, "String", Value("   "));
}

}  // namespace quillan
