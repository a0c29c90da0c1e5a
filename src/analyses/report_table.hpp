// The tables of a report, each written once for both of its readers: the
// report's text and the record's numbers.  A table has columns (a header, a
// width, the side it is aligned to and, where its numbers join the record,
// the key they go under) and rows (the record model a row's numbers belong
// to, and a cell a column: the text shown and the number behind it).  The
// text and the record are two functions of the same rows, so a number the
// report shows is the number the record holds.
#pragma once

#include "analyses/result_record.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillan {

// One number in a printf format of one conversion ("%.6g").
std::string formatted(const char* format, double v);
// A number as the reports print it: %.6g, or %.4f with `fixed`.
std::string shown(double v, bool fixed = false);
// `s` padded to `width` (on the right when `left`); a wider `s` gets one
// blank on that side, so that columns stay apart.
std::string padded(const std::string& s, std::size_t width, bool left = false);

class ReportTable {
public:
    struct Column {
        std::string header;
        std::size_t width;
        bool left = false;     // aligned left (labels), else right (numbers)
        std::string key = {};  // the record's key of the column's numbers; "" for none
        // A label as wide as its column or wider is written as it is, with
        // no blank of its own: the column after it is of numbers, aligned
        // right, whose own padding keeps the two apart.  Headers keep their
        // blank.
        bool flush = false;
        std::size_t gap = 0;  // blanks written before the column, apart from its width (between groups of columns)
    };
    struct Cell {
        std::string text;
        std::optional<double> value = std::nullopt;  // recorded under the column's key
    };
    // A number as the reports print it (shown), recorded as it is.
    static Cell number(double v, bool fixed = false) { return {shown(v, fixed), v}; }
    // A number in a printf format of one conversion, recorded as it is.
    static Cell as(const char* format, double v) { return {formatted(format, v), v}; }
    // Words only: a label, a blank.
    static Cell words(std::string s) { return {std::move(s), std::nullopt}; }

    explicit ReportTable(std::vector<Column> columns) : columns_(std::move(columns)) {}
    // A row of the record model `model` ("" for a row the record leaves out);
    // `tail` follows the last cell on its line (a star, a note).  A row of
    // fewer cells than columns ends after its last.
    ReportTable& row(std::string model, std::vector<Cell> cells, std::string tail = {});
    // Lines end at their last word (no blanks of empty cells after it).
    ReportTable& trim_lines() {
        trim_ = true;
        return *this;
    }

    // No header line: the rows follow the words before the table.
    ReportTable& headless() {
        headless_ = true;
        return *this;
    }

    // The header line and a line a row.
    std::string text() const;
    // A record model a row, its cells' numbers under their columns' keys;
    // `more`, when given, adds what else the record holds of row i (its tests).
    void record(ResultRecord& rec, const std::function<void(std::size_t, RecordedModel&)>& more = {}) const;
    // Every row's numbers into the one model `m`, each under the name
    // `key(i, column's key)` gives it (a table of one model's axes or
    // components: "axis 1 r", "C2 variance").
    void record_into(RecordedModel& m, const std::function<std::string(std::size_t, const std::string&)>& key) const;

private:
    struct Row {
        std::string model;
        std::vector<Cell> cells;
        std::string tail;
    };
    std::string line(const std::vector<std::string>& cells, const std::string& tail, bool header) const;

    std::vector<Column> columns_;
    std::vector<Row> rows_;
    bool trim_ = false;
    bool headless_ = false;
};

}  // namespace quillan
