#include "io/import_steps.hpp"
#include "io/import_refusal.hpp"

#include "geometry/missing_landmarks.hpp"
#include "platform/capped_read.hpp"
#include "platform/error.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace quillan::io {

namespace {

std::string number_list(const std::vector<int>& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) out += (i ? ", " : "") + std::to_string(v[i]);
    return out;
}

// Every gap, by specimen: "P05 (line 144): landmark 3; P17 (line 560): landmarks 7, 8".
std::string gap_list(const SpecimenTable& t) {
    std::map<std::size_t, std::vector<int>> by_specimen;
    for (const auto& g : t.gaps) by_specimen[g.specimen].push_back(g.landmark);
    std::string out;
    for (auto& [s, landmarks] : by_specimen) {
        std::sort(landmarks.begin(), landmarks.end());
        out += (out.empty() ? "" : "; ") + quoted_snippet(t.specimen_name(s)) + at_line(t.lines[s]) + ": landmark" +
               (landmarks.size() > 1 ? "s " : " ") + number_list(landmarks);
    }
    return out;
}

// The choices behind a refusal about gaps, which would otherwise seem to
// come from the file alone.
std::string choices_behind(const SpecimenTable& t, const ImportOptions& options) {
    const auto negative = std::count_if(t.gaps.begin(), t.gaps.end(), [](const Gap& g) { return g.negative; });
    std::string out;
    if (!options.estimate_missing.empty())
        out += "; the choice \"Gaps: estimate " + options.estimate_missing + "\" (--estimate-missing " +
               options.estimate_missing + ") asked for the estimate";
    if (negative > 0)
        out += "; " + std::to_string(negative) + " of the " + std::to_string(t.gaps.size()) +
               " landmarks are missing only by the choice \"Negatives: missing\" (--negative-missing), which takes "
               "negative coordinates as missing: coordinates about an origin, such as aligned ones, need \"Negatives: "
               "points\"";
    return out;
}

[[noreturn]] void refuse_gaps(const SpecimenTable& t, const ImportOptions& options) {
    const Gap& first = t.gaps.front();
    std::set<std::size_t> specimens;
    for (const auto& g : t.gaps) specimens.insert(g.specimen);
    std::string what = "landmark " + std::to_string(first.landmark) + " is missing (\"" + quoted_snippet(first.token) + "\")";
    if (t.gaps.size() > 1)
        what += "; in all " + std::to_string(t.gaps.size()) + " landmarks are missing in " + std::to_string(specimens.size()) +
                (specimens.size() > 1 ? " specimens: " : " specimen: ") + gap_list(t);
    refuse(t.path, first.line, t.specimen_name(first.specimen),
           what + "; estimate them on import (from the complete specimens, by tps or reg) or remove them before importing" +
               choices_behind(t, options));
}

template <int D>
std::vector<PointsOf<D>> configurations(const SpecimenTable& t) {
    std::vector<PointsOf<D>> x;
    const Eigen::Index p = t.landmarks;
    for (const auto& c : t.coords) {
        PointsOf<D> m(p, D);
        for (Eigen::Index j = 0; j < p; ++j)
            for (Eigen::Index a = 0; a < D; ++a) m(j, a) = c[static_cast<std::size_t>(D * j + a)];
        x.push_back(m);
    }
    return x;
}

template <int D>
void store(SpecimenTable& t, const std::vector<PointsOf<D>>& x) {
    for (std::size_t s = 0; s < x.size(); ++s)
        for (Eigen::Index j = 0; j < x[s].rows(); ++j)
            for (Eigen::Index a = 0; a < D; ++a) t.coords[s][static_cast<std::size_t>(D * j + a)] = x[s](j, a);
}

bool same_width(const SpecimenTable& t) {
    const auto width = static_cast<std::size_t>(t.dimensions) * static_cast<std::size_t>(t.landmarks);
    return std::all_of(t.coords.begin(), t.coords.end(), [&](const std::vector<double>& c) { return c.size() == width; });
}

// Fills the gaps of `t` by `method`; a refusal names the file and the choices behind it.
template <int D>
void estimate_gaps(SpecimenTable& t, const ImportOptions& options, EstimateMethod method) {
    EstimationOf<D> e;
    try {
        e = estimate_missing(
            configurations<D>(t), method, [&](std::size_t s) -> std::string { return quoted_snippet(t.specimen_name(s)); },
            options.gpa_steps == GpaSteps::Converged);
    } catch (const QuillanError& err) {
        refuse(t.path, 0, "",
               std::string("the missing landmarks cannot be estimated by ") + options.estimate_missing + ": " + err.what() +
                   choices_behind(t, options));
    }
    store(t, e.filled);
}

}  // namespace

void fill_gaps(SpecimenTable& t, const ImportOptions& options, ImportSteps& steps) {
    if (t.gaps.empty() || !same_width(t)) return;
    std::stable_sort(t.gaps.begin(), t.gaps.end(), [](const Gap& a, const Gap& b) {
        return a.specimen != b.specimen ? a.specimen < b.specimen : a.landmark < b.landmark;
    });
    if (options.estimate_missing.empty()) refuse_gaps(t, options);
    if (options.estimate_missing != "tps" && options.estimate_missing != "reg")
        refuse(t.path, 0, "",
               "missing landmarks are estimated by tps or reg, not by \"" + quoted_snippet(options.estimate_missing) + "\"");
    const EstimateMethod method =
        options.estimate_missing == "tps" ? EstimateMethod::ThinPlateSpline : EstimateMethod::Regression;
    if (t.dimensions == 3) estimate_gaps<3>(t, options, method);
    else estimate_gaps<2>(t, options, method);
    steps.estimate_method = options.estimate_missing;
    std::set<std::size_t> specimens;
    for (const auto& g : t.gaps) {
        steps.estimated.emplace_back(static_cast<int>(g.specimen) + 1, g.landmark);
        specimens.insert(g.specimen);
    }
    steps.notes.push_back(std::to_string(t.gaps.size()) + " missing landmarks of " + std::to_string(specimens.size()) +
                          " specimens were estimated (" + options.estimate_missing + ", from the " +
                          std::to_string(t.coords.size() - specimens.size()) + " complete specimens): " + gap_list(t) +
                          ". Every result on this table rests on these estimates.");
    t.notices.push_back(steps.notes.back());
}

std::vector<std::array<int, 3>> read_sliders(const std::string& path, int landmarks) {
    const TextFile f = read_text_file(path);
    std::vector<std::array<int, 3>> sliders;
    std::set<int> seen;
    bool first = true;
    for (std::size_t i = 0; i < f.lines.size(); ++i) {
        std::string line = f.lines[i];
        std::replace(line.begin(), line.end(), ',', ' ');
        const auto tokens = split_blanks(line);
        if (tokens.empty()) continue;
        const int number = static_cast<int>(i) + 1;
        const bool numeric =
            std::all_of(tokens.begin(), tokens.end(), [](const std::string& x) { return parse_number(x).has_value(); });
        if (first && !numeric) {  // a header, as geomorph's define.sliders writes one
            first = false;
            continue;
        }
        first = false;
        if (tokens.size() != 3 || !numeric)
            refuse(
                f.path, number, "",
                "a slider is three landmark numbers (before, slider, after), not \"" + quoted_snippet(trim(f.lines[i])) + "\"");
        std::array<int, 3> s{};
        for (std::size_t j = 0; j < 3; ++j) {
            const double d = *parse_number(tokens[j]);
            if (d != std::floor(d))
                refuse(f.path, number, "", "landmark " + tokens[j] + " is not a whole number: a slider names landmarks");
            if (d < 1 || d > landmarks)
                refuse(
                    f.path, number, "",
                    "landmark " + tokens[j] + " is out of range: the specimens have landmarks 1 to " + std::to_string(landmarks));
            s[j] = static_cast<int>(d);
        }
        if (s[1] == s[0] || s[1] == s[2])
            refuse(f.path, number, "",
                   "landmark " + std::to_string(s[1]) + " is its own neighbour; a slider slides between two other landmarks");
        if (s[0] == s[2])
            refuse(f.path, number, "",
                   "both neighbours of landmark " + std::to_string(s[1]) + " are landmark " + std::to_string(s[0]));
        if (!seen.insert(s[1]).second)
            refuse(f.path, number, "", "landmark " + std::to_string(s[1]) + " slides on an earlier line already");
        sliders.push_back(s);
    }
    if (sliders.empty()) refuse(f.path, 0, "", "the sliders file names no slider");
    return sliders;
}

namespace {

// Each curve's interior points slide between their neighbours; its two ends stay.
std::vector<std::array<int, 3>> curve_sliders(const SpecimenTable& t) {
    std::vector<std::array<int, 3>> sliders;
    int base = t.fixed;
    for (int n : t.curve_points) {
        for (int j = 2; j < n; ++j) sliders.push_back({base + j - 1, base + j, base + j + 1});
        base += n;
    }
    return sliders;
}

// The slid configurations back in each specimen's own place, orientation
// and size: the landmarks that do not slide return to where they were.
template <int D>
std::vector<PointsOf<D>> in_own_frames(const std::vector<PointsOf<D>>& given, const PartialResultOf<D>& r,
                                       const std::vector<Slider>& sliders) {
    std::vector<bool> slides(static_cast<std::size_t>(given.front().rows()), false);
    for (const auto& s : sliders) slides[static_cast<std::size_t>(s.slider)] = true;
    std::vector<Eigen::Index> fixed;
    for (std::size_t j = 0; j < slides.size(); ++j)
        if (!slides[j]) fixed.push_back(static_cast<Eigen::Index>(j));
    if (fixed.size() < static_cast<std::size_t>(D))
        for (Eigen::Index j = 0; j < given.front().rows(); ++j) fixed.push_back(j);
    std::vector<PointsOf<D>> out;
    for (std::size_t s = 0; s < given.size(); ++s) {
        const Eigen::Matrix<double, 1, D> centre = given[s].colwise().mean();
        const PointsOf<D> own = (given[s].rowwise() - centre) / r.sizes[s];
        PointsOf<D> a(static_cast<Eigen::Index>(fixed.size()), D), b(static_cast<Eigen::Index>(fixed.size()), D);
        for (std::size_t k = 0; k < fixed.size(); ++k) {
            a.row(static_cast<Eigen::Index>(k)) = r.aligned[s].row(fixed[k]);
            b.row(static_cast<Eigen::Index>(k)) = own.row(fixed[k]);
        }
        const Eigen::Matrix<double, D, D> g = rotation_onto(a, b);  // own * g = aligned
        out.push_back(((r.aligned[s] * g.transpose()) * r.sizes[s]).rowwise() + centre);
    }
    return out;
}

// The fit of the sliding squares distances between points: coordinates of
// 1e154 and more overflow them, and the fit then compares nothing but
// infinities.  Refused first, naming the specimen.
void require_slidable_coordinates(const SpecimenTable& t) {
    constexpr double kMost = 1e100;
    const auto d = static_cast<std::size_t>(t.dimensions);
    for (std::size_t i = 0; i < t.coords.size(); ++i)
        for (std::size_t j = 0; j < t.coords[i].size(); ++j)
            if (std::fabs(t.coords[i][j]) > kMost)
                refuse(t.path, i < t.lines.size() ? t.lines[i] : 0, t.specimen_name(i),
                       "landmark " + std::to_string(j / d + 1) + " has the coordinate " + number_text(t.coords[i][j]) +
                           ", too large to slide semilandmarks (coordinates up to 1e100 in size can be slid)");
}

// gpagen's coordinates, one specimen a row: x1 y1 (z1) x2 y2 ...
template <int D>
Matrix partial_table(const PartialResultOf<D>& r) {
    const Eigen::Index p = r.projected.front().rows();
    Matrix m(static_cast<Eigen::Index>(r.projected.size()), D * p);
    for (std::size_t s = 0; s < r.projected.size(); ++s)
        for (Eigen::Index j = 0; j < p; ++j)
            for (Eigen::Index a = 0; a < D; ++a) m(static_cast<Eigen::Index>(s), D * j + a) = r.projected[s](j, a);
    return m;
}

// How the sliding went, as the steps record it.
struct SlideOutcome {
    int iterations = 0;
    double last_change = 0, last_movement = 0;
    bool converged = true;
    Matrix partial;
};

// Slides the configurations of `t` and stores them, each in its own frame.
template <int D>
SlideOutcome slide_table(SpecimenTable& t, const std::vector<Slider>& sliders, const PartialOptions& o) {
    const std::vector<PointsOf<D>> given = configurations<D>(t);
    const PartialResultOf<D> r = slide_semilandmarks(given, sliders, o);
    store(t, in_own_frames(given, r, sliders));
    for (std::size_t i = 0; i < t.coords.size(); ++i)
        if (!t.sizes[i]) t.sizes[i] = r.sizes[i];
    return {r.iterations, r.last_change, r.last_movement, r.converged, partial_table(r)};
}

void record_slide(const std::vector<std::array<int, 3>>& sliders, const std::string& criterion, const PartialOptions& o,
                  SlideOutcome&& r, SpecimenTable& t, ImportSteps& steps) {
    steps.sliders = sliders;
    for (const auto& a : sliders) steps.semilandmarks.push_back(a[1]);
    std::sort(steps.semilandmarks.begin(), steps.semilandmarks.end());
    steps.slide_criterion = criterion;
    steps.iterations = r.iterations;
    steps.last_change = r.last_change;
    steps.last_movement = r.last_movement;
    steps.converged = r.converged;
    steps.iteration_limit = o.max_iterations;
    steps.to_optimum = o.to_optimum;
    steps.partial = std::move(r.partial);
    const std::string how = criterion == "be" ? "bending energy" : "Procrustes distance";
    steps.notes.push_back(std::to_string(sliders.size()) + " semilandmarks slid by " + how + ": " + std::to_string(r.iterations) +
                          " iterations as gpagen counts them (its limit of " + std::to_string(o.max_iterations) + " allows " +
                          std::to_string(o.max_iterations + 1) + (r.converged ? "" : ", and it did not settle") +
                          "); the last moved no point by more than " + number_text(r.last_movement) +
                          " of its centroid size and changed the fit by " + number_text(r.last_change) + " (tolerance " +
                          number_text(o.tolerance) + ")" +
                          (o.to_optimum ? "; the superimpositions between them were iterated to their optimum."
                                        : "; the superimpositions between them took gpagen's steps."));
    t.notices.push_back(steps.notes.back());
}

}  // namespace

void slide_curves(SpecimenTable& t, const ImportOptions& options, ImportSteps& steps) {
    if (!options.semilandmarks && options.sliders_file.empty()) return;
    if (options.slide != "be" && options.slide != "procd")
        refuse(t.path, 0, "",
               "semilandmarks slide by be (bending energy) or procd (Procrustes distance), not \"" +
                   quoted_snippet(options.slide) + "\"");
    const auto sliders = options.sliders_file.empty() ? curve_sliders(t) : read_sliders(options.sliders_file, t.landmarks);
    if (sliders.empty()) {
        t.warnings.push_back(t.name + " has no curves: nothing slides, every point is a fixed landmark.");
        return;
    }
    if (!same_width(t)) return;  // refused with its line when the table is built
    require_slidable_coordinates(t);
    std::vector<Slider> s;
    for (const auto& a : sliders) s.push_back({a[0] - 1, a[1] - 1, a[2] - 1});
    PartialOptions o;
    o.criterion = options.slide == "be" ? SlideCriterion::BendingEnergy : SlideCriterion::ProcrustesDistance;
    o.to_optimum = options.gpa_steps == GpaSteps::Converged;
    o.max_iterations = options.slide_iterations;
    SlideOutcome r = t.dimensions == 3 ? slide_table<3>(t, s, o) : slide_table<2>(t, s, o);
    const std::string how = options.slide == "be" ? "bending energy" : "Procrustes distance";
    // gpagen returns what it has at its limit, and the field publishes from
    // it; the strict choice refuses such sliding instead.
    const std::string unsettled =
        "sliding the semilandmarks by " + how + " did not settle within the limit of " + std::to_string(o.max_iterations) +
        " iterations (the last changed the fit by " + number_text(r.last_change) + " and moved a point by as much as " +
        number_text(r.last_movement) + " of its centroid size, more than the tolerance " + number_text(o.tolerance) + ")";
    if (!r.converged && options.strict_sliding)
        refuse(t.path, 0, "", unsettled + "; with strict sliding the slid coordinates were not used");
    if (!r.converged)
        t.warnings.push_back("In " + t.name + ", " + unsettled +
                             ": the coordinates at the limit were used, as geomorph's gpagen returns them. Allow more "
                             "iterations (--slide-iterations), or choose strict sliding (--slide-strict; in the window "
                             "a Curves choice marked strict) to refuse them instead.");
    record_slide(sliders, options.slide, o, std::move(r), t, steps);
}

}  // namespace quillan::io

namespace quillan::io {

std::vector<int> ImportSteps::estimated_in(std::size_t specimen) const {
    std::vector<int> out;
    for (const auto& [s, landmark] : estimated)
        if (static_cast<std::size_t>(s) == specimen + 1) out.push_back(landmark);
    return out;
}

std::string ImportSteps::description(const std::vector<std::string>& ids) const {
    std::string out;
    if (!left_out.empty()) out += std::to_string(left_out.size()) + " specimens left out, having no value of " + left_out_for;
    if (slid())
        out += (out.empty() ? "" : "; ") + std::to_string(semilandmarks.size()) + " semilandmarks slid by " +
               (slide_criterion == "be" ? "bending energy" : "Procrustes distance") + (to_optimum ? "" : " by gpagen's steps") +
               (converged ? "" : " (not settled within the limit of " + std::to_string(iteration_limit) + " iterations)");
    if (!estimated.empty()) {
        out += (out.empty() ? "" : "; ") + std::to_string(estimated.size()) + " landmarks estimated (" + estimate_method + "):";
        int last = 0;
        for (const auto& [s, landmark] : estimated) {
            if (s != last) {
                const std::size_t i = static_cast<std::size_t>(s - 1);
                out += std::string(last ? "; " : " ") +
                       (i < ids.size() && !ids[i].empty() ? ids[i] : "number " + std::to_string(s)) + " ";
            } else {
                out += ", ";
            }
            out += std::to_string(landmark);
            last = s;
        }
    }
    return out;
}

}  // namespace quillan::io
