// What the whole-action benchmarks share: their data sets (the bundled
// examples and a generated large one) and a shell set up with a data set,
// as the window would hold it, ready to run one action again and again.
#pragma once

#include "platform/random.hpp"
#include "shell/action_table.hpp"
#include "window/shell.hpp"
#include "window/window_env.hpp"
#include "window_model/memory_gui.hpp"
#include "window_model/memory_window.hpp"

#include <cmath>
#include <ctime>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace quillan::bench {

// The processor time this process has used, in seconds: the figure a
// benchmark on a shared machine should report, not the wall time.
inline double process_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

struct DataSet {
    std::string name;
    Matrix data, glist, clist;
    int perms = 999;  // permutations each run of an action makes
};

// A bundled example: NAME.lm.txt, GROUPS.groups.txt and, if asked, NAME.cov.txt.
inline DataSet bundled_set(const std::string& name, const std::string& groups, bool has_cov) {
    const std::string dir = QUILLAN_DATA_DIR;
    DataSet d{name, dload(dir + "/" + name + ".lm.txt"), dload(dir + "/" + groups + ".groups.txt"), Matrix()};
    if (has_cov) d.clist = dload(dir + "/" + name + ".cov.txt");
    return d;
}

// n specimens of k landmarks in 10 x 4 groups, each a noisy copy of its
// cell's mean shape, moved, turned and scaled at random; the covariate is
// its log size.  The same seed every time, so runs compare.
inline DataSet generated_set(int n, int k, int perms) {
    Rng rng(99);
    auto uniform = [&] { return static_cast<double>(rng.next() >> 11) * 0x1.0p-53; };
    auto normal = [&] { return std::sqrt(-2 * std::log(uniform() + 1e-300)) * std::cos(2 * M_PI * uniform()); };
    std::vector<double> base(2 * static_cast<std::size_t>(k));
    for (int j = 0; j < k; ++j) {
        const double r = 1 + 0.3 * uniform(), a = 2 * M_PI * j / k;
        base[2 * static_cast<std::size_t>(j)] = r * std::cos(a);
        base[2 * static_cast<std::size_t>(j) + 1] = r * std::sin(a);
    }
    std::vector<std::vector<double>> cell_mean(40, base);
    for (auto& m : cell_mean)
        for (auto& v : m) v += 0.05 * normal();
    DataSet d{"large", Matrix(n, 2 * k + 1), Matrix(n, 2), Matrix(n, 1), perms};
    for (int i = 0; i < n; ++i) {
        const int g1 = i % 10, g2 = (i / 10) % 4;
        const auto& m = cell_mean[static_cast<std::size_t>(g1 * 4 + g2)];
        const double s = 0.5 + uniform(), a = 2 * M_PI * uniform(), tx = 10 * normal(), ty = 10 * normal();
        double size = 0;
        for (int j = 0; j < k; ++j) {
            const auto q = 2 * static_cast<std::size_t>(j);
            const double x = m[q] + 0.02 * normal(), y = m[q + 1] + 0.02 * normal();
            d.data(i, 2 * j) = s * (x * std::cos(a) - y * std::sin(a)) + tx;
            d.data(i, 2 * j + 1) = s * (x * std::sin(a) + y * std::cos(a)) + ty;
            size += s * s * (x * x + y * y);
        }
        d.data(i, 2 * k) = std::sqrt(size);
        d.glist(i, 0) = g1 + 1;
        d.glist(i, 1) = g2 + 1;
        d.clist(i, 0) = std::log(std::sqrt(size));
    }
    return d;
}

// The actions the benchmarks time: every analysis of the action table that
// writes a report, with the covariate model it runs under (the standardising
// tests read the model box; one that reads both groupings is timed under the
// costliest model, within the G1 x G2 cells).
struct BenchJob {
    const ActionRow* row;
    int model;
};
inline std::vector<BenchJob> bench_jobs() {
    std::vector<BenchJob> jobs;
    for (const ActionRow* row : analysis_rows())
        if (row->writes_report) jobs.push_back({row, row->needs_covariate() && row->groupings == 2 ? 5 : 1});
    return jobs;
}

// Groups of very different sizes side by side, as field samples give: 4
// groups of 50 specimens, 20 of 1-3 and 24 of 5 (k landmarks, the rows of a
// group spread through the table; the second grouping splits every group in
// two), each a noisy copy of its group's mean shape, moved, turned and
// scaled at random; the covariate is its scale.
inline DataSet mixed_set(int k, int perms) {
    std::vector<int> sizes(4, 50);
    for (int g = 0; g < 20; ++g) sizes.push_back(1 + g % 3);
    sizes.insert(sizes.end(), 24, 5);
    int total = 0;
    for (const int v : sizes) total += v;
    std::vector<int> group_of;  // dealt round-robin among the groups not yet full
    for (std::vector<int> left = sizes; static_cast<int>(group_of.size()) < total;)
        for (std::size_t g = 0; g < left.size(); ++g)
            if (left[g] > 0) {
                group_of.push_back(static_cast<int>(g));
                --left[g];
            }
    Rng rng(7);
    auto uniform = [&] { return static_cast<double>(rng.next() >> 11) * 0x1.0p-53; };
    auto normal = [&] { return std::sqrt(-2 * std::log(uniform() + 1e-300)) * std::cos(2 * M_PI * uniform()); };
    std::vector<std::vector<double>> mean(sizes.size(), std::vector<double>(2 * static_cast<std::size_t>(k)));
    for (auto& m : mean)
        for (int j = 0; j < k; ++j) {
            const double r = 1 + 0.05 * normal(), a = 2 * M_PI * j / k;
            m[2 * static_cast<std::size_t>(j)] = r * std::cos(a);
            m[2 * static_cast<std::size_t>(j) + 1] = r * std::sin(a);
        }
    const int n = static_cast<int>(group_of.size());
    DataSet d{"mixed", Matrix(n, 2 * k + 1), Matrix(n, 2), Matrix(n, 1), perms};
    for (int i = 0; i < n; ++i) {
        const int g = group_of[static_cast<std::size_t>(i)];
        const auto& m = mean[static_cast<std::size_t>(g)];
        const double s = 0.5 + uniform(), a = 2 * M_PI * uniform(), tx = 10 * normal(), ty = 10 * normal();
        for (int j = 0; j < k; ++j) {
            const auto q = 2 * static_cast<std::size_t>(j);
            const double x = m[q] + 0.02 * normal(), y = m[q + 1] + 0.02 * normal();
            d.data(i, 2 * j) = s * (x * std::cos(a) - y * std::sin(a)) + tx;
            d.data(i, 2 * j + 1) = s * (x * std::sin(a) + y * std::cos(a)) + ty;
        }
        d.data(i, 2 * k) = 0;
        d.glist(i, 0) = g + 1;
        d.glist(i, 1) = i % 2 + 1;
        d.clist(i, 0) = s;
    }
    return d;
}

// A shell holding a data set (the first grouping only for a one-way
// action), seeded, with the permutation count and covariate model set.
class ActionRig {
public:
    ActionRig(const DataSet& d, std::string action, int threads, int model)
        : shell_(built(gui_), console_), action_(std::move(action)) {
        Workspace& ws = shell_.workspace();
        ws.landmarks = d.data;
        ws.groups = find_action(action_)->groupings == 1 ? Matrix(d.glist.leftCols(1)) : d.glist;
        ws.covariate = d.clist;
        shell_.options().seed = 1;
        shell_.options().threads = threads;
        gui_.set(gui_.findobj_tag(kPermBox).front(), "String", Value(std::to_string(d.perms)));
        gui_.set(gui_.findobj_tag(kCovBox).front(), "Value", Value(static_cast<double>(model)));
    }
    // Runs the action once; an empty text when it reported, else why not.
    std::string run() {
        const Outcome o = shell_.quillan_action(action_);
        return o == Outcome::Reported ? std::string() : "the action did not report: " + shell_.last_message();
    }

private:
    static MemoryGui& built(MemoryGui& g) {
        build_memory_window(g);
        return g;
    }
    MemoryGui gui_;
    std::ostringstream sink_;
    Console console_{sink_};
    Shell shell_;
    std::string action_;
};

}  // namespace quillan::bench
