// A stop asked for (Ctrl-C or SIGTERM in the batch program) ends each long
// step at its stop points, not only the permutations: each step below runs
// to its end without a stop and throws Cancelled with one.
#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/model_formula.hpp"
#include "geometry/partial_procrustes.hpp"
#include "io/import.hpp"
#include "io/text.hpp"
#include "platform/capped_read.hpp"
#include "platform/error.hpp"
#include "platform/stop_request.hpp"
#include "support/fixtures.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

using namespace quillan;
using namespace quillan::test;

namespace {

const std::string kTps =
    "LM=3\n10 10\n20 10\n15 20\nID=a\nLM=3\n11 10\n21 11\n16 22\nID=b\n"
    "LM=3\n12 11\n21 10\n15 21\nID=c\nLM=3\n10 12\n20 11\n14 20\nID=d\n";

// Four specimens of four landmarks, the third of which slides.
std::vector<Config> curves() {
    std::vector<Config> x;
    for (int i = 0; i < 4; ++i) {
        Config c(4, 2);
        c << 0, 0, 1, 0.1 * i, 2, 0.3 - 0.05 * i, 3, 0;
        x.push_back(c);
    }
    return x;
}

}  // namespace

TEST(StopPoints, EveryLongStepEndsWhenAStopIsAsked) {
    TempDir dir;
    const std::string tps = dir.write("t.tps", kTps);
    const io::TextFile factors = io::text_from_bytes("ID,g\na,x\nb,x\nc,y\nd,y\n", dir.file("f.csv"));
    const ModelVariables vars{ModelVariable::factor_of_codes("A", {1, 1, 2, 2, 1, 2}),
                              ModelVariable::factor_of_codes("B", {1, 2, 1, 2, 2, 1})};
    const std::vector<std::pair<const char*, std::function<void()>>> steps = {
        {"reading a file", [&] { read_file_capped(tps); }},
        {"splitting it into lines", [&] { io::text_from_bytes(kTps, tps); }},
        {"reading a TPS file", [&] { io::read_tps(io::text_from_bytes(kTps, tps)); }},
        {"merging a factor table", [&] { io::assemble(io::read_tps(io::text_from_bytes(kTps, tps)), {}, &factors); }},
        {"expanding a formula", [] { parse_formula("A * B"); }},
        {"building a design", [&] { build_design("A + B", vars, 6); }},
        {"sliding semilandmarks",
         [] {
             slide_semilandmarks(curves(), {{1, 2, 3}});
         }},
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        clear_stop();
        EXPECT_NO_THROW(step());
        request_stop(SIGTERM);
        EXPECT_THROW(step(), Cancelled);
        EXPECT_EQ(stop_cause(), SIGTERM);
    }
    clear_stop();
}

TEST(StopPoints, ALoadAskedToStopChangesNothing) {
    Harness h;
    request_stop(SIGINT);
    EXPECT_EQ(h.load("Load", data_file("plethodon.lm.txt")), Outcome::Cancelled);
    clear_stop();
    EXPECT_EQ(h.shell.workspace().landmarks.size(), 0);
    EXPECT_EQ(h.load("Load", data_file("plethodon.lm.txt")), Outcome::Done);
}
