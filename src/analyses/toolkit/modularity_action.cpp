// "RunModularity": the covariance ratio CR of a partition of the landmarks
// into modules (--partition FILE) against random partitions of the same
// sizes, after the rotation search in the plane of x and y
// (--no-rotation-search leaves them as aligned).
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/toolkit/modularity.hpp"
#include "analyses/toolkit/modularity_report.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/side_tables.hpp"

namespace quillan {

void name_modularity_statistics(ActionEnv& env, const std::string& title) {
    // CR is small where the partition is modular: its p counts the random
    // partitions at or below it, and its histogram says so.
    if (PermutationRecorder* recorder = env.options().recorder)
        recorder->name_statistics(0, {title + ": covariance ratio of random partitions, the partition's marked"},
                                  PValueRule::AtMostWithObserved);
}

std::string modularity_text(ActionEnv& env, const ModularityResult& r, const std::vector<std::string>& labels) {
    std::string text = std::to_string(labels.size()) + " modules; ";
    text += r.rotation_searched ? "the specimens turned together by " + shown(r.angle) +
                                      " degrees, where CR is nearest its average over the angles from 0 to 89.95\n"
                                : "no rotation search (the landmarks as aligned)\n";
    text += "Permutations: " + std::to_string(r.nperm) +
            " random partitions of the landmarks into modules of the same sizes; Z: effect size of CR among them "
            "(negative: more modular than chance); p = (partitions with a smaller CR + half of those with the same CR + 1) / "
            "(partitions + 1)\n";
    text += "\nCR " + shown(r.cr, true) + ", Z = " + shown(r.z, true) + ", p = " + shown(r.p, true) + "\n";
    if (r.ties > 0)
        text += std::to_string(r.ties) + " of the random partitions had the observed CR (counted at half weight in p)\n";
    RecordedModel& m = env.record().model("partition");
    m.set("CR", r.cr).set("angle", r.angle).set("Z", r.z).set("p", r.p).set("ties", static_cast<double>(r.ties));
    m.test("CR (at most)", r.cr, r.count_le, r.count_le, r.nperm, r.p, false);
    if (r.pairs.size() > 1) {
        ReportTable pairs({{"", 10, true}, {"", 10, true}, {"CR", 10, false, "CR"}});
        for (std::size_t k = 0; k < r.pairs.size(); ++k) {
            const std::string a = labels[static_cast<std::size_t>(r.pairs[k].first)];
            const std::string b = labels[static_cast<std::size_t>(r.pairs[k].second)];
            pairs.row("modules " + a + " - " + b,
                      {ReportTable::words(a), ReportTable::words(b), ReportTable::number(r.pair_cr[k], true)});
        }
        text += "\nCR of each pair of modules\n" + pairs.headless().text();
        pairs.record(env.record());
    }
    return text;
}

void run_modularity(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    const OptionValues& q = env.settings();
    const int dimensions = env.ws().dimensions;
    std::vector<std::string> labels;
    const SideFile* partition = env.params().side_file("partition");
    const std::vector<int> module = partition_of(partition, static_cast<int>(shapes.cols() / dimensions), &labels);
    const long long nperm = read_nperm(env);
    name_modularity_statistics(env, "Modularity");
    PermutationEngine engine(env.options(), &env.console());
    const ModularityResult r =
        modularity_test(engine, shapes, module, dimensions, {.nperm = nperm, .rotation_search = !q.flag("no-rotation-search")});
    env.set_report(shape_report_head(env, "Modularity: covariance ratio of the modules of " + partition->path) +
                   modularity_text(env, r, labels));
}

}  // namespace quillan
