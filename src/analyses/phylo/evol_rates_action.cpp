// "RunEvolRates": the rates of shape evolution on the loaded tree, of the
// groups of tips a factor gives (--group) or of the modules of landmarks a
// partition file gives (--partition), their ratios tested by shuffling the
// transformed shapes over the tips or by simulating Brownian motion.
#include "analyses/analyses.hpp"
#include "analyses/common.hpp"
#include "analyses/permutation_recorder.hpp"
#include "analyses/phylo/evol_rates.hpp"
#include "analyses/phylo/tree_inputs.hpp"
#include "analyses/toolkit/shape_inputs.hpp"
#include "analyses/toolkit/side_tables.hpp"

#include <algorithm>

namespace quillan {

namespace {

// The group of each row of `data` (a specimen, or a level of the
// --species-means factor, whose specimens must share one group), renumbered
// over the levels that have a tip; `levels` gets their words.
std::vector<int> groups_of_rows(const ActionEnv& env, const TreeData& data, const std::string& name,
                                std::vector<std::string>& levels) {
    const ModelVariables vars = env.model_variables();
    const ModelVariable g = factor_named(vars, name, "factor of --group");
    const OptionValues& o = env.settings();
    const std::string species = o.has("species-means") ? o.text("species-means") : std::string();
    std::vector<int> of_name = g.codes;  // the group of each name the tips were matched to
    if (!species.empty()) {
        const ModelVariable s = factor_named(vars, species, "factor of --species-means");
        of_name.assign(s.levels.size(), -1);
        for (std::size_t i = 0; i < s.codes.size() && i < g.codes.size(); ++i) {
            int& at = of_name[static_cast<std::size_t>(s.codes[i])];
            if (at >= 0 && at != g.codes[i])
                throw Refused("The species " + s.levels[static_cast<std::size_t>(s.codes[i])] +
                              " has specimens in two groups of " + name + " (" + g.levels[static_cast<std::size_t>(at)] +
                              " and " + g.levels[static_cast<std::size_t>(g.codes[i])] + "): each tip needs one group.");
            at = g.codes[i];
        }
    }
    std::vector<int> rows;
    std::vector<bool> used(g.levels.size(), false);
    for (const int r : data.match.rows) {
        const int c = r < static_cast<int>(of_name.size()) ? of_name[static_cast<std::size_t>(r)] : -1;
        if (c < 0) throw Refused("A tip has no group in " + name + ": give every specimen a level.");
        rows.push_back(c);
        used[static_cast<std::size_t>(c)] = true;
    }
    std::vector<int> code(g.levels.size(), -1);
    levels.clear();
    for (std::size_t l = 0; l < code.size(); ++l)
        if (used[l]) {
            code[l] = static_cast<int>(levels.size());
            levels.push_back(g.levels[l]);
        }
    if (levels.size() < 2)
        throw Refused("The tips matched to the tree are all in one group of " + name +
                      ": comparing rates needs tips of at least two groups.");
    for (int& c : rows) c = code[static_cast<std::size_t>(c)];
    return rows;
}

// Each coordinate's module, from each landmark's.
std::vector<int> modules_of_columns(const std::vector<int>& landmark_module, int dimensions) {
    std::vector<int> out;
    for (const int m : landmark_module) out.insert(out.end(), static_cast<std::size_t>(dimensions), m);
    return out;
}

RateMethod method_of(const OptionValues& o, bool modules) {
    if (modules && !o.given("method")) return RateMethod::Simulation;
    return o.choice<RateMethod>("method");
}

std::string counting_words(const RateOptions& o, bool modules) {
    const std::string n = std::to_string(o.nperm);
    std::string text;
    if (o.method == RateMethod::Permutation) {
        text = "Permutations: " + n + " (the transformed shapes' rows shuffled over the tips)";
        if (o.geomorph_counts)
            text += "; as geomorph counts them, the observed order is one of the " + n +
                    ", so the observed ratio is among them twice (--geomorph-quirks off: " + n + " shuffles beside it)";
    } else {
        text = "Simulations: " + n +
               " (Brownian motion on the tree with the rate matrix of all tips, its diagonal their rate, made positive "
               "definite as geomorph's makePD makes it)";
        if (modules && o.geomorph_counts)
            text +=
                "; as geomorph computes them, a simulated module's rate is per variable of the whole shape (the observed "
                "per its own) and its pairs meet the observed ones by the order in which the labels first appear against "
                "their sorted order (--geomorph-quirks off: each by its own variables, pairs as they are)";
    }
    return text +
           "\nZ: effect size of the ratio among them; p = (sets with a larger ratio + half of those with the same + 1) / (" +
           (o.method == RateMethod::Permutation ? "permutations" : "simulations") + " + 1)\n";
}

void name_statistics(ActionEnv& env, const std::vector<std::string>& names) {
    PermutationRecorder* recorder = env.options().recorder;
    if (!recorder) return;
    std::vector<std::string> stats{"Rates of evolution: largest ratio of two rates"};
    for (std::size_t a = 0; names.size() > 2 && a < names.size(); ++a)
        for (std::size_t b = a + 1; b < names.size(); ++b)
            stats.push_back("Rates of evolution: " + names[a] + " and " + names[b]);
    recorder->name_statistics(0, stats, PValueRule::ReachedWithObserved);
}

std::string rates_report(ActionEnv& env, const EvolRates& r, const std::vector<std::string>& names, bool modules,
                         long long nperm) {
    const char* set = modules ? "module" : "group";
    // The record holds the rates as one model, each rate before its count.
    ReportTable table({{set, 16, true}, {modules ? "variables" : "tips", 10}, {"rate", 14}});
    RecordedModel& rates = env.record().model("rates");
    rates.set("all", r.all);
    for (std::size_t m = 0; m < names.size(); ++m) {
        table.row(
            "", {ReportTable::words(names[m]), ReportTable::words(std::to_string(r.sizes[m])), ReportTable::number(r.rates[m])});
        rates.set("rate " + names[m], r.rates[m]).set(std::string(modules ? "variables " : "tips ") + names[m], r.sizes[m]);
    }
    std::string text = "\nRate of all tips: " + shown(r.all) + "\n\n" + table.text();
    text += "\nRatio of the largest rate to the smallest " + shown(r.ratio, true) + ", Z = " + shown(r.z, true) +
            ", p = " + shown(r.p, true) + "\n";
    if (r.ties > 0) text += std::to_string(r.ties) + " of the sets had the observed ratio (counted at half weight in p)\n";
    RecordedModel& m = env.record().model("ratio");
    m.set("ratio", r.ratio).set("Z", r.z).set("p", r.p).set("ties", static_cast<double>(r.ties));
    m.test("largest ratio", r.ratio, r.exceeded, r.exceeded + r.ties, nperm, r.p, false);
    if (names.size() <= 2) return text;
    using T = ReportTable;
    T pairs({{set, 16, true}, {set, 16, true}, {"ratio", 10, false, "ratio"}, {"p", 10, false, "p"}});
    for (const RatePair& q : r.pairs) {
        const std::string& a = names[static_cast<std::size_t>(q.a)];
        const std::string& b = names[static_cast<std::size_t>(q.b)];
        pairs.row(std::string(set) + "s " + a + " - " + b,
                  {T::words(a), T::words(b), T::number(q.ratio, true), T::number(q.p, true)});
    }
    pairs.record(env.record());
    return text + "\nEach pair of " + std::string(set) + "s\n\n" + pairs.text();
}

}  // namespace

void run_evol_rates(ActionEnv& env) {
    const Eigen::MatrixXd shapes = aligned_shapes(env);
    require_tree(env);
    const OptionValues& o = env.settings();
    const SideFile* partition = env.params().side_file("partition");
    const std::string group = o.text("group");
    if (partition && !group.empty())
        throw Refused("Give either --group (the rates of groups of tips) or --partition (the rates of modules), not both.");
    if (!partition && group.empty())
        throw Refused(
            "Say whose rates to compare: the groups of tips with --group FACTOR (a factor of the loaded data), or the "
            "modules of landmarks with --partition FILE.");
    const int dimensions = env.ws().dimensions;
    std::vector<std::string> names;
    const std::vector<int> landmark_module =
        partition ? partition_of(partition, static_cast<int>(shapes.cols() / dimensions), &names) : std::vector<int>{};
    const TreeData data = data_on_tree(env, shapes);
    const std::vector<int> rows = partition ? std::vector<int>{} : groups_of_rows(env, data, group, names);
    const RateOptions options{.nperm = read_nperm(env),
                              .method = method_of(o, partition != nullptr),
                              .geomorph_counts = o.choice_index("geomorph-quirks") == 0};
    name_statistics(env, names);
    PermutationEngine engine(env.options(), &env.console());
    const PhyloTree& tree = data.match.tree;
    const EvolRates r = partition ? module_rates(engine, tree, data.match.tip_of_row, data.x,
                                                 modules_of_columns(landmark_module, dimensions), names, options)
                                  : group_rates(engine, tree, data.match.tip_of_row, data.x, rows, options);
    std::string text =
        shape_report_head(env, "Rates of shape evolution on the tree (sigma^2 under Brownian motion)") + data.words;
    text += partition ? std::to_string(names.size()) + " modules of " + partition->path + "\n"
                      : std::to_string(names.size()) + " groups of " + group + "\n";
    text += "Rate: the mean square of the shapes freed of the tree's covariance, C^-1/2 (X - 1a) (a the GLS mean), over a " +
            std::string(partition ? "module's variables and every tip" : "group's tips and every variable") + "\n";
    text += counting_words(options, partition != nullptr);
    text += rates_report(env, r, names, partition != nullptr, options.nperm);
    env.record().model("tree").set("tips", tree.tip_count());
    env.set_report(text);
}

}  // namespace quillan
