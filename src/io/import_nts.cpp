#include "io/import.hpp"
#include "io/import_reading.hpp"
#include "io/import_refusal.hpp"

#include "platform/capped_read.hpp"

#include <cmath>

namespace quillan::io {

namespace {

// NTS files: a header line (matrix type, rows, columns, missing-value flag
// and value, DIM=) and then the values, read as one stream of tokens.
struct NtsToken {
    std::string text;
    int line;
};

struct NtsHeader {
    std::size_t rows = 0, cols = 0;
    bool row_labels = false, col_labels = false;
    std::optional<std::string> missing;
    int line = 0;
    std::size_t dims = 2;  // coordinates per landmark
};

std::vector<NtsToken> nts_tokens(const TextFile& f) {
    std::vector<NtsToken> tokens;
    for (std::size_t i = 0; i < f.lines.size(); ++i) {
        const std::string line = trim(f.lines[i]);
        if (line.empty() || line.front() == '"') continue;  // comment
        for (auto& tok : split_list(line)) tokens.push_back({tok, static_cast<int>(i) + 1});
    }
    return tokens;
}

// A count of the header: a whole number, with an L after it when labels follow.
std::size_t nts_count(const SpecimenTable& t, const NtsToken& tok, bool& labels) {
    std::string s = tok.text;
    labels = !s.empty() && (s.back() == 'L' || s.back() == 'l');
    if (labels) s.pop_back();
    const auto d = parse_number(s);
    if (!d || *d < 1 || *d != std::floor(*d))
        refuse(t.path, tok.line, "", "the header needs whole counts, not " + in_quotes(tok.text));
    // Checked before the conversion: no count beyond a few billion is real,
    // and a double past the size type's range does not convert.
    if (*d > 4e9) refuse(t.path, tok.line, "", "the header's count " + in_quotes(tok.text) + " is more than any file can hold");
    return static_cast<std::size_t>(*d);
}

// DIM=2 (the default) or DIM=3: x y, or x y z, per landmark; a value
// after the last landmark is the specimen's size.
void nts_dimensions(const SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t& p, NtsHeader& h) {
    double dims = 2;
    while (p < tokens.size() && tokens[p].line == h.line) {
        const std::string u = lower(tokens[p].text);
        if (u.rfind("dim=", 0) == 0) dims = parse_number(u.substr(4)).value_or(0);
        ++p;
    }
    if (dims != 2 && dims != 3) refuse(t.path, h.line, "", "the header's DIM= must be 2 or 3");
    h.dims = static_cast<std::size_t>(dims);
    const std::string layout = h.dims == 3 ? "x1 y1 z1 x2 y2 z2 ..." : "x1 y1 x2 y2 ...";
    if (h.cols == h.dims && h.rows >= 2 && !h.row_labels)
        refuse(t.path, h.line, "",
               "the header announces " + std::to_string(h.rows) + " rows of " + std::to_string(h.dims) +
                   " values: that is the layout of a single specimen, one landmark per row; a file to analyse "
                   "holds one specimen per row (" +
                   layout + ")");
    if (h.cols < 2 * h.dims) refuse(t.path, h.line, "", "fewer than two landmarks per specimen");
    if (h.cols % h.dims > 1)
        refuse(t.path, h.line, "",
               "the header announces " + std::to_string(h.cols) + " values per specimen, which is not " + std::to_string(h.dims) +
                   " coordinates per landmark (" + layout + "), with or without a size after them");
}

NtsHeader nts_header(const SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t& p, std::size_t bytes) {
    if (tokens.size() < 4) refuse(t.path, 0, "", "the header line (type, rows, columns, missing-value flag) is incomplete");
    NtsHeader h;
    h.line = tokens.front().line;
    p = 1;  // after the matrix type
    h.rows = nts_count(t, tokens[p++], h.row_labels);
    h.cols = nts_count(t, tokens[p++], h.col_labels);
    const std::string flag = tokens[p++].text;
    if (flag == "1") {
        if (p >= tokens.size()) refuse(t.path, tokens.back().line, "", "the header announces a missing value but gives none");
        h.missing = tokens[p++].text;
    }
    nts_dimensions(t, tokens, p, h);
    // Every value takes at least two bytes (a digit and a separator): a
    // header announcing more than that is wrong, not a truncated file, and
    // is refused before anything is set aside for its values.
    const double announced = static_cast<double>(h.rows) * static_cast<double>(h.cols);
    if (announced > static_cast<double>(bytes / 2 + 1))
        refuse(t.path, h.line, "",
               "the header announces " + std::to_string(h.rows) + " specimens of " + std::to_string(h.cols) +
                   " values, more values than a file of " + std::to_string(bytes) + " bytes can hold");
    return h;
}

void nts_labels(SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t& p, const NtsHeader& h) {
    auto need = [&](std::size_t count, const std::string& what) {
        if (p + count > tokens.size())
            refuse(t.path, tokens.back().line, "", "the file ends before its " + what + " (a truncated file?)");
    };
    if (h.row_labels) {
        need(h.rows, std::to_string(h.rows) + " row labels");
        for (std::size_t i = 0; i < h.rows; ++i) t.ids.push_back(tokens[p++].text);
    } else {
        t.ids.assign(h.rows, "");
    }
    if (h.col_labels) {
        need(h.cols, std::to_string(h.cols) + " column labels");
        p += h.cols;
    }
}

// A specimen's values may run over several lines but end with one: a
// value more or less on a row would otherwise shift every specimen after
// it by one coordinate without a word, and the count at the file's end
// would blame the wrong line.  `p` is just past the specimen's values.
void ends_its_row(const SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t p, const NtsHeader& h,
                  const std::string& specimen) {
    const int last = tokens[p - 1].line;
    if (p >= tokens.size() || tokens[p].line != last) return;
    const int first = t.lines.back();
    std::size_t on_first = 0;
    for (std::size_t q = p - h.cols; q < tokens.size() && tokens[q].line == first; ++q) ++on_first;
    refuse(t.path, first, specimen,
           "the row holds " + std::to_string(on_first) + " values, but the header announces " + std::to_string(h.cols) +
               " per specimen" +
               (first != last ? "; the specimen runs on into line " + std::to_string(last) + ", where the next one begins" : ""));
}

void nts_specimen(SpecimenTable& t, const std::vector<NtsToken>& tokens, std::size_t& p, const NtsHeader& h, std::size_t s) {
    t.coords.emplace_back();
    t.sizes.emplace_back();
    const std::string specimen = t.specimen_name(s);
    if (p >= tokens.size())
        refuse(t.path, tokens.back().line, specimen,
               "the header announces " + std::to_string(h.rows) + " specimens but the file ends after " + std::to_string(s) +
                   " (a truncated file?)");
    t.lines.push_back(tokens[p].line);
    const bool trailing = h.cols % h.dims == 1;
    for (std::size_t j = 0; j < h.cols; ++j) {
        if (p >= tokens.size())
            refuse(t.path, tokens.back().line, specimen,
                   "the file ends within this specimen: " + std::to_string(j) + " of its " + std::to_string(h.cols) +
                       " values are there (a truncated file?)");
        const NtsToken& tok = tokens[p++];
        const int landmark = static_cast<int>(j / h.dims) + 1;
        if (h.missing && tok.text == *h.missing && !(trailing && j + 1 == h.cols)) {
            t.coords.back().push_back(gap(t, tok.line, landmark, tok.text));
            continue;
        }
        if (trailing && j + 1 == h.cols) {
            const auto d = parse_number(tok.text);
            if (!d) refuse(t.path, tok.line, specimen, "text where the last value belongs (" + in_quotes(tok.text) + ")");
            t.sizes.back() = *d;
        } else {
            t.coords.back().push_back(coordinate(t, tok.line, specimen, landmark, tok.text));
        }
    }
    ends_its_row(t, tokens, p, h, specimen);
}

std::size_t byte_count(const TextFile& f) {
    std::size_t n = 0;
    for (const auto& line : f.lines) n += line.size() + 1;
    return n;
}

}  // namespace

SpecimenTable read_nts(const TextFile& f) {
    SpecimenTable t;
    t.path = f.path;
    t.name = f.name;
    t.image_coordinates = true;
    const std::vector<NtsToken> tokens = nts_tokens(f);
    std::size_t p = 0;
    const NtsHeader h = nts_header(t, tokens, p, byte_count(f));
    nts_labels(t, tokens, p, h);
    t.landmarks = static_cast<int>(h.cols / h.dims);
    t.dimensions = static_cast<int>(h.dims);
    t.image_coordinates = h.dims == 2;
    for (std::size_t s = 0; s < h.rows; ++s) nts_specimen(t, tokens, p, h, s);
    if (p < tokens.size())
        refuse(t.path, tokens[p].line, "",
               "more values than the header's " + std::to_string(h.rows) + " specimens of " + std::to_string(h.cols) + " values");
    finish_columns(t);
    return t;
}

}  // namespace quillan::io
