// quillan-batch: the batch front end in one process.
#include "batch/batch.hpp"

int main(int argc, char** argv) { return quillan::run_batch_written_together(argc, argv); }
