// Two instances of the built program at once, in one working directory and
// beside one executable: their temporary files meet in the directory (the
// names are drawn from the clock's second, so both draw the same ones) and
// both write the one weekday log.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "log/log_reader.h"
#include "platform/platform.h"
#include "tests/support/fixtures.h"

namespace fs = std::filesystem;

namespace {

#if defined(__SANITIZE_ADDRESS__)

TEST(ConcurrentRuns, TwoInstancesInOneDirectoryBothEndWith0AndLeaveOnlyTheLog) {
  GTEST_SKIP() << "two whole runs at once; the native suite runs them";
}

#else

// The Tavrex executable stands in the build directory, one level above the
// test executable.
fs::path BuiltExecutable() {
  wchar_t self[platform::kPathUnits] = {};
  platform::GetModuleFileName(self, platform::kPathUnits);
  return fs::path(self).parent_path().parent_path() / TAVREX_EXE_NAME;
}

// One instance, run from the current directory: its exit code and when it
// started and ended.
struct Instance {
  int code = -1;
  std::chrono::steady_clock::time_point start;
  std::chrono::steady_clock::time_point end;
};

int ExitCode(int status) {
#ifdef _WIN32
  return status;
#else
  return (status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1;
#endif
}

TEST(ConcurrentRuns, TwoInstancesInOneDirectoryBothEndWith0AndLeaveOnlyTheLog) {
  testsupport::ScratchDir dir;
  const fs::path built = BuiltExecutable();
  ASSERT_TRUE(fs::exists(built)) << built;
  const fs::path exe = dir.path() / built.filename();
  fs::copy_file(built, exe);

  // Each instance waited for on a thread of its own, so both run at once.
  const std::string command = exe.string();
  Instance instances[2];
  std::vector<std::thread> threads;
  for (Instance& instance : instances) {
    threads.emplace_back([&command, &instance] {
      instance.start = std::chrono::steady_clock::now();
      instance.code = ExitCode(std::system(command.c_str()));
      instance.end = std::chrono::steady_clock::now();
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(instances[0].code, 0);
  EXPECT_EQ(instances[1].code, 0);
  // They really ran at the same time.
  EXPECT_LT(instances[0].start, instances[1].end);
  EXPECT_LT(instances[1].start, instances[0].end);

  // Nothing but the executable and the one log.
  EXPECT_EQ(dir.Files(), std::vector<std::string>{exe.filename().string()});
  const std::string logName =
      "Tavrex-" + std::to_string(platform::GetLocalDayOfWeek()) + ".log";
  std::vector<std::string> logs;
  for (const auto& entry : fs::directory_iterator(dir.path() / "log")) {
    logs.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(logs, std::vector<std::string>{logName});

  // Both wrote the same records at the same offsets of the file they both
  // recreated, so it reads as the log of one run.
  std::vector<LogRecord> records;
  std::string error;
  EXPECT_TRUE(ParseLog(testsupport::ReadBytes(dir.path() / "log" / logName), records, error))
      << error;
  std::vector<std::string> messages;
  for (const LogRecord& r : records) messages.push_back(testsupport::Narrow(r.message));
  EXPECT_EQ(messages,
            (std::vector<std::string>{"Enter _tmain() function", "Exit _tmain() function"}));
}

#endif

}  // namespace
