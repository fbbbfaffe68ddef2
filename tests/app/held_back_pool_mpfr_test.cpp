// The whole run with part of the work pool held back, so that numbers find
// no LargeBlock (or no SmallBlock) and live in temporary files: what it
// costs, that it still ends cleanly, and how many digits of pi (from MPFR)
// still come out right. Every setting takes a whole run or more, so the
// runs belong to make sweep (TAVREX_SWEEP=full).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/app/pi_oracle.h"
#include "tests/app/whole_run.h"

namespace {

using namespace wholerun;

using pioracle::kFractionDigits;

std::uint64_t FileCalls(const Outcome& out) {
  std::uint64_t calls = 0;
  for (Call c : {Call::CreateFile, Call::CloseHandle, Call::SetFilePointer, Call::ReadFile,
                 Call::WriteFile, Call::CopyFile, Call::DeleteFile}) {
    calls += out.counts[Index(c)];
  }
  return calls;
}

TEST(HeldBackPool, DigitsOfPiWithPartOfThePoolHeldBack) {
  if (!FullSweep()) GTEST_SKIP() << "a whole run per setting: TAVREX_SWEEP=full (make sweep)";
  std::vector<Setting> settings;
  for (std::uint32_t large = 8; large <= kLargeBlockCount; ++large) settings.push_back({large, 0});
  // Exactly the three SmallBlocks the deepest step needs, and one fewer.
  settings.push_back({8, kSmallBlockCount - 3});
  settings.push_back({8, kSmallBlockCount - 2});
  settings.push_back({10, kSmallBlockCount - 3});

  Leaks leaks;
  for (const Setting& setting : settings) {
    SCOPED_TRACE(setting.Name());
    Options options;
    options.setting = setting;
    options.captureClosedFiles = true;
    const Outcome out = RunOnce(options);
    Verify(out, Expect{.exactRecords = false}, leaks);

    // The result is the last temporary file closed: the padded digits when
    // it was in memory at the end, its own file when it already lived in one.
    const int correct = pioracle::CorrectFractionDigits(out.lastClosedFile);
    std::printf("[ digits   ] %-34s %5d of %d fraction digits of pi; %8llu file calls, "
                "%6zu records, %.1f s\n",
                setting.Name().c_str(), correct, kFractionDigits,
                static_cast<unsigned long long>(FileCalls(out)), out.logWrites.size() - 1,
                out.seconds);
    std::fflush(stdout);
    // While every product still finds a LargeBlock for itself (ten held
    // back at most) and the SmallBlocks suffice, the files only carry the
    // numbers: the digits are the plain run's.
    if (setting.largeHeld <= 10 && setting.smallHeld <= kSmallBlockCount - 3) {
      EXPECT_GE(correct, 9900);
    }
  }
  EXPECT_EQ(leaks.Total(), 0u);
}

}  // namespace
