#include "render/analysis_figures.hpp"

#include "figures/distributions.hpp"
#include "io/text.hpp"

#include <gtest/gtest.h>

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

ToolkitFigures figures_of(Harness& h, const std::string& action) {
    DistributionLog log;
    log.start(action);
    h.shell.options().recorder = &log;
    const Outcome o = h.run(action);
    h.shell.options().recorder = nullptr;
    EXPECT_EQ(o, Outcome::Reported) << action << ": " << h.last_message();
    EXPECT_TRUE(log.figures().has_value()) << action;
    return log.figures().value_or(ToolkitFigures{});
}

const std::vector<ToolkitFigures>& every_analysis_figure() {
    static const std::vector<ToolkitFigures> all = [] {
        std::vector<ToolkitFigures> out;
        TempDir dir;
        Harness h;
        EXPECT_EQ(h.load("Import", misplaced_plethodon(dir, {"P05", "P23", "P31"})), Outcome::Done) << h.last_message();
        h.set_box(kPermBox, Value("99"));
        out.push_back(figures_of(h, "RunOutliers"));
        h.shell.model_request().shape.within_groups = true;
        out.push_back(figures_of(h, "RunOutliers"));
        out.push_back(figures_of(h, "RunDisparity"));
        out.push_back(figures_of(h, "RunCva"));
        h.shell.model_request().shape.partition = data_file("plethodon.partition.txt");
        out.push_back(figures_of(h, "RunIntegration"));
        h.shell.model_request().shape.block2 = data_file("plethodon.cov.txt");
        out.push_back(figures_of(h, "RunPls"));
        Loaded four({.landmarks = "larvalHead.lm.txt", .groups = "larvalMorph.family.groups.txt", .perms = "9"});
        out.push_back(figures_of(four, "RunCva"));
        Loaded wings({.landmarks = "mosquito.lm.txt", .groups = "mosquito.groups.txt", .perms = "9"});
        out.push_back(figures_of(wings, "RunSymmetry"));
        // Eight groups of long names, every pair differing: more brackets than fit.
        DisparityFigure many;
        for (int g = 0; g < 8; ++g) {
            many.groups.push_back("Population from valley " + std::to_string(g + 1));
            many.variance.push_back(0.001 * (g + 1));
            for (int b = g + 1; b < 8; ++b) many.pairs.push_back({g, b, 0.01});
        }
        out.push_back({});
        out.back().disparity = many;
        return out;
    }();
    return all;
}

}  // namespace quillan::test
