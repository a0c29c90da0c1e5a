#include "platform/value.hpp"

#include "platform/error.hpp"
#include "platform/format.hpp"

#include <sstream>

namespace quillan {

Matrix matrix_from_rows(const std::vector<std::vector<double>>& rows) {
    if (rows.empty()) return Matrix();
    Matrix m(static_cast<Eigen::Index>(rows.size()), static_cast<Eigen::Index>(rows[0].size()));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].size() != rows[0].size()) throw QuillanError("matrix_from_rows: ragged rows");
        for (std::size_t j = 0; j < rows[i].size(); ++j)
            m(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) = rows[i][j];
    }
    return m;
}

Codes column_codes(const Matrix& m, Eigen::Index j) {
    Codes c(static_cast<std::size_t>(m.rows()));
    for (Eigen::Index i = 0; i < m.rows(); ++i) c[static_cast<std::size_t>(i)] = m(i, j);
    return c;
}

std::vector<double> elements(const Matrix& m) {
    std::vector<double> out;
    out.reserve(static_cast<std::size_t>(m.size()));
    for (Eigen::Index j = 0; j < m.cols(); ++j)
        for (Eigen::Index i = 0; i < m.rows(); ++i) out.push_back(m(i, j));
    return out;
}

bool Record::has(const std::string& name) const { return find(name) != nullptr; }

const Value* Record::find(const std::string& name) const {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return &values[i];
    return nullptr;
}

Value& Record::operator[](const std::string& name) {
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == name) return values[i];
    names.push_back(name);
    values.emplace_back();
    return values.back();
}

Value::Value(double d) : v(Matrix::Constant(1, 1, d)) {}

bool Value::is_empty() const { return numel() == 0 && !is_record(); }

const Matrix& Value::matrix() const {
    if (!is_matrix()) throw QuillanError("a numeric value was expected");
    return std::get<Matrix>(v);
}
const std::string& Value::text() const {
    if (!is_text()) throw QuillanError("a text was expected");
    return std::get<std::string>(v);
}
const List& Value::list() const {
    if (!is_list()) throw QuillanError("a list was expected");
    return std::get<List>(v);
}
const Record& Value::record() const {
    if (!is_record()) throw QuillanError("a record was expected");
    return std::get<Record>(v);
}
Record& Value::record() {
    if (!is_record()) throw QuillanError("a record was expected");
    return std::get<Record>(v);
}

double Value::scalar() const {
    const Matrix& m = matrix();
    if (m.size() != 1) throw QuillanError("a single number was expected");
    return m(0, 0);
}

std::size_t Value::numel() const {
    if (is_matrix()) return static_cast<std::size_t>(matrix().size());
    if (is_text()) return text().size();
    if (is_list()) return list().size();
    return 1;
}

std::string describe(const Value& v) {
    if (v.is_text()) return v.text();
    if (v.is_list()) {
        std::string s = "{";
        for (std::size_t i = 0; i < v.list().size(); ++i) {
            if (i) s += ", ";
            s += describe(v.list()[i]);
        }
        return s + "}";
    }
    if (v.is_record()) {
        std::string s = "[record:";
        for (const auto& n : v.record().names) s += " " + n;
        return s + "]";
    }
    return format_matrix(v.matrix());
}

Matrix row_of(const Codes& c) {
    Matrix m(1, static_cast<Eigen::Index>(c.size()));
    for (std::size_t i = 0; i < c.size(); ++i) m(0, static_cast<Eigen::Index>(i)) = c[i];
    return m;
}

Matrix column_of(const Codes& c) {
    Matrix m(static_cast<Eigen::Index>(c.size()), 1);
    for (std::size_t i = 0; i < c.size(); ++i) m(static_cast<Eigen::Index>(i), 0) = c[i];
    return m;
}

}  // namespace quillan
