// Two instances of the built program at once, in one working directory and
// beside one executable: their temporary files meet in the directory (the
// names are drawn from the clock's second, so both draw the same ones) and
// both write the one weekday log.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log/log_reader.h"
#include "platform/platform.h"
#include "tests/support/fixtures.h"

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)

TEST(ConcurrentRuns, TwoInstancesInOneDirectoryBothEndWith0AndLeaveOnlyTheLog) {
#if defined(_WIN32)
  GTEST_SKIP() << "runs two processes at once through a POSIX shell";
#else
  GTEST_SKIP() << "two whole runs at once; the native suite runs them";
#endif
}

#else

// The Tavrex executable stands in the build directory, one level above the
// test executable.
fs::path BuiltExecutable() {
  wchar_t self[platform::kPathUnits] = {};
  platform::GetModuleFileName(self, platform::kPathUnits);
  return fs::path(self).parent_path().parent_path() / TAVREX_EXE_NAME;
}

// What one instance reported: its exit code, and when it started and
// ended (nanoseconds of the wall clock).
struct Instance {
  int code = -1;
  long long start = 0;
  long long end = 0;
};

Instance ReadInstance(const fs::path& file) {
  Instance instance;
  std::ifstream in(file);
  in >> instance.code >> instance.start >> instance.end;
  EXPECT_TRUE(in) << "no report in " << file;
  return instance;
}

TEST(ConcurrentRuns, TwoInstancesInOneDirectoryBothEndWith0AndLeaveOnlyTheLog) {
  testsupport::ScratchDir dir;
  const fs::path built = BuiltExecutable();
  ASSERT_TRUE(fs::exists(built)) << built;
  const fs::path exe = dir.path() / built.filename();
  fs::copy_file(built, exe);
  // The instances' reports go elsewhere: the working directory must end up
  // holding the program's own files only.
  const fs::path reports = dir.path().string() + "-reports";
  fs::create_directories(reports);

  // Each instance in the background; the shell waits for both.
  std::string command = "cd '" + dir.path().string() + "' && ";
  for (int i = 1; i <= 2; ++i) {
    command += "( s=$(date +%s%N); './" + exe.filename().string() +
               "'; r=$?; e=$(date +%s%N); echo \"$r $s $e\" > '" +
               (reports / std::to_string(i)).string() + "' ) & ";
  }
  command += "wait";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  const Instance first = ReadInstance(reports / "1");
  const Instance second = ReadInstance(reports / "2");
  std::error_code ignored;
  fs::remove_all(reports, ignored);
  EXPECT_EQ(first.code, 0);
  EXPECT_EQ(second.code, 0);
  // They really ran at the same time.
  EXPECT_LT(first.start, second.end);
  EXPECT_LT(second.start, first.end);

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
