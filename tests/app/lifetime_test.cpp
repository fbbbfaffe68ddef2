// RunProgram, the process entry: start-up, _tmain and shut-down in that
// order. The order of the pool and the log, and each failure of start-up
// and shut-down, are swept in fault_sweep_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/program.h"
#include "log/log.h"
#include "store/work_pool.h"
#include "tests/log/log_test_support.h"
#include "tests/support/fault.h"
#include "tests/support/fixtures.h"

namespace {

namespace fs = std::filesystem;
using platform::Call;

constexpr int kDay = 4;

TEST(LifetimeTest, RunProgramStartsRunsAndShutsDown) {
  testsupport::ScratchDir scratch;
  const fs::path bin = scratch.path() / "bin";
  fs::create_directory(bin);
  logtest::FakeExecutable exe(bin / "Tavrex", kDay);
  {
    platform::FaultInjector faults;
    // Every allocation after the pool's fails: _tmain ends before the
    // computation.
    faults.Arm(platform::Fault{Call::LocalAlloc, 2, true, 8, -1});
    EXPECT_EQ(RunProgram(), 3);
    EXPECT_EQ(logFile.handle, platform::kNullFile);
    EXPECT_EQ(workPool.base, nullptr);
    EXPECT_EQ(faults.Count(Call::LocalFree), 1u);  // the pool, once
  }
  EXPECT_EQ(testsupport::LogMessages(bin / "log" / ("Tavrex-" + std::to_string(kDay) + ".log")),
            (std::vector<std::string>{"Enter _tmain() function", "Exit _tmain() function"}));
  logFile = LogFile{};
  workPool = WorkPool{};
}

}  // namespace
