// tavrex-result-digits > app/correct_result.cpp
// Runs the computation once, in the current directory, and prints the
// source of kCorrectResultDigits: the digits of the result as ComputePi
// wrote them to its temporary file, read back just before the file is
// deleted. Every correct run on every build writes the same digits, so
// this is run again only when the computation itself changes (and then
// checked against MPFR by the tests). The check inside the run has no log
// to write to.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/program.h"
#include "fft/fft_tables.h"
#include "platform/platform.h"
#include "store/work_pool.h"

namespace {

// The bytes of the last file the run deleted: in the program's own run the
// padded result is the only number that reaches a file.
std::string lastDeleted;

bool KeepAndDelete(const wchar_t* name) {
  std::ifstream in(std::filesystem::path(name), std::ios::binary);
  lastDeleted.assign(std::istreambuf_iterator<char>(in), {});
  return platform::RealCalls().deleteFile(name);
}

}  // namespace

int main() {
  InitWorkPool();
  if (workPool.ready == 0 || InitFftTables() != 0) return 3;
  std::string digits;
  platform::calls.deleteFile = &KeepAndDelete;
  if (ComputePi() == 0) digits = lastDeleted;
  platform::Restore();
  FreeFftTables();
  FreeWorkPool();
  if (digits.size() < kResultDigits) {
    std::fprintf(stderr, "the run wrote no result to its file\n");
    return 1;
  }
  for (std::size_t i = 0; i < kResultDigits; ++i) {
    if (digits[i] < 0 || digits[i] > 9) {
      std::fprintf(stderr, "digit %zu of the result is not normalised\n", i);
      return 1;
    }
  }
  std::printf(
      "// The digits of the result every correct run of ComputePi leaves, most\n"
      "// significant first. Generated from the program's own output: built\n"
      "// natively, `tavrex-result-digits > app/correct_result.cpp`.\n"
      "#include \"app/program.h\"\n\n"
      "const char kCorrectResultDigits[kResultDigits + 1] =\n");
  constexpr std::size_t kLine = 100;
  for (std::size_t at = 0; at < kResultDigits; at += kLine) {
    std::string line;
    for (std::size_t i = at; i < at + kLine && i < kResultDigits; ++i) {
      line += static_cast<char>('0' + digits[i]);
    }
    std::printf("    \"%s\"%s\n", line.c_str(), at + kLine < kResultDigits ? "" : ";");
  }
  return 0;
}
