// Entry point of the framory program: everything happens in RunProgram, on
// the one GUI thread.
#include "ui/Program.h"

int main(int argc, char** argv) { return framory::RunProgram(argc, argv); }
