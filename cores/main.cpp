// Process entry of TavrexCores.
#include "cores/cores.h"
#include "platform/entry.h"

TAVREX_MAIN_WITH_ARGUMENTS { return cores::RunCores(platform::Arguments(argc, argv)); }
