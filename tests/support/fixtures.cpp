#include "support/fixtures.hpp"

#include "window/window_env.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace quillan::test {

TempDir::TempDir() {
    std::random_device rd;
    path_ = std::filesystem::temp_directory_path() / ("quillan-test-" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    const std::string p = file(name);
    std::ofstream out(p, std::ios::binary);
    out << bytes;
    return p;
}

int TempDir::entries() const {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(path_), std::filesystem::directory_iterator()));
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string data_file(const std::string& name) { return std::string(QUILLAN_DATA_DIR) + "/" + name; }

namespace {
FileChoice choice_of(const std::string& path) {
    std::filesystem::path p(path);
    return {p.filename().string(), p.parent_path().string() + "/"};
}
}  // namespace

Harness::Harness() { window = build_memory_window(gui); }

Outcome Harness::load(const std::string& action, const std::string& path) {
    gui.queue_open_answer(choice_of(path));
    return shell.quillan_action(action);
}

Outcome Harness::save(const std::string& path) {
    gui.queue_save_answer(choice_of(path));
    return shell.quillan_action("SaveOut");
}

std::string Harness::box(const char* tag) {
    Value v = gui.get(gui.findobj_tag(tag).front(), "String");
    return v.is_text() ? v.text() : describe(v);
}

void Harness::set_box(const char* tag, const Value& v) { gui.set(gui.findobj_tag(tag).front(), "String", v); }

std::string Harness::last_message() const { return gui.messages().empty() ? std::string() : gui.messages().back().text; }

std::string report_of(Harness& h) { return h.box(kResultsBox); }

Loaded::Loaded(const Example& example) {
    shell.landmark_dimensions() = example.dimensions;
    EXPECT_EQ(load("Load", data_file(example.landmarks)), Outcome::Done) << example.landmarks;
    EXPECT_EQ(load("LoadGlist", data_file(example.groups)), Outcome::Done) << example.groups;
    if (!example.covariate.empty()) {
        EXPECT_EQ(load("LoadClist", data_file(example.covariate)), Outcome::Done) << example.covariate;
    }
    shell.options().seed = example.seed;
    set_box(kPermBox, Value(example.perms));
}

}  // namespace quillan::test

#include "io/text.hpp"
#include "platform/format.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillan::test {

std::string misplaced_plethodon(const TempDir& dir, const std::vector<std::string>& ids, double by) {
    std::string out;
    for (std::string line : io::read_text_file(data_file("plethodon.csv")).lines) {
        for (const auto& id : ids)
            if (line.rfind(id + ",", 0) == 0) {
                // ID, species, site, logCS, then x1.
                std::size_t at = 0;
                for (int comma = 0; comma < 4; ++comma) at = line.find(',', at) + 1;
                const std::size_t end = line.find(',', at);
                line.replace(at, end - at, std::to_string(std::stod(line.substr(at, end - at)) + by));
            }
        out += line + "\n";
    }
    return dir.write("misplaced.csv", out);
}

std::vector<std::vector<std::string>> expected_csv(const std::string& path) {
    std::ifstream in(std::string(QUILLAN_EXPECTED_DIR) + "/" + path);
    EXPECT_TRUE(in) << path;
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
        std::stringstream cells(line);
        rows.emplace_back();
        for (std::string cell; std::getline(cells, cell, ',');) rows.back().push_back(cell);
    }
    return rows;
}

std::vector<std::vector<double>> expected_numbers(const std::string& path) {
    const auto rows = expected_csv(path);
    std::vector<std::vector<double>> out;
    for (auto r = rows.begin() + 1; r < rows.end(); ++r) {
        out.emplace_back();
        for (const auto& cell : *r) out.back().push_back(std::stod(cell));
    }
    return out;
}

void expect_report(const std::string& name, const std::string& report) {
    const std::string path = std::string(QUILLAN_EXPECTED_DIR) + "/" + name;
    const char* update = std::getenv("QUILLAN_UPDATE_EXPECTED");
    if (update && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << report;
        return;
    }
    ASSERT_TRUE(std::filesystem::exists(path)) << "no reviewed text " << path;
    EXPECT_EQ(report, read_bytes(path)) << "report differs from " << path;
}

void put_tables(Shell& shell, const Matrix& data, const Matrix& glist, const Matrix& clist) {
    Workspace& ws = shell.workspace();
    ws.landmarks = data;
    ws.groups = glist;
    ws.covariate = clist;
    ws.landmarks_info =
        format_expand_reuse("Data File: %s with %i specimens, %i LM\n",
                            {"test.txt", static_cast<double>(data.rows()), (static_cast<double>(data.cols()) - 1) / 2});
    ws.groups_info = format_expand_reuse("\nGroup File: %s with %i specimens, % i group variables\n",
                                         {"groups.txt", static_cast<double>(glist.rows()), static_cast<double>(glist.cols())});
    ws.covariate_info = clist.size() ? format_expand_reuse("\nCovariate File: %s with %i specimens",
                                                           {"cov.txt", static_cast<double>(clist.rows())})
                                     : "";
}

}  // namespace quillan::test
