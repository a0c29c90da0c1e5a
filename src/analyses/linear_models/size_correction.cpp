#include "analyses/linear_models/size_correction.hpp"

#include "analyses/toolkit/shape_inputs.hpp"
#include "platform/error.hpp"

#include <cmath>

namespace quillan {

namespace {

// The size of each specimen: a covariate the data name (an import's column,
// cov), or the centroid size the landmark table carries last (C_size).
std::vector<double> sizes_named(const ModelVariables& vars, const Matrix& landmarks, const std::string& name) {
    for (const ModelVariable& v : vars)
        if (v.name == name) {
            if (v.is_factor()) throw Refused("The size \"" + name + "\" is a factor; give a column of numbers (--size).");
            return v.values;
        }
    if (name != "C_size")
        throw Refused("The size \"" + name + "\" is no column of the loaded data; C_size is each specimen's centroid size.");
    const Eigen::VectorXd last = landmarks.col(landmarks.cols() - 1);
    return {last.data(), last.data() + last.size()};
}

}  // namespace

SizeModel size_model_of(const OptionValues& o, const char* group_option) {
    SizeModel m;
    if (o.has("size") && !o.text("size").empty()) m.size = o.text("size");
    if (o.has("logsz")) m.logged = o.choice_index("logsz") == 0;
    if (o.has(group_option)) m.group = o.text(group_option);
    return m;
}

std::optional<SizeModel> size_correction_asked(const OptionValues& o) {
    if (!o.has("size-corrected") || !o.flag("size-corrected")) return std::nullopt;
    return size_model_of(o);
}

SizeDesign size_design(const SizeModel& model, const ModelVariables& vars, const Matrix& landmarks, const SpecimenNamer& name_of,
                       const char* group_noun) {
    const std::vector<double> size = sizes_named(vars, landmarks, model.size);
    SizeDesign d;
    d.x.resize(static_cast<Eigen::Index>(size.size()));
    for (std::size_t i = 0; i < size.size(); ++i) {
        const auto row = static_cast<Eigen::Index>(i);
        if (!std::isfinite(size[i]) || (model.logged && size[i] <= 0))
            throw Refused("The size of " + name_of(row) + " is " + std::to_string(size[i]) +
                          (model.logged ? ": its logarithm needs a size above 0 (or --logsz false)." : ": not a number."));
        d.x(row) = model.logged ? std::log(size[i]) : size[i];
    }
    ModelVariables used{{"size", {}, {}, {d.x.data(), d.x.data() + d.x.size()}}};
    if (!model.group.empty()) {
        d.group = factor_named(vars, model.group, group_noun);
        used.push_back(d.group);
        used.back().name = "group";
    }
    d.design = build_design(used.size() > 1 ? "size * group" : "size", used, static_cast<int>(d.x.size()));
    return d;
}

Eigen::MatrixXd size_corrected(const Eigen::MatrixXd& shapes, const Eigen::MatrixXd& design) {
    // A rank-revealing solve: a size that is the same for every specimen (or
    // for every one of a group) leaves its slope undetermined, and then no
    // slope is taken out, only the mean (the group's), and the grand mean is
    // put back.
    const Eigen::MatrixXd fitted = design * design.colPivHouseholderQr().solve(shapes);
    Eigen::MatrixXd out = shapes - fitted;
    out.rowwise() += shapes.colwise().mean();
    return out;
}

std::string size_correction_line(const SizeModel& model) {
    return "Size-corrected: the residuals of shape ~ " + model.terms() + " plus the mean shape\n";
}

}  // namespace quillan
