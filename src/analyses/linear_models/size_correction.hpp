// Size-corrected shapes: what is left of each specimen's shape once the
// shapes' regression on size is taken out, put back around the mean shape,
// so that the analyses after it see the shape variation that size does not
// explain.  The size model is allometry's: shape ~ size, or shape ~ size *
// group for groups with allometries of their own, the size logged or not.
// The shapes are tangent coordinates (one row per specimen); the correction
// is linear in them, so it stays in the tangent space (a corrected row is the
// consensus plus a tangent vector).
#pragma once

#include "analyses/linear_models/model_design.hpp"
#include "analyses/linear_models/size_model.hpp"
#include "analyses/options.hpp"
#include "platform/value.hpp"

#include <Eigen/Dense>

#include <functional>
#include <optional>
#include <string>

namespace quillan {

// How a refusal names specimen `row` (0-based).
using SpecimenNamer = std::function<std::string(Eigen::Index row)>;

// The size model of the options --size, --logsz and the factor option
// `group_option` (--size-group for the size correction, --group for
// allometry); those a row does not declare keep their defaults.
SizeModel size_model_of(const OptionValues& options, const char* group_option = "size-group");

// The size model that --size-corrected asks for, with the options of its
// model; none when it is not given (or the row does not declare it).
std::optional<SizeModel> size_correction_asked(const OptionValues& options);

// The design of a size model over the loaded data.
struct SizeDesign {
    Eigen::VectorXd x;    // each specimen's size as the model takes it (logged when asked)
    ModelVariable group;  // the factor of the groups; no name when none
    ModelDesign design;   // of "size" or "size * group"
};

// Reads the size (a column of numbers of `vars`, or C_size, the landmark
// table's last value) and the group factor of `model`; refuses an unknown
// name, a factor as size, and a size that is not a number (or, logged, not
// above 0), naming the specimen by `name_of`.  `group_noun` names the factor
// in a refusal ("group factor").
SizeDesign size_design(const SizeModel& model, const ModelVariables& vars, const Matrix& landmarks, const SpecimenNamer& name_of,
                       const char* group_noun = "size group");

// The residuals of the least-squares fit of `shapes` on the columns of
// `design` (its first column the intercept), plus the mean of `shapes`.
Eigen::MatrixXd size_corrected(const Eigen::MatrixXd& shapes, const Eigen::MatrixXd& design);

// The report's line for shapes corrected for `model`.
std::string size_correction_line(const SizeModel& model);

}  // namespace quillan
