#include "io/output.hpp"

#include "platform/atomic_file.hpp"

namespace quillan::io {

void write_output(const std::string& path, std::string_view content) { write_file_atomically(path, content); }

std::string table_text(const Matrix& m) {
    std::string out;
    for (Eigen::Index i = 0; i < m.rows(); ++i) {
        for (Eigen::Index j = 0; j < m.cols(); ++j) {
            if (j) out += ' ';
            out += number_text(m(i, j));
        }
        out += '\n';
    }
    return out;
}

std::string csv_cell(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos && (s.empty() || (s.front() != ' ' && s.back() != ' '))) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string legend_csv(const Legend& legend, int dimensions) {
    // Second, where a reader of the landmark table beside it finds it at once.
    std::string out = "what,name,code,label\nlandmarks,dimensions," + std::to_string(dimensions) + ",\n";
    for (std::size_t j = 0; j < legend.chosen.size(); ++j) {
        const Factor& f = legend.factors[static_cast<std::size_t>(legend.chosen[j])];
        for (std::size_t c = 0; c < f.levels.size(); ++c)
            out += "factor G" + std::to_string(j + 1) + "," + csv_cell(f.name) + "," + std::to_string(c + 1) + "," +
                   csv_cell(f.levels[c]) + "\n";
    }
    if (!legend.covariate.empty()) out += "covariate," + csv_cell(legend.covariate) + ",,\n";
    for (std::size_t i = 0; i < legend.ids.size(); ++i)
        out += "specimen,ID," + std::to_string(i + 1) + "," + csv_cell(legend.ids[i]) + "\n";
    return out;
}

std::vector<std::string> write_converted(const ImportedData& d, const std::string& prefix, SaveSet& set) {
    // The four files are one set: all are replaced or none, and a member
    // this data has no table for is removed, so an older conversion's
    // groups or covariate never stay beside new landmarks.
    std::vector<std::string> written;
    auto member = [&](const char* suffix, bool has, const std::string& text) {
        const std::string path = prefix + suffix;
        if (!has) return set.remove_at_commit(path);
        set.write(path, text);
        written.push_back(path);
    };
    member(".lm.txt", true, table_text(d.landmarks));
    member(".groups.txt", d.groups.size() > 0, d.groups.size() > 0 ? table_text(d.groups) : std::string());
    member(".cov.txt", d.covariate.size() > 0, d.covariate.size() > 0 ? table_text(d.covariate) : std::string());
    member(".legend.csv", true, legend_csv(d.legend, d.dimensions));
    return written;
}

}  // namespace quillan::io
