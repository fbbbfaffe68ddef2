// Process entry on Windows (linked with -municode). The program takes no
// arguments.
#include "app/program.h"

extern "C" int wmain(int, wchar_t**) { return RunProgram(); }
