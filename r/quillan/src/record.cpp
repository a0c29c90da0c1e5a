// The JSON record of a run as R values: objects become named lists, arrays
// of numbers numeric vectors, arrays of equally long arrays of numbers
// matrices (one row an inner array), arrays of words character vectors.  A
// null inside a vector is NA; a null on its own is NULL.
#include "record.h"

#include <nlohmann/json.hpp>

#include <string>

namespace {

using json = nlohmann::ordered_json;  // keeps the record's own order of keys (run, values, models)

SEXP r_value(const json& j);

enum class Shape { Numbers, Words, Flags, Rows, Mixed };

bool is_number(const json& j) { return j.is_number() || j.is_null(); }

// What an array holds, so that it becomes the R value a user would expect.
Shape shape_of(const json& a) {
    bool numbers = true, words = true, flags = true, rows = true;
    bool any = false;  // a vector of nothing but nulls stays a list
    std::size_t width = 0;
    for (const json& e : a) {
        numbers = numbers && is_number(e);
        words = words && (e.is_string() || e.is_null());
        flags = flags && (e.is_boolean() || e.is_null());
        any = any || !e.is_null();
        if (!rows) continue;
        if (!e.is_array() || e.empty() || (width != 0 && e.size() != width)) {
            rows = false;
            continue;
        }
        width = e.size();
        for (const json& x : e) rows = rows && x.is_number();
    }
    if (a.empty() || !any) return Shape::Mixed;
    if (numbers) return Shape::Numbers;
    if (words) return Shape::Words;
    if (flags) return Shape::Flags;
    return rows ? Shape::Rows : Shape::Mixed;
}

double number_of(const json& j) { return j.is_null() ? NA_REAL : j.get<double>(); }

Rcpp::NumericMatrix matrix_of(const json& a) {
    Rcpp::NumericMatrix m(static_cast<int>(a.size()), static_cast<int>(a[0].size()));
    for (std::size_t i = 0; i < a.size(); ++i)
        for (std::size_t j = 0; j < a[i].size(); ++j) m(static_cast<int>(i), static_cast<int>(j)) = a[i][j].get<double>();
    return m;
}

SEXP array_of(const json& a) {
    const int n = static_cast<int>(a.size());
    switch (shape_of(a)) {
        case Shape::Numbers: {
            Rcpp::NumericVector v(n);
            for (int i = 0; i < n; ++i) v[i] = number_of(a[i]);
            return v;
        }
        case Shape::Words: {
            Rcpp::CharacterVector v(n);
            for (int i = 0; i < n; ++i)
                v[i] = a[i].is_null() ? Rcpp::String(NA_STRING) : Rcpp::String(a[i].get<std::string>(), CE_UTF8);
            return v;
        }
        case Shape::Flags: {
            Rcpp::LogicalVector v(n);
            for (int i = 0; i < n; ++i) v[i] = a[i].is_null() ? NA_LOGICAL : static_cast<int>(a[i].get<bool>());
            return v;
        }
        case Shape::Rows:
            return matrix_of(a);
        case Shape::Mixed:
            break;
    }
    Rcpp::List out(n);
    for (int i = 0; i < n; ++i) out[i] = r_value(a[i]);
    return out;
}

SEXP r_value(const json& j) {
    if (j.is_null()) return R_NilValue;
    if (j.is_boolean()) return Rcpp::wrap(j.get<bool>());
    if (j.is_number()) return Rcpp::wrap(j.get<double>());
    if (j.is_string()) return Rcpp::CharacterVector::create(Rcpp::String(j.get<std::string>(), CE_UTF8));
    if (j.is_array()) return array_of(j);
    Rcpp::List out(j.size());
    Rcpp::CharacterVector names(j.size());
    int i = 0;
    for (auto it = j.begin(); it != j.end(); ++it, ++i) {
        out[i] = r_value(it.value());
        names[i] = Rcpp::String(it.key(), CE_UTF8);
    }
    out.attr("names") = names;
    return out;
}

}  // namespace

SEXP record_value(const std::string& text) {
    if (text.empty()) return R_NilValue;
    return r_value(json::parse(text));
}
