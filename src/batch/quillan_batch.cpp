// quillan-batch: the batch front end in one process.  Built twice: linked
// whole as quillan-batch, which hands a run with --plots to the other, and
// linked to the shared libraries as the picture program, which opens the
// picture module (see batch/picture_module.hpp).  A build that cannot link
// a program whole makes quillan-batch the second kind.
#include "batch/batch.hpp"
#include "batch/picture_module.hpp"

int main(int argc, char** argv) {
    quillan::BatchProcess process;
#if QUILLAN_HAND_OVER_PICTURES
    process.hand_over_pictures = &quillan::hand_over_to_picture_program;
#elif QUILLAN_HAVE_PICTURES
    process.open_pictures = &quillan::load_picture_module;
#endif
    return quillan::run_batch_written_together(argc, argv, process);
}
