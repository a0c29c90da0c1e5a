// "TestCovariate": a console check of the slope models.  They are evaluated
// with the loaded covariate, then once more with a surrogate covariate that
// cannot carry any real group-specific slope: the natural log of the
// landmark file's last column, dealt out to the specimens in a random order.
// The surrogate lives only in this action; the loaded covariate list stays
// as it was.  Only the console shows the results; no report is written.
#include "analyses/action_env.hpp"
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/covariates/slope_models.hpp"
#include "analyses/degenerate.hpp"
#include "analyses/permutation_engine.hpp"
#include "analyses/scoring.hpp"
#include "platform/format.hpp"

#include <cmath>

namespace quillan {

namespace {

// The log of the trailing column, in the order of a random permutation of
// the specimens.
std::vector<double> surrogate_covariate(const Matrix& data, Rng& rng) {
    const Eigen::Index last = data.cols() - 1;
    for (Eigen::Index i = 0; i < data.rows(); ++i)
        if (!(data(i, last) > 0) || !std::isfinite(data(i, last)))
            throw QuillanError(
                format_expand_reuse("The last value of specimen %i in the landmark file is %s; the surrogate covariate is "
                                    "its natural logarithm, which needs a positive finite number.",
                                    {static_cast<double>(i + 1), format_number(data(i, last))}));
    const std::vector<int> rp = randperm(static_cast<int>(data.rows()), rng);
    std::vector<double> z(rp.size());
    for (std::size_t i = 0; i < rp.size(); ++i) z[i] = std::log(data(rp[i], last));
    return z;
}

}  // namespace

void test_covariate(ActionEnv& env) {
    const CovariateInputs in = read_covariate_inputs(env);
    const long long nperm = in.nperm;
    const Matrix& data = *in.landmarks;
    const Codes& codes = in.codes;
    const CovGroups& loaded = in.groups;
    PermutationEngine engine(env.options(), &env.console());
    // The loops' streams, in the order that keeps seeded traces as they were:
    // the loaded covariate's models, the surrogate's order, its models.
    const StreamIds loaded_streams = engine.take_streams(kSlopeModelStreams);
    const StreamIds order_stream = engine.take_streams();
    const StreamIds surrogate_streams = engine.take_streams(kSlopeModelStreams);
    Rng rng = engine.stream(0, order_stream.at(0));
    const CovGroups surrogate = cov_groups(codes, surrogate_covariate(data, rng), group_name);
    check_slope_groups(surrogate);
    const PreparedTable table(data, in.dimensions);
    const double total_ss = table.total_ss();
    require_shape_variation(total_ss, table.specimens());
    Console& console = env.console();

    console.line("Slope models with the loaded covariate:");
    test_slope_models(engine, console, table.shapes(), loaded, total_ss, nperm, SlopeEcho::WithoutDegreesOfFreedom,
                      loaded_streams);
    console.line(
        "Slope models with a surrogate covariate (the log of the last column of the landmark file, in random specimen "
        "order):");
    test_slope_models(engine, console, table.shapes(), surrogate, total_ss, nperm, SlopeEcho::WithoutDegreesOfFreedom,
                      surrogate_streams);
}

}  // namespace quillan
