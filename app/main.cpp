// Process entry. The program takes no arguments.
#include "app/program.h"
#include "platform/entry.h"

TAVREX_MAIN { return RunProgram(); }
