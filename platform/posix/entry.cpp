// Process entry on POSIX systems. The program takes no arguments.
#include "app/program.h"

int main() { return RunProgram(); }
