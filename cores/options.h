// TavrexCores' command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cores {

struct Options {
  // One core at a time, `seconds` on each, `cycles` times over the list;
  // or every core of the list at once for `seconds`.
  bool allAtOnce = false;
  double seconds = 10;
  std::uint32_t cycles = 1;
  std::vector<std::uint32_t> cores;  // in this order; empty: every core
  double runLimit = 60;  // a run that takes longer fails
  bool stopOnFailure = false;
  std::wstring program;  // empty: Tavrex beside this program
  std::wstring report;   // empty: no report
  std::wstring work;     // empty: the current directory
  bool help = false;
};

extern const char kUsage[];

// False, with one line saying why in `error`, for arguments that make no
// sense whatever the machine.
bool ParseOptions(const std::vector<std::wstring>& arguments, Options& options,
                  std::string& error);

// Wide text as UTF-8, for the console and the report.
std::string Utf8(const std::wstring& text);

}  // namespace cores
