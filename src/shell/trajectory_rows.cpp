#include "shell/action_options.hpp"
#include "shell/action_table.hpp"

#include "analyses/analyses.hpp"

namespace quillan {

std::vector<ActionRow> trajectory_rows() {
    using O = OptionKind;
    return {
        {.name = "RunTrajectory",
         .alias = "trajectory",
         .kind = ActionKind::Analysis,
         .analysis = run_trajectory,
         .description = "Phenotypic trajectories of --group across --level (or --points): path lengths, angles and shapes "
                        "compared in pairs, by RRPP",
         .needs = kNeedsLandmarks | kNeedsGroups,
         .writes_report = true,
         .groupings = 2,
         // The model's F ratios (group, level, their interaction), then a
         // pair's difference of path lengths and angle; two points give no
         // shape difference.
         .statistics = {{"Trajectory model: F ratio of the group factor", "Trajectory model: F ratio of the level factor",
                         "Trajectory model: F ratio of the interaction",
                         "Trajectories of the first pair: difference of path lengths",
                         "Trajectories of the first pair: angle (degrees)"}},
         .options = with_size_correction(
             {{.name = "group", .help = "Factor of the trajectories, one a group (default G1)"},
              {.name = "level", .help = "Factor of the points of each trajectory, in the order of its levels (default G2)"},
              {.name = "points",
               .kind = O::Whole,
               .help = "Points in each specimen's variables, the first variables the first point (a motion path); "
                       "the trajectories are then the means of the groups of --group, and --level is not read "
                       "(default 0: the levels of --level)",
               .fallback = "0"},
              {.name = "coordinates",
               .kind = O::Choice,
               .help = "The variables: superimposed (the shapes of --alignment, projected onto the tangent space) or "
                       "as-loaded (the coordinates themselves, for motion paths or coordinates aligned elsewhere)",
               .fallback = "superimposed",
               .choices = {"superimposed", "as-loaded"}},
              alignment_option(),
              gpa_steps_option()})},
        {.name = "RunAllometry",
         .alias = "allometry",
         .kind = ActionKind::Analysis,
         .analysis = run_allometry,
         .description = "Allometry scores of shape on log size (--size, --group): CAC, RSC1, regression score and "
                        "predicted line, as geomorph's plotAllometry",
         .needs = kNeedsLandmarks,
         .writes_report = true,
         .permutes = false,
         .options = {size_option(),
                     logsz_option(),
                     {.name = "group", .help = "Factor of the groups of shape ~ log(size) * group (default: none)"},
                     {.name = "cac-centre",
                      .kind = O::Choice,
                      .help = "The CAC's regression: grand (pooled, as geomorph's code computes it) or groups (within "
                              "groups, each centred on its own means, as the CAC is defined)",
                      .fallback = "grand",
                      .choices = {"grand", "groups"}},
                     alignment_option(),
                     gpa_steps_option()}},
    };
}

}  // namespace quillan
