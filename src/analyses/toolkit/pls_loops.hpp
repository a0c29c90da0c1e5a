// The arithmetic of one permutation of the two-block PLS as loops over
// columns of doubles, on vectors of the compiler's own, so that they can be
// compiled twice: for baseline x86-64 (two doubles a vector) and for AVX2
// (four).  Every loop adds along a column, never across one (no sum is split
// into lanes), and neither copy fuses a multiply with an add, so both give
// the same numbers to the last bit.  Matrices are stored by columns with a
// leading dimension `ld` of at least their rows, the rows beyond holding
// zeros, so a column is whole vectors.
#pragma once

#include <cstddef>

namespace quillan {

struct PlsLoops {
    // ct (ld x wide_rows) = the sum over the n specimens of the narrow
    // block's column times the transposed wide block's column, one of the
    // two blocks taken in `order`: the blocks' cross-products, transposed.
    void (*cross)(const double* wide, std::ptrdiff_t wide_rows, const double* narrow, std::ptrdiff_t ld, const int* order,
                  bool shuffle_wide, std::ptrdiff_t n, double* ct);
    // s (ld x rows) = ct ct' for ct of ld x cols.
    void (*gram)(const double* ct, std::ptrdiff_t ld, std::ptrdiff_t rows, std::ptrdiff_t cols, double* s);
    // q (ld x rows) = p p for the symmetric p (ld x rows).
    void (*square)(const double* p, std::ptrdiff_t ld, std::ptrdiff_t rows, double* q);
    // y (ld) = m x for m (ld x rows).
    void (*apply)(const double* m, std::ptrdiff_t ld, std::ptrdiff_t rows, const double* x, double* y);
};

// The loops for the Procrustes kernel in use: AVX2's where that kernel is
// AVX2 or AVX-512, else the baseline's.
const PlsLoops& pls_loops();
// The baseline's, whatever the processor (for tests).
const PlsLoops& baseline_pls_loops();

// Rows rounded up to whole vectors of four doubles.
constexpr std::ptrdiff_t padded_rows(std::ptrdiff_t rows) { return (rows + 3) / 4 * 4; }

}  // namespace quillan
