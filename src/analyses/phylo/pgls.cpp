#include "analyses/phylo/pgls.hpp"

#include "analyses/phylo/tip_matching.hpp"
#include "analyses/phylo/tree_inputs.hpp"
#include "platform/error.hpp"

namespace quillan {

void transform_for_tree(const PhyloTree& tree, const std::vector<int>& tip_of_row, PhyloTransform how, Eigen::MatrixXd& y,
                        Eigen::MatrixXd& x) {
    if (how == PhyloTransform::Contrasts) {
        const TreeAlgebra algebra(tree, tip_of_row);
        y = algebra.transform(y);
        x = algebra.transform(x);
        return;
    }
    // C = L L' with L = U', so P = L^-1.  The algebra's checks come first,
    // so that a singular tree is refused by name rather than by the
    // factorisation.
    static_cast<void>(TreeAlgebra(tree, tip_of_row));
    const Eigen::LLT<Eigen::MatrixXd> llt(tree_covariance(tree, tip_of_row));
    if (llt.info() != Eigen::Success)
        throw Refused("The covariance of the tree " + tree.source +
                      " is too close to singular to factor; try --phylo-transform contrasts.");
    y = llt.matrixL().solve(y);
    x = llt.matrixL().solve(x);
}

std::optional<PglsInputs> pgls_inputs(const ActionEnv& env, const Eigen::MatrixXd& shapes, const ModelDesign& design) {
    const OptionValues& o = env.settings();
    const auto how = o.has("phylo-transform") ? o.choice<PhyloTransform>("phylo-transform") : PhyloTransform::Auto;
    if (!env.ws().tree || how == PhyloTransform::None) return std::nullopt;
    const PhyloTree& tree = *env.ws().tree;
    const std::vector<std::string>& ids = env.specimen_ids();
    if (ids.size() != static_cast<std::size_t>(shapes.rows()))
        throw Refused(
            "A model on the tree matches the specimens to its tips by their IDs, and the specimens have none: load "
            "landmarks whose file names them (TPS ID=, a table's ID column).");
    const TipMatch m = match_tips(tree, ids, false, "specimen");
    PglsInputs in;
    in.transform = how != PhyloTransform::Auto         ? how
                   : shapes.rows() <= kLargestCholesky ? PhyloTransform::Cholesky
                                                       : PhyloTransform::Contrasts;
    in.y = shapes;
    in.design = design;
    transform_for_tree(m.tree, m.tip_of_row, in.transform, in.y, in.design.x);
    in.words = "Tree: " + (tree.source.empty() ? std::string("loaded") : tree.source) + ", " +
               std::to_string(m.tree.tip_count()) + " tips matched to the specimens' IDs\n" +
               (in.transform == PhyloTransform::Cholesky
                    ? "Phylogenetic GLS: shapes and design multiplied by the inverse of the Cholesky factor of the tree's "
                      "covariance, as RRPP's lm.rrpp with Cov\n"
                    : "Phylogenetic GLS: shapes and design turned into independent contrasts and the root (linear in the "
                      "tips); SS, F and Rsq as the Cholesky transformation gives them, p and Z from permutations of the "
                      "contrasts\n");
    return in;
}

}  // namespace quillan
