#include "shell/action_options.hpp"

namespace quillan {

namespace {

using O = OptionKind;

}  // namespace

// The options several actions share, declared once.
OptionDecl alignment_option() {
    return {.name = "alignment",
            .kind = O::Choice,
            .help =
                "Superimposition of the shapes (and of --export-specimens' coordinates): full (the program's full Procrustes "
                "fits) or partial (partial Procrustes, unit centroid size, tangent projection, as geomorph's gpagen)",
            .fallback = "full",
            .choices = {"full", "partial"},
            .for_exports = true};
}
OptionDecl gpa_steps_option() {
    return {.name = "gpa-steps",
            .kind = O::Choice,
            .help =
                "How the superimposition (of the analysis, and of an import's sliding of semilandmarks) is iterated: converged "
                "(to its optimum, the same numbers whatever the order of the specimens) or gpagen (geomorph's gpagen's steps, to "
                "reproduce its digits)",
            .fallback = "converged",
            .choices = {"converged", "gpagen"},
            .for_imports = true};
}
OptionDecl size_corrected_option() {
    return {.name = "size-corrected",
            .kind = O::Flag,
            .help =
                "Run on size-corrected shapes: the residuals of the shapes' regression on size plus the mean shape, the model "
                "that --size, --logsz and --size-group choose (shape ~ log(C_size) by default, C_size the landmark table's last "
                "value), and add them to --export-specimens' table as sc_x1, sc_y1, ...",
            .for_exports = true};
}
OptionDecl size_option() {
    return {.name = "size",
            .help =
                "The size of allometry and of --size-corrected's model: a column of numbers of the loaded data, or C_size "
                "(each specimen's centroid size, the default)",
            .for_exports = true};
}
OptionDecl logsz_option() {
    return {.name = "logsz",
            .kind = O::Choice,
            .help = "Whether the size (--size) is logged first (true, as geomorph's logsz) or taken as it is (false)",
            .fallback = "true",
            .choices = {"true", "false"},
            .for_exports = true};
}
std::vector<OptionDecl> with_size_correction(std::vector<OptionDecl> first, const std::vector<OptionDecl>& rest) {
    first.push_back(size_corrected_option());
    first.push_back(size_option());
    first.push_back(logsz_option());
    first.push_back({.name = "size-group",
                     .help = "Factor whose groups each have their own allometry in --size-corrected's model, shape ~ size * "
                             "group (default: none, one slope for all); the groups' means are then taken out too",
                     .for_exports = true});
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}
OptionDecl formula_option() {
    return {.name = "formula",
            .help =
                "Model formula of the terms, as in R: \"species * site\", \"log(cov) + G1\", \"pop / ind\"; "
                "names are G1, G2, cov and the imported columns (default: G1 * G2, or G1; disparity: ~ 1, "
                "~ cov or ~ G1)"};
}
OptionDecl partition_option() {
    return {.name = "partition", .kind = O::InputFile, .help = "File of one module label per landmark, in landmark order"};
}
OptionDecl block2_option() {
    return {.name = "block2",
            .kind = O::InputFile,
            .help = "Table of the second block, one row of numbers per specimen",
            .noun = "The table"};
}
OptionDecl no_rotation_search_option() {
    return {.name = "no-rotation-search",
            .kind = O::Flag,
            .help = "Take the landmarks as aligned, without first turning them to the average CR"};
}

std::vector<OptionDecl> model_options() {
    return with_size_correction(
        {formula_option(),
         {.name = "ss-type",
          .kind = O::Choice,
          .help = "Sums of squares: I (sequential), II or III",
          .fallback = "I",
          .choices = {"I", "II", "III"}},
         alignment_option(),
         gpa_steps_option()},
        {{.name = "error",
          .help = "Denominator of each term's F, in order, comma-separated: a term or Residuals (\"pop:ind,Residuals\")"},
         {.name = "permute",
          .kind = O::Choice,
          .help = "What the permutations move: residuals (of each term's reduced model, RRPP) or rows",
          .fallback = "residuals",
          .choices = {"residuals", "rows"}},
         {.name = "pairwise", .help = "Compare the means of this factor's groups after the model"},
         {.name = "pairwise-means",
          .kind = O::Choice,
          .help = "The means --pairwise compares: ls (least-squares means, or slopes where a covariate meets the factor) "
                  "or plain (the groups' own averages of shape)",
          .fallback = "ls",
          .choices = {"ls", "plain"}}});
}

std::vector<OptionDecl> symmetry_options() {
    return {alignment_option(),
            gpa_steps_option(),
            {.name = "individual", .help = "Factor of each configuration's individual (default G1)"},
            {.name = "side", .help = "Factor of each configuration's side, two levels (default G2)"},
            {.name = "replicate",
             .help = "Factor of the replicates that repeat each side; the individual x side term is then tested"},
            {.name = "mirror-side",
             .help = "The level of --side whose configurations were digitised as mirror images, reflected first"},
            {.name = "land-pairs",
             .kind = O::InputFile,
             .help = "File of the pairs of matching landmarks, one pair a line, for object symmetry (each configuration holds "
                     "both sides)",
             .noun = "The land pairs file"}};
}

std::vector<OptionDecl> measurement_error_options() {
    return with_size_correction(
        {alignment_option(), gpa_steps_option()},
        {{.name = "subjects", .help = "Factor of each configuration's subject, the specimen digitised (default G1)"},
         {.name = "replicates", .help = "Factor of each configuration's replicate, the digitising round (default G2)"},
         {.name = "subject-groups",
          .help = "Factor of groups of subjects, whose interaction with the replicates is tested (optional)"},
         {.name = "me-data",
          .kind = O::Choice,
          .help = "What is analysed: pcs (the principal component scores whose standard deviation exceeds "
                  "0.001 of the first's, as RRPP does) or coordinates (the tangent coordinates)",
          .fallback = "pcs",
          .choices = {"pcs", "coordinates"}}});
}

}  // namespace quillan
