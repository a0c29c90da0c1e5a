// The options of the actions that several rows share, or that make a long
// list, declared once for the rows of action_table.cpp.
#pragma once

#include "analyses/options.hpp"

#include <vector>

namespace quillan {

OptionDecl alignment_option();           // full or partial Procrustes
OptionDecl gpa_steps_option();           // converged or gpagen's steps
OptionDecl size_corrected_option();      // the shapes less their regression on size
OptionDecl size_option();                // the size of allometry and of the size correction
OptionDecl logsz_option();               // that size logged or not
OptionDecl formula_option();             // the model's terms
OptionDecl partition_option();           // the landmarks' modules
OptionDecl block2_option();              // a PLS's second block
OptionDecl no_rotation_search_option();  // CR of the landmarks as aligned

// `first`, then --size-corrected and the options of its model (--size,
// --logsz, --size-group), then `rest`: what every analysis on size-corrected
// shapes, and the specimens' export, takes.
std::vector<OptionDecl> with_size_correction(std::vector<OptionDecl> first, const std::vector<OptionDecl>& rest = {});

// The linear model's options, bilateral symmetry's and measurement error's.
std::vector<OptionDecl> model_options();
std::vector<OptionDecl> symmetry_options();
std::vector<OptionDecl> measurement_error_options();

// The rows of the analyses on a model of their own: phenotypic trajectories
// and allometry (trajectory_rows.cpp).
struct ActionRow;
std::vector<ActionRow> trajectory_rows();

}  // namespace quillan
