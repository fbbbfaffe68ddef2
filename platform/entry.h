// The process entry's signature, for the program to define once as
// `TAVREX_MAIN { ... }`: main on POSIX systems, wmain on Windows (linked
// with -municode). No arguments are read on either.
#pragma once

#ifdef _WIN32
#define TAVREX_MAIN extern "C" int wmain(int, wchar_t**)
#else
#define TAVREX_MAIN int main()
#endif
