// "LeaveOutOutliers": the specimens the last outlier screening flagged leave
// the workspace, so that the analyses that follow run without them.  Every
// table that has a row per specimen loses the same rows (landmarks, groups,
// covariate, the import's IDs, factors, columns of numbers and estimated
// landmarks), and the file box, and with it every later report, names the
// specimens left out.
#include "platform/error.hpp"
#include "shell/runner.hpp"

#include <algorithm>

namespace quillan {

namespace {

// The rows the last report flagged, 0-based and ascending, when that report
// screened the specimens now loaded for outliers; refuses otherwise.
std::vector<int> flagged_rows(const ResultRecord& record, Eigen::Index specimens) {
    std::vector<int> rows;
    long long screened = 0;
    for (const RecordedModel& m : record.models) {
        const double* specimen = m.value("specimen");
        const double* flagged = m.value("flagged");
        if (!specimen || !flagged || !m.value("distance")) continue;
        ++screened;
        if (*flagged != 0) rows.push_back(static_cast<int>(*specimen) - 1);
    }
    if (screened == 0 || screened != specimens || record.run.specimens != specimens)
        throw Refused(
            "Leaving out the flagged specimens needs an outlier screening of the specimens now loaded: run "
            "Outliers first. Nothing was changed.");
    if (rows.empty()) throw Refused("The outlier screening flagged no specimen, so none is left out. Nothing was changed.");
    if (specimens - static_cast<Eigen::Index>(rows.size()) < 3)
        throw Refused("Leaving out the " + std::to_string(rows.size()) + " flagged specimens would leave fewer than 3. " +
                      "Nothing was changed.");
    std::sort(rows.begin(), rows.end());
    return rows;
}

template <class T>
void erase_rows(std::vector<T>& v, const std::vector<int>& rows, std::size_t specimens) {
    if (v.size() != specimens) return;
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) v.erase(v.begin() + *it);
}

Matrix without_rows(const Matrix& m, const std::vector<int>& keep, Eigen::Index specimens) {
    if (m.rows() != specimens) return m;
    return m(keep, Eigen::placeholders::all);
}

}  // namespace

void Runner::leave_out_outliers() {
    const std::vector<int> rows = flagged_rows(last_record_, ws_.landmarks.rows());
    std::vector<std::string> names;
    for (const int r : rows) names.push_back(specimen_label(r));
    std::string listed;
    for (std::size_t i = 0; i < names.size(); ++i) listed += (i ? ", " : "") + names[i];
    leave_out_rows(rows, std::to_string(names.size()) + " specimens left out as outliers: " + listed);
    origin_.outliers_left_out.insert(origin_.outliers_left_out.end(), names.begin(), names.end());
    last_record_ = {};  // its flags were of rows that are gone
}

void Runner::leave_out_rows(const std::vector<int>& rows, const std::string& line) {
    const Eigen::Index n = ws_.landmarks.rows();
    std::vector<int> keep;
    for (int i = 0, j = 0; i < static_cast<int>(n); ++i) {
        if (j < static_cast<int>(rows.size()) && rows[static_cast<std::size_t>(j)] == i) ++j;
        else keep.push_back(i);
    }
    // Everything is worked out before anything changes, so a failure leaves
    // the workspace as it was.
    Workspace ws = ws_;
    Origin origin = origin_;
    ws.landmarks = without_rows(ws_.landmarks, keep, n);
    ws.groups = without_rows(ws_.groups, keep, n);
    ws.covariate = without_rows(ws_.covariate, keep, n);
    origin.group_columns = without_rows(origin_.group_columns, keep, n);
    const auto m = static_cast<std::size_t>(n);
    io::Legend& legend = origin.legend;
    erase_rows(legend.ids, rows, m);
    for (auto& f : legend.factors) erase_rows(f.codes, rows, m);
    for (auto& c : legend.numbers) erase_rows(c.values, rows, m);
    erase_rows(origin.groups_ids, rows, m);
    erase_rows(origin.covariate_ids, rows, m);
    std::vector<std::pair<int, int>> estimated;
    for (const auto& [s, landmark] : legend.steps.estimated) {
        const auto at = std::find(keep.begin(), keep.end(), s - 1);
        if (at != keep.end()) estimated.emplace_back(static_cast<int>(at - keep.begin()) + 1, landmark);
    }
    legend.steps.estimated = std::move(estimated);

    // The tables' descriptions count the specimens in use.
    const std::string was = " with " + std::to_string(n) + " specimens",
                      now = " with " + std::to_string(ws.landmarks.rows()) + " specimens";
    for (std::string* info : {&ws.landmarks_info, &ws.groups_info, &ws.covariate_info})
        if (const auto at = info->find(was); at != std::string::npos) info->replace(at, was.size(), now);
    ws.landmarks_info += line + "\n";
    need_file_box();
    ws_ = std::move(ws);
    origin_ = std::move(origin);
    show_files({});
    show_legend();  // its count of IDs
    console_.line(line);
}

// A specimen as reports name it: its ID where the import gave one, its row
// number otherwise.
std::string Runner::specimen_label(int row) const {
    const auto& ids = origin_.legend.ids;
    const auto i = static_cast<std::size_t>(row);
    if (ids.size() == static_cast<std::size_t>(ws_.landmarks.rows()) && !ids[i].empty()) return ids[i];
    return std::to_string(row + 1);
}

}  // namespace quillan
