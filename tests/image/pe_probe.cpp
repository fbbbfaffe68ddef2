// The control of the executable checker: a GUI program on the compiler's
// DLLs whose version record and manifest differ from the program's in every
// field that is read, so the checker must refuse it on each count.
#include <iostream>

int main() { std::cout << "probe"; }
