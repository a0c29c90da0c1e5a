// The program's value types.
//
// Inside the program a landmark table, a group list or a covariate list is a
// dense matrix of doubles stored row by row, so that one specimen's
// configuration is contiguous in memory.  A code vector is a plain vector of
// doubles compared for exact equality.  The dynamic `Value` exists only at the
// edge where operations are called by name (the named-operation table, the
// command line of the desktop program, window properties).
#pragma once

#include <Eigen/Dense>

#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quillan {

using Matrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;
using Codes = std::vector<double>;

// Builds a matrix from rows given as an initializer list; handy for tests and
// small constant tables.
Matrix matrix_from_rows(const std::vector<std::vector<double>>& rows);

// Column j (0-based) of a matrix as a code vector.
Codes column_codes(const Matrix& m, Eigen::Index j);

// The elements of a matrix in column-major order (how a platform vector is
// indexed when it is a matrix).
std::vector<double> elements(const Matrix& m);

// A code vector as a 1-by-n or an n-by-1 matrix.
Matrix row_of(const Codes& c);
Matrix column_of(const Codes& c);

struct Value;

// An ordered record: field names in insertion order.
struct Record {
    std::vector<std::string> names;
    std::vector<Value> values;

    bool has(const std::string& name) const;
    const Value* find(const std::string& name) const;
    Value& operator[](const std::string& name);  // appends an empty field when missing
};

using List = std::vector<Value>;

// A dynamic value: a matrix, a text, a list or a record.
struct Value {
    std::variant<Matrix, std::string, List, Record> v;

    Value() : v(Matrix()) {}
    Value(Matrix m) : v(std::move(m)) {}
    Value(double d);
    Value(std::string s) : v(std::move(s)) {}
    Value(const char* s) : v(std::string(s)) {}
    Value(List l) : v(std::move(l)) {}
    Value(Record r) : v(std::move(r)) {}

    bool is_matrix() const { return std::holds_alternative<Matrix>(v); }
    bool is_text() const { return std::holds_alternative<std::string>(v); }
    bool is_list() const { return std::holds_alternative<List>(v); }
    bool is_record() const { return std::holds_alternative<Record>(v); }
    bool is_empty() const;  // a 0-element matrix, an empty text or an empty list

    const Matrix& matrix() const;
    const std::string& text() const;
    const List& list() const;
    const Record& record() const;
    Record& record();

    // The single number held by a 1x1 matrix; fails otherwise.
    double scalar() const;
    // Number of elements of a matrix, characters of a text, entries of a list.
    std::size_t numel() const;
};

// Short description of a value for console echoes: `name = value`.
std::string describe(const Value& v);

}  // namespace quillan
