// "RunSymmetry": bilateral symmetry.  Matching symmetry reads each
// configuration's individual and side from two factors (--individual,
// --side; G1 and G2 by default); object symmetry reads the pairs of
// matching landmarks (--land-pairs FILE), each specimen its own individual
// unless --individual names them.  --replicate says that the configurations
// repeat each side, so that the individual x side interaction is tested.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/linear_models/model_shapes.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/side_tables.hpp"
#include "analyses/toolkit/symmetry.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cstdio>

namespace quillan {

namespace {

struct Described {
    SymmetryDesign design;
    std::vector<std::string> individual_names;
    std::string text;   // what the report says of the design
    std::string sides;  // which side the differences subtract from which
};

// The factors of each configuration's individual, side and replicate (empty:
// G1, G2 and no replicates), the side reflected first, and the file of land
// pairs (object symmetry; empty: matching), as the options name them.
struct SymmetryNames {
    std::string individual, side, replicate, mirror_side, land_pairs;
    static SymmetryNames of(const OptionValues& o) {
        return {o.text("individual"), o.text("side"), o.text("replicate"), o.text("mirror-side"), o.file("land-pairs")};
    }
};

Described matching_design(const ModelVariables& vars, const SymmetryNames& s) {
    Described out;
    const std::string ind_name = s.individual.empty() ? "G1" : s.individual;
    const std::string side_name = s.side.empty() ? "G2" : s.side;
    const ModelVariable& ind = factor_named(vars, ind_name, "individual factor");
    const ModelVariable& side = factor_named(vars, side_name, "side factor");
    if (side.levels.size() != 2)
        throw Refused("The side factor \"" + side_name + "\" has " + std::to_string(side.levels.size()) +
                      " levels; matching symmetry needs two sides.");
    SymmetryDesign& d = out.design;
    d.individual = ind.codes;
    d.individuals = static_cast<int>(ind.levels.size());
    d.side = side.codes;
    out.individual_names = ind.levels;
    if (!s.mirror_side.empty()) {
        const auto it = std::find(side.levels.begin(), side.levels.end(), s.mirror_side);
        if (it == side.levels.end())
            throw Refused("The side to reflect, \"" + s.mirror_side + "\", is no level of \"" + side_name + "\" (" +
                          side.levels[0] + ", " + side.levels[1] + ").");
        d.mirror_side = static_cast<int>(it - side.levels.begin());
    }
    out.sides = "side " + side.levels[0] + " minus side " + side.levels[1];
    out.text = "Matching symmetry: individuals from " + ind_name + " (" + std::to_string(d.individuals) + "), sides from " +
               side_name + " (" + side.levels[0] + " minus " + side.levels[1] + ")" +
               (d.mirror_side >= 0 ? ", side " + s.mirror_side + " reflected first" : "") + "\n";
    return out;
}

Described object_design(const ActionEnv& env, const ModelVariables& vars, const SymmetryNames& s, const SideFile& pairs,
                        int specimens) {
    Described out;
    SymmetryDesign& d = out.design;
    d.land_pairs = land_pairs_of(pairs);
    if (s.individual.empty()) {
        for (int i = 0; i < specimens; ++i) {
            d.individual.push_back(i);
            out.individual_names.push_back(specimen_name(env, i));
        }
        d.individuals = specimens;
    } else {
        const ModelVariable& ind = factor_named(vars, s.individual, "individual factor");
        d.individual = ind.codes;
        d.individuals = static_cast<int>(ind.levels.size());
        out.individual_names = ind.levels;
    }
    out.sides = "original minus reflection";
    out.text = "Object symmetry: each configuration superimposed with its reflection, the " +
               std::to_string(d.land_pairs.size()) + " land pairs of " + pairs.path + " relabelled; individuals " +
               (s.individual.empty() ? "the specimens" : "from " + s.individual) + " (" + std::to_string(d.individuals) +
               "), sides: original minus reflection\n";
    return out;
}

// The ANOVA tables of shape and of size, under the rows of the design.
std::string anova_text(const ModelTable& t, const std::vector<std::string>& rows, const std::string& prefix, ResultRecord& rec) {
    const AnovaTable table(t, rows, prefix, AnovaLayout{20, 6, 14, "%.4f", false});
    table.record(rec);
    std::string text = table.text();
    for (std::size_t k = 0; k < t.terms.size(); ++k)
        if (t.terms[k].error != "Residuals")
            text += "F of " + rows[k] + " has the mean square of " + rows[static_cast<std::size_t>(2)] + " as denominator\n";
    return text;
}

// An individual's symmetric and asymmetric components with its numbers, as
// the coordinates of the superimposition: symmetric_x1, symmetric_y1, ...
void record_components(RecordedModel& m, const SymmetryResult& r, Eigen::Index i, int dims) {
    static const char* const axes[] = {"x", "y", "z"};
    for (const auto& [name, component] : {std::pair{"symmetric_", &r.symmetric}, std::pair{"asymmetric_", &r.asymmetric}})
        for (Eigen::Index c = 0; c < component->cols(); ++c)
            m.set(name + std::string(axes[c % dims]) + std::to_string(c / dims + 1), (*component)(i, c));
}

// Each individual's asymmetry, in the report and in the record (with its
// components there).
ReportTable asymmetry_table(const SymmetryResult& r, const std::vector<std::string>& names) {
    using T = ReportTable;
    T t({{"individual", 16, true},
         {"unsigned", 12, false, "unsigned_asymmetry"},
         {"fluctuating", 13, false, "fluctuating_asymmetry"}});
    for (std::size_t k = 0; k < names.size(); ++k)
        t.row("individual " + names[k], {T::words(names[k]), T::number(r.asymmetry[k]), T::number(r.fluctuating[k])});
    return t;
}

std::string asymmetry_text(const SymmetryResult& r, const ReportTable& individuals) {
    return "\nDirectional asymmetry (the mean difference of the sides): Procrustes length " + shown(r.directional_length) +
           "\n\nAsymmetry of each individual: the Procrustes distance between " +
           "its sides' mean shapes (unsigned), and what remains after the directional part (fluctuating)\n\n" +
           individuals.text();
}

// Directional asymmetry as a change from the mean shape, and fluctuating
// asymmetry as the change along the first principal axis of the individuals'
// differences less the directional part, to the highest score on it.
SymmetryFigure symmetry_figure(const SymmetryResult& r, const std::string& sides, int dims) {
    SymmetryFigure f;
    f.sides = sides;
    f.directional = {r.mean, r.mean + r.directional.transpose(), dims};
    const Eigen::MatrixXd fa = (r.asymmetric.rowwise() - r.mean).rowwise() - r.directional.transpose();
    f.fluctuating = {r.mean, r.mean, dims};
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(fa, Eigen::ComputeThinV);
    const Eigen::VectorXd sv = svd.singularValues();
    if (sv.size() > 0 && sv(0) > 0) {
        const Eigen::VectorXd axis = svd.matrixV().col(0);
        f.fluctuating.to = r.mean + (fa * axis).maxCoeff() * axis.transpose();
        f.fluctuating_percent = 100 * sv(0) * sv(0) / sv.squaredNorm();
    }
    return f;
}

}  // namespace

void run_symmetry(ActionEnv& env) {
    const Matrix& landmarks = require_landmarks(env);
    const int dims = env.ws().dimensions;
    const int specimens = static_cast<int>(landmarks.rows());
    const int k = static_cast<int>((landmarks.cols() - 1) / dims);
    const ModelRequest& q = env.model_request();
    const SymmetryNames s = SymmetryNames::of(env.settings());
    const ModelVariables vars = env.model_variables();
    const SideFile* pairs = env.params().side_file("land-pairs");
    Described d = pairs ? object_design(env, vars, s, *pairs, specimens) : matching_design(vars, s);
    if (!s.replicate.empty()) {
        factor_named(vars, s.replicate, "replicate factor");
        d.design.replicates = true;
    }
    check_symmetry_design(d.design, specimens, k);
    const long long nperm = read_nperm(env);
    PermutationEngine engine(env.options(), &env.console());
    const SymmetryResult r = symmetry_test(engine, landmarks, dims, d.design, q.alignment, nperm, q.gpa_steps);
    env.record().run.gpa_steps = gpa_steps_name(q.gpa_steps);
    const std::vector<std::string> rows = symmetry_row_names(d.design);
    std::string text = shape_report_head(env, "Bilateral symmetry: Procrustes ANOVA of individuals and sides");
    text += d.text + "Permutations: " + std::to_string(nperm) +
            ", randomized residuals of each term's reduced model (RRPP); p = (permutations with F at least the observed + "
            "1) / (permutations + 1)\n\nShape\n" +
            anova_text(r.shape, rows, "shape ", env.record());
    if (r.size) text += "\nCentroid size\n" + anova_text(*r.size, rows, "size ", env.record());
    const ReportTable individuals = asymmetry_table(r, d.individual_names);
    text += asymmetry_text(r, individuals);
    env.record().model("directional asymmetry").set("procrustes_length", r.directional_length);
    individuals.record(env.record(),
                       [&](std::size_t i, RecordedModel& m) { record_components(m, r, static_cast<Eigen::Index>(i), dims); });
    if (PermutationRecorder* recorder = env.options().recorder) {
        ToolkitFigures figures;
        figures.symmetry = symmetry_figure(r, d.sides, dims);
        recorder->keep_figures(figures);
    }
    env.set_report(text);
}

}  // namespace quillan
