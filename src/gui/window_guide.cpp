#include "gui/window_guide.hpp"

namespace quillan {

const char* window_guide_text() {
    return R"(## Using quillan

1. **Load the data.** *File > Load landmarks* reads the landmark file (one specimen
   per line: x and y of each landmark, then one more value; tick **3-D** for x, y
   and z).  *Load groups* reads one
   or two columns of group codes, *Load covariate* one value per specimen.
   *Import* reads TPS, NTS and tables with a header.  You may also drop files on the
   window.
2. **Choose the permutations** (999 by default), and for the covariate tests the
   covariate model.  Leave the **Seed** box empty to draw fresh permutations; a seed
   repeats a run exactly.
3. **Run a test** from the Analyses tab or the *Tests* menu.  The report replaces the
   one on screen; the status line below says which test, which files, how many
   permutations and which seed made it, and marks it *out of date* when files are
   loaded afterwards or a later test fails.
4. **Keep the result.** *File > Save report* writes the report as text, *Export*
   its numbers.  *Copy seed* puts the seed on the clipboard: `quillan-batch ...
   --seed N` repeats the run.

**Models** fits a Procrustes linear model to a formula over G1, G2, cov and an
import's columns (*Tests > Run model*, Ctrl+M); **Toolkit** holds outliers,
disparity, canonical variates, integration and PLS, modularity, symmetry, measurement
error, trajectories and allometry (Alt+1 ... Alt+0, then Alt+Shift+1 ...);
**Phylogeny** loads a tree (*File > Load tree*, Ctrl+T; a NEXUS file's tree by its
name) and holds the phylogenetic signal and the phylomorphospace (Ctrl+Shift+1 ...);
with a tree loaded the model is a phylogenetic GLS.  Each reads the boxes of its own
page.  **3-D view** turns landmarks in space: drag to turn, the wheel or + and - to
zoom, Home to go back.

A long test shows its progress with a Cancel button; closing the window stops it.
The README that comes with quillan describes every test and file format.)";
}

}  // namespace quillan
