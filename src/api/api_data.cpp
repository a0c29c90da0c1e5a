// Landmark data across the library entry: a file read with the import's
// choices, and data held by the caller made into the specimens of an
// import, so that a run takes it exactly as it takes an imported file.
#include "api/api_internal.hpp"
#include "batch/batch.hpp"
#include "batch/batch_steps.hpp"
#include "io/choice_notes.hpp"
#include "platform/error.hpp"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace quillan::api {

namespace {

// What the messages of an import call data that came from no file.
constexpr const char* kInMemory = "(data in memory)";

std::string number_text(double value) {
    if (std::isnan(value)) return "";  // an empty cell: no value
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

void check_sizes(const Data& d) {
    const auto m = static_cast<std::size_t>(d.specimens);
    if (d.specimens < 1 || d.landmarks < 1) throw Error(Error::Usage, "the data need at least one specimen and one landmark");
    if (d.dimensions != 2 && d.dimensions != 3)
        throw Error(Error::Usage, "landmarks have 2 or 3 coordinates, not " + std::to_string(d.dimensions));
    const std::size_t values = m * static_cast<std::size_t>(d.landmarks) * static_cast<std::size_t>(d.dimensions);
    if (!d.view.data && d.coords.size() != values)
        throw Error(Error::Usage, "the coordinates hold " + std::to_string(d.coords.size()) + " values, not " +
                                      std::to_string(values) + " (" + std::to_string(d.specimens) + " specimens x " +
                                      std::to_string(d.landmarks) + " landmarks x " + std::to_string(d.dimensions) + ")");
    if (!d.ids.empty() && d.ids.size() != m)
        throw Error(Error::Usage, "there are " + std::to_string(d.ids.size()) + " IDs for " + std::to_string(m) + " specimens");
    for (const Column& c : d.columns) {
        const std::size_t cells = c.numeric ? c.numbers.size() : c.text.size();
        if (cells != m)
            throw Error(Error::Usage, "the column \"" + c.name + "\" has " + std::to_string(cells) + " values for " +
                                          std::to_string(m) + " specimens");
    }
}

}  // namespace

io::SpecimenTable specimen_table(const Data& d) {
    check_sizes(d);
    const auto m = static_cast<std::size_t>(d.specimens);
    const std::size_t width = static_cast<std::size_t>(d.landmarks) * static_cast<std::size_t>(d.dimensions);
    io::SpecimenTable t;
    t.path = d.source.empty() ? kInMemory : d.source;
    const auto slash = t.path.find_last_of('/');
    t.name = slash == std::string::npos ? t.path : t.path.substr(slash + 1);
    t.ids = d.ids.empty() ? std::vector<std::string>(m) : d.ids;
    t.lines.assign(m, 0);
    t.id_lines.assign(m, 0);
    t.landmarks = d.landmarks;
    t.dimensions = d.dimensions;
    for (std::size_t s = 0; s < m; ++s) {
        if (!d.view.data) {
            t.coords.emplace_back(d.coords.begin() + static_cast<std::ptrdiff_t>(s * width),
                                  d.coords.begin() + static_cast<std::ptrdiff_t>((s + 1) * width));
            continue;
        }
        std::vector<double>& row = t.coords.emplace_back();
        row.reserve(width);
        const auto& st = d.view.strides;
        for (long long l = 0; l < d.landmarks; ++l)
            for (long long c = 0; c < d.dimensions; ++c)
                row.push_back(d.view.data[static_cast<long long>(s) * st[0] + l * st[1] + c * st[2]]);
    }
    for (const Column& c : d.columns) {
        io::Column column{c.name, {}, {}, {}};
        if (!c.numeric) column.cells = c.text;
        else
            for (double v : c.numbers) column.cells.push_back(number_text(v));
        t.columns.push_back(std::move(column));
    }
    return t;
}

Data data_of(const io::ImportedData& imported) {
    Data d;
    const Matrix& lm = imported.landmarks;
    d.specimens = static_cast<int>(lm.rows());
    d.dimensions = imported.dimensions;
    const Eigen::Index width = lm.cols() - 1;  // the last column holds the centroid sizes
    d.landmarks = static_cast<int>(width / imported.dimensions);
    d.coords.reserve(static_cast<std::size_t>(lm.rows() * width));
    for (Eigen::Index s = 0; s < lm.rows(); ++s)
        for (Eigen::Index j = 0; j < width; ++j) d.coords.push_back(lm(s, j));
    d.ids = imported.legend.ids;
    d.source = imported.path;
    d.warnings = imported.warnings;
    d.notices = imported.notices;
    for (const io::Factor& f : imported.legend.factors) {
        Column c{f.name, false, {}, {}};
        for (int code : f.codes) c.text.push_back(code > 0 ? f.levels[static_cast<std::size_t>(code - 1)] : "");
        d.columns.push_back(std::move(c));
    }
    for (const io::Legend::Numbers& n : imported.legend.numbers) d.columns.push_back(Column{n.name, true, {}, n.values});
    return d;
}

Data read(const std::string& path, const std::vector<Option>& import_options) {
    std::vector<std::string> words = command_words("", import_options, api::import_options());
    words.push_back("--import=" + path);
    CommandLine line(std::move(words));
    std::ostringstream out, err;
    BatchProcess process;
    process.out = &out;
    process.err = &err;
    batch::BatchRequest r;
    if (batch::parse_command_line(line.argc(), line.argv(), process, r)) {
        std::string text = err.str();
        if (const auto end = text.find('\n'); end != std::string::npos) text.erase(end);
        throw Error(Error::Usage, text);
    }
    try {
        return data_of(io::import_naming_choices(path, r.import_options));
    } catch (const Refused& e) {
        throw Error(Error::Refused, e.what());
    } catch (const Cancelled&) {
        throw Error(Error::Cancelled, "stopped");
    } catch (const QuillanError& e) {
        throw Error(Error::Failed, e.what());
    }
}

}  // namespace quillan::api
