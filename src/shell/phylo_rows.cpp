// The rows of the analyses on a phylogeny.
#include "shell/action_options.hpp"
#include "shell/action_table.hpp"

#include "analyses/analyses.hpp"

namespace quillan {

std::vector<OptionDecl> tree_matching_options() {
    return {{.name = "prune",
             .kind = OptionKind::Flag,
             .help = "Leave out the tips without a specimen and the specimens without a tip (the report says how many)"},
            {.name = "species-means",
             .help = "Average the aligned shapes of each level of this factor (an imported column) and match the levels to "
                     "the tips"}};
}

// The model's options and the one choice it has on a tree.
std::vector<OptionDecl> pgls_options(std::vector<OptionDecl> options) {
    options.push_back({.name = "phylo-transform",
                       .kind = OptionKind::Choice,
                       .help = "With a tree loaded, the model is a phylogenetic GLS (PGLS): auto (cholesky up to 2000 "
                               "specimens, contrasts beyond), cholesky (RRPP's transformation), contrasts (independent "
                               "contrasts, linear in the tips: the same SS, F and Rsq, a null distribution of its own), or none "
                               "(an ordinary model, the tree set aside)",
                       .fallback = "auto",
                       .choices = {"auto", "cholesky", "contrasts", "none"}});
    return options;
}

namespace {

std::vector<OptionDecl> phylo_pca_options(std::vector<OptionDecl> options) {
    options.push_back({.name = "components",
                       .kind = OptionKind::Choice,
                       .help = "pca (the tips' principal components, the ancestors projected), gls (the phylogenetic PCA, "
                               "about the GLS mean) or paca (the phylogenetically aligned components)",
                       .fallback = "pca",
                       .choices = {"pca", "gls", "paca"}});
    return options;
}

std::vector<OptionDecl> evol_rates_options(std::vector<OptionDecl> options) {
    options.push_back(
        {.name = "group", .help = "The factor (an imported column, or G1) whose groups of tips have their rates compared"});
    options.push_back(partition_option());
    options.push_back({.name = "method",
                       .kind = OptionKind::Choice,
                       .help = "How the ratio is tested: permutation (the transformed shapes shuffled over the tips; groups "
                               "only) or simulation (Brownian motion on the tree with the rate matrix of all tips); modules "
                               "default to simulation",
                       .fallback = "permutation",
                       .choices = {"permutation", "simulation"}});
    options.push_back({.name = "geomorph-quirks",
                       .kind = OptionKind::Choice,
                       .help = "on: count as geomorph's compare.evol.rates and compare.multi.evol.rates do (the observed "
                               "order one of the permutations; a simulated module's rate per variable of the whole shape, "
                               "its pairs matched by the labels' first appearance); off: the permutations beside the observed "
                               "order, each module by its own variables",
                       .fallback = "on",
                       .choices = {"on", "off"}});
    return options;
}

std::vector<OptionDecl> with(std::vector<OptionDecl> options, std::vector<OptionDecl> more) {
    for (auto& o : more) options.push_back(std::move(o));
    return options;
}

}  // namespace

std::vector<ActionRow> phylo_rows() {
    std::vector<OptionDecl> options = {alignment_option(), gpa_steps_option()};
    for (auto& o : tree_matching_options()) options.push_back(std::move(o));
    return {
        {.name = "RunPhysignal",
         .alias = "physignal",
         .kind = ActionKind::Analysis,
         .analysis = run_physignal,
         .description = "Phylogenetic signal of shape on the loaded tree: Kmult, Z and p, and K along the aligned components",
         .needs = kNeedsLandmarks | kNeedsTree,
         .writes_report = true,
         .statistics = {{"Phylogenetic signal: Kmult"}},
         .options = options},
        {.name = "RunPhyloPca",
         .alias = "phylo-pca",
         .kind = ActionKind::Analysis,
         .analysis = run_phylo_pca,
         .description = "The phylomorphospace: the tips and their ancestors (GLS estimates) in principal, phylogenetic (GLS) "
                        "or phylogenetically aligned components",
         .needs = kNeedsLandmarks | kNeedsTree,
         .writes_report = true,
         .permutes = false,
         .options = phylo_pca_options(options)},
        {.name = "RunEvolRates",
         .alias = "evol-rates",
         .kind = ActionKind::Analysis,
         .analysis = run_evol_rates,
         .description = "Rates of shape evolution on the loaded tree, of groups of tips (--group) or modules of landmarks "
                        "(--partition): each rate, their ratios, Z and p",
         .needs = kNeedsLandmarks | kNeedsTree,
         .writes_report = true,
         .statistics = {{"Rates of evolution: largest ratio of two rates"}},
         .options = evol_rates_options(options)},
        {.name = "RunPhyloIntegration",
         .alias = "phylo-integration",
         .kind = ActionKind::Analysis,
         .analysis = run_phylo_integration,
         .description = "Integration on the loaded tree: two-block PLS of the modules of --partition FILE, or of shape and "
                        "the table of --block2 FILE, on the tips' phylogenetically transformed data: r-PLS, Z and p",
         .needs = kNeedsLandmarks | kNeedsTree,
         .writes_report = true,
         // Each pair's r-PLS, then their mean (with --block2, the one pair twice).
         .statistics = {{"Phylogenetic integration: r-PLS of the first pair of modules", "Phylogenetic integration: mean r-PLS"}},
         .options = with(options, {partition_option(), block2_option()})},
        {.name = "RunPhyloModularity",
         .alias = "phylo-modularity",
         .kind = ActionKind::Analysis,
         .analysis = run_phylo_modularity,
         .description = "Modularity on the loaded tree: the covariance ratio of the modules of --partition FILE on the tips' "
                        "phylogenetically transformed shapes, against random partitions",
         .needs = kNeedsLandmarks | kNeedsTree,
         .writes_report = true,
         .statistics = {{"Phylogenetic modularity: covariance ratio of a random partition"}},
         .options = with(options, {partition_option(), no_rotation_search_option()})},
    };
}

}  // namespace quillan
