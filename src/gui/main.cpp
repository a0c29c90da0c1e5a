// quillan: the desktop program.
#include "gui/gfx_main.hpp"

int main(int argc, char** argv) { return quillan::quillan_mainhg(argc, argv); }
