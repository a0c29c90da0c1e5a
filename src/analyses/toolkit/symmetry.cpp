#include "analyses/toolkit/symmetry.hpp"

#include "analyses/degenerate.hpp"
#include "analyses/linear_models/model_shapes.hpp"
#include "geometry/geometry.hpp"
#include "geometry/partial_procrustes.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <set>

namespace quillan {

namespace {

// Specimen i's configuration reflected in its first axis.
void reflect_row(Matrix& m, Eigen::Index i, int dimensions, int landmarks) {
    for (int l = 0; l < landmarks; ++l) m(i, l * dimensions) = -m(i, l * dimensions);
}

// The side of each configuration the model sees: the matching sides, or
// for object symmetry the originals (0) and their reflections (1).
std::vector<int> model_sides(const SymmetryDesign& d) {
    if (!d.object()) return d.side;
    std::vector<int> s(2 * d.individual.size(), 0);
    std::fill(s.begin() + static_cast<std::ptrdiff_t>(d.individual.size()), s.end(), 1);
    return s;
}

std::vector<int> model_individuals(const SymmetryDesign& d) {
    std::vector<int> ind = d.individual;
    if (d.object()) ind.insert(ind.end(), d.individual.begin(), d.individual.end());
    return ind;
}

ModelVariable factor_variable(const char* name, const std::vector<int>& codes, int levels) {
    ModelVariable v;
    v.name = name;
    for (int l = 0; l < levels; ++l) v.levels.push_back(std::to_string(l + 1));
    v.codes = codes;
    return v;
}

// `what` is "shape" or "size": the histograms of the two tables' F ratios
// are told apart by it.
ModelTable symmetry_table(PermutationEngine& engine, const Eigen::MatrixXd& y, const SymmetryDesign& d, long long nperm, int loop,
                          const std::string& what) {
    const std::vector<int> ind = model_individuals(d);
    const ModelVariables vars = {factor_variable("ind", ind, d.individuals), factor_variable("side", model_sides(d), 2)};
    const ModelDesign design =
        build_design(d.replicates ? "ind + side + ind:side" : "ind + side", vars, static_cast<int>(ind.size()));
    ModelTestOptions test;
    test.nperm = nperm;
    if (d.replicates) test.error = {2, 2, -1};  // individuals and sides against their interaction
    for (const char* term : {"individuals", "sides", "individual x side"})
        test.statistic_names.push_back("Symmetry: F ratio of " + std::string(term) + " (" + what + ")");
    return test_linear_model(engine, y, design, test, loop);
}

}  // namespace

void check_symmetry_design(const SymmetryDesign& d, int specimens, int landmarks) {
    if (d.object()) {
        if (d.land_pairs.empty())
            throw Refused("Object symmetry needs the pairs of matching landmarks: give their file with --land-pairs FILE.");
        std::set<int> seen;
        for (const auto& [a, b] : d.land_pairs) {
            for (int l : {a, b}) {
                if (l < 0 || l >= landmarks)
                    throw Refused("The land pairs name landmark " + std::to_string(l + 1) + ", but the specimens have " +
                                  std::to_string(landmarks) + " landmarks.");
                if (!seen.insert(l).second)
                    throw Refused("The land pairs name landmark " + std::to_string(l + 1) +
                                  " twice: each landmark has at most one partner.");
            }
        }
        return;
    }
    std::vector<int> count(static_cast<std::size_t>(2 * d.individuals), 0);
    for (int i = 0; i < specimens; ++i)
        ++count[static_cast<std::size_t>(2 * d.individual[static_cast<std::size_t>(i)] + d.side[static_cast<std::size_t>(i)])];
    for (int k = 0; k < d.individuals; ++k)
        for (int s = 0; s < 2; ++s) {
            const int c = count[static_cast<std::size_t>(2 * k + s)];
            if (c == 0)
                throw Refused("Individual " + std::to_string(k + 1) + " has no configuration of side " + std::to_string(s + 1) +
                              ": every individual needs both sides.");
            if (d.replicates && c < 2)
                throw Refused("Individual " + std::to_string(k + 1) + " has one configuration of side " + std::to_string(s + 1) +
                              ": replicates must repeat every side of every individual.");
        }
}

Matrix symmetry_configurations(const Matrix& landmarks, int dimensions, const SymmetryDesign& d, Alignment alignment,
                               GpaSteps steps) {
    const int k = static_cast<int>((landmarks.cols() - 1) / dimensions);
    const Eigen::Index n = landmarks.rows();
    if (!d.object()) {
        Matrix m = landmarks;
        for (Eigen::Index i = 0; i < n; ++i)
            if (d.side[static_cast<std::size_t>(i)] == d.mirror_side) reflect_row(m, i, dimensions, k);
        return m;
    }
    Matrix first = landmarks;
    if (alignment == Alignment::Partial)
        first.leftCols(landmarks.cols() - 1) = tangent_shapes(landmarks, alignment, dimensions, steps);
    Matrix both(2 * n, landmarks.cols());
    both.topRows(n) = first;
    both.bottomRows(n) = first;
    for (Eigen::Index i = n; i < 2 * n; ++i) {
        for (const auto& [a, b] : d.land_pairs)
            for (int c = 0; c < dimensions; ++c) std::swap(both(i, a * dimensions + c), both(i, b * dimensions + c));
        reflect_row(both, i, dimensions, k);
    }
    return both;
}

SymmetryResult symmetry_test(PermutationEngine& engine, const Matrix& landmarks, int dimensions, const SymmetryDesign& d,
                             Alignment alignment, long long nperm, GpaSteps steps) {
    const Matrix configs = symmetry_configurations(landmarks, dimensions, d, alignment, steps);
    const Eigen::MatrixXd y = tangent_shapes(configs, alignment, dimensions, steps);
    require_shape_variation((y.rowwise() - y.colwise().mean()).squaredNorm(), y.rows());
    // Object symmetry: identical specimens differ from their reflections,
    // but not from each other, so nothing varies among the individuals.
    if (d.object()) {
        const auto n = landmarks.rows();
        require_shape_variation((y.topRows(n).rowwise() - y.topRows(n).colwise().mean()).squaredNorm(), n);
    }
    const StreamIds loops = engine.take_streams(2);  // shape, then size
    SymmetryResult r;
    r.shape = symmetry_table(engine, y, d, nperm, loops.at(0), "shape");
    if (!d.object()) r.size = symmetry_table(engine, centroid_sizes(configs, dimensions), d, nperm, loops.at(1), "size");
    // Each individual's mean shape on each side, in gpagen's coordinates
    // under partial alignment (turned to the consensus's principal axes, so
    // the components read as geomorph gives them; the tables do not depend on
    // the turn).  Converged shapes are on their consensus's principal axes
    // already.
    const Eigen::MatrixXd c =
        alignment == Alignment::Partial && steps == GpaSteps::Gpagen ? gpagen_coordinates(configs, dimensions) : y;
    const std::vector<int> ind = model_individuals(d), side = model_sides(d);
    Eigen::MatrixXd sums = Eigen::MatrixXd::Zero(2 * d.individuals, c.cols());
    Eigen::VectorXd counts = Eigen::VectorXd::Zero(2 * d.individuals);
    for (Eigen::Index i = 0; i < c.rows(); ++i) {
        const Eigen::Index cell = 2 * ind[static_cast<std::size_t>(i)] + side[static_cast<std::size_t>(i)];
        sums.row(cell) += c.row(i);
        counts(cell) += 1;
    }
    Eigen::MatrixXd difference(d.individuals, c.cols());
    r.symmetric.resize(d.individuals, c.cols());
    for (int k = 0; k < d.individuals; ++k) {
        difference.row(k) = sums.row(2 * k) / counts(2 * k) - sums.row(2 * k + 1) / counts(2 * k + 1);
        r.symmetric.row(k) = (sums.row(2 * k) + sums.row(2 * k + 1)) / (counts(2 * k) + counts(2 * k + 1));
    }
    r.mean = c.colwise().mean();
    r.asymmetric = difference.rowwise() + r.mean;
    r.directional = difference.colwise().mean().transpose();
    r.directional_length = r.directional.norm();
    for (int k = 0; k < d.individuals; ++k) {
        r.asymmetry.push_back(difference.row(k).norm());
        r.fluctuating.push_back((difference.row(k) - r.directional.transpose()).norm());
    }
    return r;
}

std::vector<std::string> symmetry_row_names(const SymmetryDesign& d) {
    if (d.replicates) return {"ind", "side", "ind:side", "ind:side:replicate"};
    return {"ind", "side", "ind:side"};
}

}  // namespace quillan
