// The process entry's signature, for the program to define once as
// `TAVREX_MAIN { ... }`: main on POSIX systems, wmain on Windows (linked
// with -municode). No arguments are read on either.
#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
#define TAVREX_MAIN extern "C" int wmain(int, wchar_t**)
#else
#define TAVREX_MAIN int main()
#endif

// The entry of a program that reads its arguments, which hands them to
// platform::Arguments:
//   TAVREX_MAIN_WITH_ARGUMENTS { return Run(platform::Arguments(argc, argv)); }
#ifdef _WIN32
#define TAVREX_MAIN_WITH_ARGUMENTS extern "C" int wmain(int argc, wchar_t** argv)
#else
#define TAVREX_MAIN_WITH_ARGUMENTS int main(int argc, char** argv)
#endif

namespace platform {

#ifdef _WIN32
using ArgumentChar = wchar_t;
#else
using ArgumentChar = char;
#endif

// The arguments after the program's name, as wide text.
std::vector<std::wstring> Arguments(int argc, ArgumentChar** argv);

}  // namespace platform
