#include "geometry/paced_basis.hpp"

#include <algorithm>

namespace quillan {

namespace {

using Index = Eigen::Index;
using Panel = Eigen::Block<Eigen::MatrixXd, Eigen::Dynamic, Eigen::Dynamic>;
using Coefficients = Eigen::Block<Eigen::VectorXd, Eigen::Dynamic, 1>;

// Eigen's own panel width for both steps; with it every panel below is the
// call Eigen makes, with the same arguments, so the bits are Eigen's.
constexpr Index kPanel = 48;

}  // namespace

Eigen::MatrixXd paced_basis(const Eigen::MatrixXd& x, const std::function<void()>& between) {
    const Index rows = x.rows(), cols = x.cols(), size = std::min(rows, cols);
    // Below two panels Eigen takes other paths (one reflector at a time):
    // small designs are done at once, as quickly as a step is taken.
    if (size < 2 * kPanel || cols < 2 || rows == cols) {
        between();
        if (cols == 0) return Eigen::MatrixXd(rows, 0);
        const Eigen::HouseholderQR<Eigen::MatrixXd> qr(x);
        return qr.householderQ() * Eigen::MatrixXd::Identity(rows, cols);
    }
    // The factorisation, as householder_qr_inplace_blocked runs it.
    Eigen::MatrixXd qr = x;
    Eigen::VectorXd coefficients(size);
    Eigen::RowVectorXd temp(cols);
    for (Index k = 0; k < size; k += kPanel) {
        between();
        const Index bs = std::min(size - k, kPanel), trailing = cols - k - bs, below = rows - k;
        Panel panel = qr.block(k, k, below, bs);
        Coefficients segment = coefficients.segment(k, bs);
        Eigen::internal::householder_qr_inplace_unblocked(panel, segment, temp.data());
        if (trailing) {
            Panel rest = qr.block(k, k + bs, below, trailing);
            Eigen::internal::apply_block_householder_on_the_left(rest, panel, segment, false);
        }
    }
    // Q times the first columns of the identity, as HouseholderSequence's
    // applyThisOnTheLeft applies its reflectors by blocks, the last first.
    Eigen::MatrixXd q = Eigen::MatrixXd::Identity(rows, cols);
    const Eigen::VectorXd conjugated = coefficients.conjugate();
    for (Index i = 0; i < size; i += kPanel) {
        between();
        const Index end = size - i, k = std::max<Index>(0, end - kPanel), bs = end - k;
        const Eigen::Block<Eigen::MatrixXd, Eigen::Dynamic, Eigen::Dynamic> vectors(qr, k, k, rows - k, bs);
        Panel target(q, k, 0, rows - k, cols);
        Eigen::internal::apply_block_householder_on_the_left(target, vectors, conjugated.segment(k, bs), true);
    }
    return q;
}

}  // namespace quillan
