#include "shell/companions.hpp"

#include "shell/runner.hpp"

#include <map>
#include <optional>

namespace quillan {

namespace {

constexpr const char* kByRow = "Paired by row to the specimens of ";
constexpr const char* kById = "Matched by specimen ID to the specimens of ";
constexpr std::size_t kNamedAtMost = 10;

std::string id_list(const std::vector<std::string>& ids) {
    std::string out;
    for (std::size_t i = 0; i < ids.size() && i < kNamedAtMost; ++i) out += (i ? ", \"" : "\"") + ids[i] + "\"";
    if (ids.size() > kNamedAtMost) out += " and " + std::to_string(ids.size() - kNamedAtMost) + " more";
    return out;
}

std::vector<std::string> repeated(const std::vector<std::string>& ids) {
    std::map<std::string, int> seen;
    std::vector<std::string> twice;
    for (const auto& id : ids)
        if (++seen[id] == 2) twice.push_back(id);
    return twice;
}

// The IDs of `ids` that `other` lacks, in the order of `ids`.
std::vector<std::string> missing_from(const std::vector<std::string>& ids, const std::map<std::string, Eigen::Index>& other) {
    std::vector<std::string> out;
    for (const auto& id : ids)
        if (!other.count(id)) out.push_back(id);
    return out;
}

CompanionPairing refused(std::string reason) { return {CompanionPairing::Kind::Refused, {}, std::move(reason)}; }

}  // namespace

CompanionPairing pair_companion(const std::vector<std::string>& table_ids, Eigen::Index table_rows,
                                const std::vector<std::string>& data_ids, Eigen::Index data_rows, const std::string& table_name,
                                const std::string& data_name) {
    const bool ids = !table_ids.empty() && !data_ids.empty() && static_cast<Eigen::Index>(table_ids.size()) == table_rows &&
                     static_cast<Eigen::Index>(data_ids.size()) == data_rows;
    if (!ids) {
        if (table_rows == data_rows) return {CompanionPairing::Kind::ByRow, {}, {}};
        return refused("has " + std::to_string(table_rows) + " specimens, but " + data_name + " has " +
                       std::to_string(data_rows));
    }
    std::vector<Eigen::Index> identity(static_cast<std::size_t>(data_rows));
    for (std::size_t i = 0; i < identity.size(); ++i) identity[i] = static_cast<Eigen::Index>(i);
    // The same IDs in the same order pair as they stand, repeated or not.
    if (table_ids == data_ids) return {CompanionPairing::Kind::ById, identity, {}};
    for (const auto& [ids_of, name] : {std::pair{&table_ids, &table_name}, std::pair{&data_ids, &data_name}})
        if (const auto twice = repeated(*ids_of); !twice.empty())
            return refused("cannot be matched to " + data_name + " by specimen ID, as the ID" + (twice.size() > 1 ? "s " : " ") +
                           id_list(twice) + (twice.size() > 1 ? " appear" : " appears") + " more than once in " + *name);
    std::map<std::string, Eigen::Index> in_table, in_data;
    for (std::size_t i = 0; i < table_ids.size(); ++i) in_table[table_ids[i]] = static_cast<Eigen::Index>(i);
    for (std::size_t i = 0; i < data_ids.size(); ++i) in_data[data_ids[i]] = static_cast<Eigen::Index>(i);
    const auto no_row = missing_from(data_ids, in_table), no_specimen = missing_from(table_ids, in_data);
    if (!no_row.empty() || !no_specimen.empty()) {
        std::string reason = "carries specimen IDs that do not match those of " + data_name + ":";
        if (!no_row.empty())
            reason += " " + id_list(no_row) + (no_row.size() > 1 ? " are" : " is") + " only in " + data_name +
                      (no_specimen.empty() ? "" : ";");
        if (!no_specimen.empty())
            reason += " " + id_list(no_specimen) + (no_specimen.size() > 1 ? " are" : " is") + " only in " + table_name;
        return refused(reason);
    }
    CompanionPairing p{CompanionPairing::Kind::ById, {}, {}};
    for (const auto& id : data_ids) p.rows.push_back(in_table[id]);
    return p;
}

Matrix reorder_rows(const Matrix& table, const std::vector<Eigen::Index>& rows) {
    Matrix out(static_cast<Eigen::Index>(rows.size()), table.cols());
    for (std::size_t i = 0; i < rows.size(); ++i) out.row(static_cast<Eigen::Index>(i)) = table.row(rows[i]);
    return out;
}

std::string with_pairing_line(const std::string& info, CompanionPairing::Kind kind, const std::string& data_name) {
    std::string line;
    if (kind == CompanionPairing::Kind::ById) line = kById + data_name;
    if (kind == CompanionPairing::Kind::ByRow) line = kByRow + data_name + ", as there are no specimen IDs to match by";
    const std::string bare = without_pairing_line(info);
    if (line.empty()) return bare;
    return !bare.empty() && bare.back() == '\n' ? bare + line + "\n" : bare + "\n" + line;
}

std::string without_pairing_line(const std::string& info) {
    for (const char* head : {kByRow, kById})
        if (const auto at = info.find(std::string("\n") + head); at != std::string::npos)
            return info.substr(0, info.back() == '\n' ? at + 1 : at);
    return info;
}

namespace {

std::string file_name_of(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

template <class T>
std::vector<T> in_order(const std::vector<T>& v, const std::vector<Eigen::Index>& rows) {
    if (rows.empty()) return v;
    std::vector<T> out;
    for (Eigen::Index r : rows) out.push_back(v[static_cast<std::size_t>(r)]);
    return out;
}

// A new file without factors of its own keeps those behind the groups it
// kept, in its order, so that the boxes still offer them and the reports
// still name the levels.
// `m` is the kept table's count of rows before it was put in order.
void carry_factors(io::Legend& now, const io::Legend& before, const std::vector<Eigen::Index>& rows, std::size_t m) {
    if (!now.factors.empty()) return;
    for (const io::Factor& f : before.factors)
        if (f.codes.size() != m) return;
    now.factors = before.factors;
    for (io::Factor& f : now.factors) {
        f.codes = in_order(f.codes, rows);
        if (f.path.empty()) f.path = before.source;
    }
    now.chosen = before.chosen;
}

void carry_numbers(io::Legend& now, const io::Legend& before, const std::vector<Eigen::Index>& rows, std::size_t m) {
    if (!now.numbers.empty()) return;
    for (const auto& n : before.numbers)
        if (n.values.size() != m) return;
    now.numbers = before.numbers;
    for (auto& n : now.numbers) {
        n.values = in_order(n.values, rows);
        if (n.path.empty()) n.path = before.source;
    }
    now.covariate = before.covariate;
}

}  // namespace

void Runner::keep_matching_companions(const std::string& data_name, bool groups_new, bool covariate_new, const io::Legend& before,
                                      bool replaced) {
    const Eigen::Index m = ws_.landmarks.rows();
    std::vector<std::string> kept, by_row;
    kept_by_row_ = {};
    auto check = [&](Matrix& table, std::string& info, std::string& path, std::vector<std::string>& ids,
                     const std::string& kind) -> std::optional<CompanionPairing> {
        if (table.size() == 0) return std::nullopt;
        const std::string name = path.empty() ? kind : file_name_of(path);
        const Eigen::Index rows = table.rows();
        CompanionPairing p = pair_companion(ids, rows, origin_.legend.ids, m, "the " + kind + " file " + name, data_name);
        if (p.kind != CompanionPairing::Kind::Refused) {
            if (p.kind == CompanionPairing::Kind::ById) {
                table = reorder_rows(table, p.rows);
                ids = origin_.legend.ids;
            }
            info = with_pairing_line(info, p.kind, data_name);
            kept.push_back(name);
            if (p.kind == CompanionPairing::Kind::ByRow) by_row.push_back(name);
            return p;
        }
        const std::string text = "The " + kind + " file " + name + " " + p.reason +
                                 ": it no longer goes with the data and was dropped. Load a " + kind + " file for " + data_name +
                                 ".";
        table = Matrix();
        info.clear();
        path.clear();
        ids.clear();
        console_.line(text);
        tell(text, "Possible error");
        return std::nullopt;
    };
    if (!groups_new) {
        const bool from_legend = !before.level_names(ws_.groups).empty();
        const auto rows_before = static_cast<std::size_t>(ws_.groups.rows());
        const auto p = check(ws_.groups, ws_.groups_info, origin_.groups_path, origin_.groups_ids, "group");
        if (p && from_legend) carry_factors(origin_.legend, before, p->rows, rows_before);
        kept_by_row_.groups = p && p->kind == CompanionPairing::Kind::ByRow;
        if (ws_.groups.size() == 0) {
            origin_.legend.chosen.clear();
            origin_.group_columns = Matrix();
            origin_.column_choice.clear();
        }
    }
    if (!covariate_new) {
        const bool from_legend = !before.covariate.empty();
        const auto rows_before = static_cast<std::size_t>(ws_.covariate.rows());
        const auto p = check(ws_.covariate, ws_.covariate_info, origin_.covariate_path, origin_.covariate_ids, "covariate");
        if (p && from_legend) carry_numbers(origin_.legend, before, p->rows, rows_before);
        kept_by_row_.covariate = p && p->kind == CompanionPairing::Kind::ByRow;
        if (ws_.covariate.size() == 0) origin_.legend.covariate.clear();
    }
    std::string note;
    if (!kept.empty())
        note = "\n(Kept from before, as " + std::string(kept.size() == 1 ? "it matches" : "they match") + " the " +
               std::to_string(m) + " specimens: " + kept.front() + (kept.size() > 1 ? " and " + kept.back() : "") + ")";
    show_files(note);
    show_legend();  // the IDs and factors of the landmarks replaced are gone
    // Counts that agree say nothing of whether the tables belong to these
    // specimens: a group file of another data set of the same size would
    // stay on them unseen.
    if (!by_row.empty() && replaced)
        tell("The " + std::string(by_row.size() > 1 ? "files " : "file ") + by_row.front() +
                 (by_row.size() > 1 ? " and " + by_row.back() + " were" : " was") + " kept for the " + std::to_string(m) +
                 " specimens of " + data_name + " and " + (by_row.size() > 1 ? "are" : "is") +
                 " paired with them by row, as neither carries specimen IDs: row 1 goes with the first specimen, and so "
                 "on. If " +
                 (by_row.size() > 1 ? "they belong" : "it belongs") + " to other data, drop " +
                 (by_row.size() > 1 ? "them" : "it") + ".",
             kKeptByRowTitle);
}

void Runner::drop_kept_by_row() {
    if (kept_by_row_.groups) {
        ws_.groups = Matrix();
        ws_.groups_info.clear();
        origin_.groups_path.clear();
        origin_.groups_ids.clear();
        origin_.legend.chosen.clear();
        origin_.legend.factors.clear();
        origin_.group_columns = Matrix();
        origin_.column_choice.clear();
    }
    if (kept_by_row_.covariate) {
        ws_.covariate = Matrix();
        ws_.covariate_info.clear();
        origin_.covariate_path.clear();
        origin_.covariate_ids.clear();
        origin_.legend.covariate.clear();
        origin_.legend.numbers.clear();
    }
    kept_by_row_ = {};
    show_files();
    show_legend();
}

}  // namespace quillan
