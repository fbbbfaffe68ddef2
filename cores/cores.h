// TavrexCores: the unchanged Tavrex program run again and again, each run
// held to one core, so that a core that computes wrong is named. One core
// at a time for a given time each, or every chosen core at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cores {

// Exit codes.
inline constexpr int kAllPassed = 0;
inline constexpr int kCoreFailed = 1;
// Bad arguments, or nothing could be tested: a program that does not
// start, a working directory that cannot be written.
inline constexpr int kUsageError = 2;

// The most cores this build can name: the bits of the system's affinity
// mask, 32 in a 32-bit build.
inline constexpr std::uint32_t kMaxCores = 8 * sizeof(void*);

// Runs the tester with its command-line arguments (the program's name
// left out). What the user sees goes to standard output, or is appended
// to *capture when one is given. Returns the exit code.
int RunCores(const std::vector<std::wstring>& arguments, std::string* capture = nullptr);

}  // namespace cores
