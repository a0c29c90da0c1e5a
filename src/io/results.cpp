#include "io/results.hpp"

#include "io/output.hpp"
#include "io/text.hpp"
#include "platform/version.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>

namespace quillan::io {

std::string utc_now() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

namespace {

using nlohmann::ordered_json;

// Non-finite numbers have no JSON form: they are written as null.
ordered_json number(double d) { return std::isfinite(d) ? ordered_json(d) : ordered_json(nullptr); }

ordered_json values_json(const std::vector<std::pair<std::string, double>>& values) {
    ordered_json o = ordered_json::object();
    for (const auto& [k, v] : values) o[k] = number(v);
    return o;
}

}  // namespace

std::string results_json(const ResultRecord& record) {
    const RunInfo& r = record.run;
    ordered_json run;
    run["action"] = r.action;
    run["program"] = "quillan";
    run["version"] = version_text();
    run["date"] = r.date;
    run["inputs"] = ordered_json::array();
    for (const auto& in : r.inputs) run["inputs"].push_back({{"role", in.role}, {"name", in.name}, {"sha256", in.sha256}});
    run["specimens"] = r.specimens;
    run["landmarks"] = r.landmarks;
    run["groups"] = ordered_json::array();
    for (const auto& g : r.groups) run["groups"].push_back({{"name", g.name}, {"levels", g.levels}});
    run["covariate"] = r.covariate_name.empty() ? ordered_json(nullptr) : ordered_json(r.covariate_name);
    run["covariate_model"] = r.covariate_model;
    run["covariate_model_name"] = r.covariate_model_name;
    run["permutations"] = r.permutations;
    run["seeded"] = r.seeded;
    run["seeds"] = r.seeds;
    run["threads"] = r.threads;
    run["processes"] = r.processes;
    run["statistics"] = r.statistics;
    if (!r.gpa_steps.empty()) run["gpa_steps"] = r.gpa_steps;
    if (const auto& sc = r.size_correction)
        run["size_corrected"] = {{"size", sc->size},
                                 {"logged", sc->logged},
                                 {"group", sc->group.empty() ? ordered_json(nullptr) : ordered_json(sc->group)},
                                 {"model", "shape ~ " + sc->terms()}};
    if (!r.estimated.empty()) {
        run["estimate_method"] = r.estimate_method;
        run["estimated"] = ordered_json::array();
        for (const auto& e : r.estimated)
            run["estimated"].push_back({{"specimen", e.specimen}, {"id", e.id}, {"landmark", e.landmark}});
    }
    if (!r.left_out.empty()) run["left_out"] = r.left_out;
    if (!r.left_out_as_outliers.empty()) run["left_out_as_outliers"] = r.left_out_as_outliers;
    if (!r.slide_criterion.empty()) {
        run["slide_criterion"] = r.slide_criterion;
        run["slide_iterations"] = r.slide_iterations;
        run["slide_converged"] = r.slide_converged;
        run["semilandmarks"] = r.semilandmarks;
        run["sliders"] = r.sliders;
    }

    ordered_json out;
    out["run"] = run;
    out["values"] = values_json(record.values);
    out["models"] = ordered_json::array();
    for (const auto& m : record.models) {
        ordered_json jm;
        jm["name"] = m.name;
        jm["values"] = values_json(m.values);
        jm["tests"] = ordered_json::array();
        for (const auto& t : m.tests)
            jm["tests"].push_back({{"statistic", t.statistic},
                                   {"observed", number(t.observed)},
                                   {"permutations", t.nperm},
                                   {"count", t.count},
                                   {"p", number(t.p)},
                                   {"p_is_bound", t.p_bound},
                                   {"count_ge", t.count_ge},
                                   {"p_ge", number(t.p_ge())}});
        out["models"].push_back(jm);
    }
    // Names and levels come from the user's files and may be in any encoding;
    // JSON is UTF-8, so a byte that is not part of valid UTF-8 is written as
    // U+FFFD, the replacement character, rather than stopping the export.
    return out.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::string results_csv(const ResultRecord& record) {
    static const char* const kColumns[] = {"total_ss", "explained_ss", "unexplained_ss", "percent_explained", "ss", "F",
                                           "df1",      "df2"};
    std::string out = "action,model";
    for (const char* c : kColumns) out += std::string(",") + c;
    out += ",statistic,observed,permutations,count,p,p_is_bound,count_ge,p_ge,other,inputs\n";
    // Every file the report was made from, in each row: role=name sha256;...
    std::string inputs;
    for (const auto& in : record.run.inputs) inputs += (inputs.empty() ? "" : ";") + in.role + "=" + in.name + " " + in.sha256;
    const std::string inputs_cell = "," + csv_cell(inputs) + "\n";
    auto num = [](const double* d) { return d && std::isfinite(*d) ? number_text(*d) : std::string(); };
    for (const auto& m : record.models) {
        std::string head = csv_cell(record.run.action) + "," + csv_cell(m.name);
        for (const char* c : kColumns) {
            head += ',';
            head += num(m.value(c));
        }
        // Values without a column of their own go into one cell as key=value pairs.
        std::string other;
        for (const auto& [k, v] : m.values) {
            bool known = false;
            for (const char* c : kColumns) known = known || k == c;
            if (!known) other += (other.empty() ? "" : ";") + k + "=" + number_text(v);
        }
        if (m.tests.empty()) {
            out += head + ",,,,,,,,," + csv_cell(other) + inputs_cell;
            continue;
        }
        for (const auto& t : m.tests)
            out += head + "," + csv_cell(t.statistic) + "," + num(&t.observed) + "," + std::to_string(t.nperm) + "," +
                   std::to_string(t.count) + "," + num(&t.p) + "," + (t.p_bound ? "true" : "false") + "," +
                   std::to_string(t.count_ge) + "," + number_text(t.p_ge()) + "," + csv_cell(other) + inputs_cell;
    }
    return out;
}

}  // namespace quillan::io
