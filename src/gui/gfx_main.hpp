// Start-up of the desktop program.
#pragma once

namespace quillan {

// The graphics main routine: starts Qt, builds the program's modules in the
// order of the operation table, calls `quillan` with the command-line texts,
// handles window events until the last window closes, and returns the exit
// status.  Besides the texts it understands --help and --screenshot FILE
// (open the window, save a picture of it as PNG and end).
int gfx_main(int& argc, char** argv);

// The process entry: hands the command line to gfx_main.
int quillan_mainhg(int argc, char** argv);

}  // namespace quillan
