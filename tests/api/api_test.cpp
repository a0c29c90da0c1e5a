// The library entry runs what quillan-batch runs, through its steps.
#include "quillan_api.hpp"
#include "support/batch_runner.hpp"
#include "support/fixtures.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

namespace quillan::test {
namespace {

using ::testing::HasSubstr;
namespace api = quillan::api;

std::vector<api::Option> model_options() {
    return {
        {"factors", data_file("plethodon.csv")}, {"formula", "species * site"}, {"perm", "99"}, {"seed", "1"}, {"threads", "2"}};
}

// A record's text less the moment it was made.
std::string undated(const std::string& text) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        if (line.find("\"date\":") == std::string::npos) out += line + "\n";
        at = end + 1;
    }
    return out;
}

api::Error::Kind error_kind(const api::Request& request, std::string& message) {
    try {
        api::run(request);
    } catch (const api::Error& e) {
        message = e.what();
        return e.kind;
    }
    ADD_FAILURE() << "the run completed";
    return api::Error::Failed;
}

TEST(LibraryEntry, RunsAModelAsQuillanBatchDoesFromAFileAndFromDataInMemory) {
    const std::string tps = data_file("plethodon.tps");
    api::Request request{"model", nullptr, model_options()};
    request.options.push_back({"import", tps});
    const api::Result from_file = api::run(request);
    TempDir dir;
    const BatchResult batch =
        run_batch({"model", "--import", tps, "--factors", data_file("plethodon.csv"), "--formula", "species * site", "--perm",
                   "99", "--seed", "1", "--threads", "2", "--json", dir.file("record.json")});
    ASSERT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(from_file.report, batch.out);
    EXPECT_EQ(undated(from_file.record_json), undated(read_bytes(dir.file("record.json"))));
    EXPECT_THAT(from_file.report, HasSubstr("species:site"));

    // The same data read and handed back: the same numbers, the factors
    // attached by specimen ID as for the file.
    const api::Data data = api::read(tps);
    ASSERT_EQ(data.specimens, 40);
    ASSERT_EQ(data.landmarks, 12);
    ASSERT_EQ(data.coords.size(), 40u * 12u * 2u);
    const api::Result from_memory = api::run({"RunModel", &data, model_options()});
    EXPECT_EQ(from_memory.report, from_file.report);
    EXPECT_EQ(undated(from_memory.record_json), undated(from_file.record_json));
}

TEST(LibraryEntry, SaysWhyARunCannotGoAsTheCommandLineSaysIt) {
    std::string message;
    EXPECT_EQ(error_kind({"modle", nullptr, {}}, message), api::Error::Usage);
    EXPECT_THAT(message, HasSubstr("did you mean model?"));
    // An option of another action, of the wrong kind, or none at all.
    EXPECT_EQ(error_kind({"one-way", nullptr, {{"formula", "G1"}}}, message), api::Error::Usage);
    EXPECT_THAT(message, HasSubstr("--formula belongs to"));
    EXPECT_EQ(error_kind({"model", nullptr, {{"seed", "soon"}}}, message), api::Error::Usage);
    EXPECT_EQ(error_kind({"model", nullptr, {{"sizes-of-things", "1"}}}, message), api::Error::Usage);
    EXPECT_EQ(error_kind({"model", nullptr, {{"list", "true"}}}, message), api::Error::Usage);
    // The design refused, and the action failed, in the program's own words.
    const std::vector<api::Option> landmarks = {{"landmarks", data_file("plethodon.lm.txt")}};
    EXPECT_EQ(error_kind({"one-way", nullptr, landmarks}, message), api::Error::Failed);
    EXPECT_THAT(message, HasSubstr("No group file is loaded: load one with --groups"));
    const std::vector<api::Option> formula = {{"import", data_file("plethodon.csv")}, {"formula", "nosuch"}};
    EXPECT_EQ(error_kind({"model", nullptr, formula}, message), api::Error::Refused);
    EXPECT_THAT(message, HasSubstr("names nothing loaded"));
    // Data that do not hold what they claim.
    api::Data data = api::read(data_file("plethodon.tps"));
    data.coords.pop_back();
    EXPECT_EQ(error_kind({"model", &data, {{"formula", "species"}}}, message), api::Error::Usage);
    EXPECT_THAT(message, HasSubstr("959 values, not 960"));
    EXPECT_THROW(api::read(data_file("no-such-file.tps")), api::Error);
}

TEST(LibraryEntry, StopsWhenAskedAndOffersEveryActionOfTheTable) {
    std::atomic<int> asked{0};
    std::vector<api::Option> options = model_options();
    options.push_back({"import", data_file("plethodon.tps")});
    options[2].value = "200000";
    try {
        api::run({"model", nullptr, options}, [&] { return ++asked < 3; });
        ADD_FAILURE() << "the run was not stopped";
    } catch (const api::Error& e) {
        EXPECT_EQ(e.kind, api::Error::Cancelled);
    }
    // The next run is not stopped by the last one's answer.
    options[2].value = "9";
    EXPECT_NO_THROW(api::run({"model", nullptr, options}));

    const std::vector<api::ActionInfo> actions = api::actions();
    ASSERT_FALSE(actions.empty());
    for (const api::ActionInfo& a : actions) {
        std::string message;
        try {
            api::run({a.alias, nullptr, {}});
        } catch (const api::Error& e) {
            message = e.what();
        }
        EXPECT_THAT(message, ::testing::Not(HasSubstr("unknown action"))) << a.name;
    }
    const auto run_options = api::run_options();
    const auto perm = std::find_if(run_options.begin(), run_options.end(), [](const auto& o) { return o.name == "perm"; });
    ASSERT_NE(perm, run_options.end());
    EXPECT_EQ(perm->fallback, "999");
}

}  // namespace
}  // namespace quillan::test
