#include "analyses/report_table.hpp"

#include <cstdio>
#include <stdexcept>

namespace quillan {

std::string formatted(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string shown(double v, bool fixed) { return formatted(fixed ? "%.4f" : "%.6g", v); }

std::string padded(const std::string& s, std::size_t width, bool left) {
    // A value as wide as its column or wider keeps a blank on the side of
    // its neighbour, so that two columns never run together.
    if (s.size() >= width) return left ? s + " " : " " + s;
    return left ? s + std::string(width - s.size(), ' ') : std::string(width - s.size(), ' ') + s;
}

ReportTable& ReportTable::row(std::string model, std::vector<Cell> cells, std::string tail) {
    if (cells.size() > columns_.size()) throw std::logic_error("a report table's row has a cell a column at most");
    rows_.push_back({std::move(model), std::move(cells), std::move(tail)});
    return *this;
}

std::string ReportTable::line(const std::vector<std::string>& cells, const std::string& tail, bool header) const {
    std::string text;
    for (std::size_t j = 0; j < cells.size(); ++j) {
        const Column& c = columns_[j];
        text += std::string(c.gap, ' ');
        text += c.flush && !header && cells[j].size() >= c.width ? cells[j] : padded(cells[j], c.width, c.left);
    }
    text += tail;
    if (trim_)
        while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
}

std::string ReportTable::text() const {
    std::vector<std::string> headers;
    for (const Column& c : columns_) headers.push_back(c.header);
    std::string text = headless_ ? std::string() : line(headers, "", true);
    for (const Row& r : rows_) {
        std::vector<std::string> cells;
        for (const Cell& c : r.cells) cells.push_back(c.text);
        text += line(cells, r.tail, false);
    }
    return text;
}

void ReportTable::record(ResultRecord& rec, const std::function<void(std::size_t, RecordedModel&)>& more) const {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Row& r = rows_[i];
        if (r.model.empty()) continue;
        RecordedModel& m = rec.model(r.model);
        for (std::size_t j = 0; j < r.cells.size(); ++j)
            if (!columns_[j].key.empty() && r.cells[j].value) m.set(columns_[j].key, *r.cells[j].value);
        if (more) more(i, m);
    }
}

void ReportTable::record_into(RecordedModel& m, const std::function<std::string(std::size_t, const std::string&)>& key) const {
    for (std::size_t i = 0; i < rows_.size(); ++i)
        for (std::size_t j = 0; j < rows_[i].cells.size(); ++j)
            if (!columns_[j].key.empty() && rows_[i].cells[j].value) m.set(key(i, columns_[j].key), *rows_[i].cells[j].value);
}

}  // namespace quillan
