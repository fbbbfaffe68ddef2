#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/program.h"
#include "log/log.h"
#include "log/log_reader.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "store/work_pool.h"
#include "tests/log/log_test_support.h"
#include "tests/support/fixtures.h"

namespace {

namespace fs = std::filesystem;
using platform::Call;
using platform::Fault;
using platform::FaultInjector;

constexpr int kDay = 4;

// Every allocation after the pool's fails, so the FFT tables cannot be set
// up and _tmain ends before the (long) computation.
Fault NoMemoryAfterThePool() { return Fault{Call::LocalAlloc, 2, true, 8, -1}; }
Fault NoMemoryAtAll() { return Fault{Call::LocalAlloc, 1, true, 8, -1}; }

// Start-up and shut-down with the executable placed in a scratch directory.
class LifetimeTest : public ::testing::Test {
 protected:
  LifetimeTest() : bin_(scratch_.path() / "bin"), exe_(bin_ / "Tavrex", kDay) {
    fs::create_directory(bin_);
  }
  ~LifetimeTest() override {
    CloseLog();
    FreeWorkPool();
    logFile = LogFile{};
    workPool = WorkPool{};
  }

  fs::path DayLog(int day) const {
    return bin_ / "log" / ("Tavrex-" + std::to_string(day) + ".log");
  }
  std::vector<LogRecord> Records(int day = kDay) const {
    std::vector<LogRecord> records;
    std::string error;
    EXPECT_TRUE(ParseLog(testsupport::ReadBytes(DayLog(day)), records, error))
        << error;
    return records;
  }
  std::vector<std::string> Messages(int day = kDay) const {
    std::vector<std::string> messages;
    for (const LogRecord& record : Records(day)) {
      messages.push_back(testsupport::Narrow(record.message));
    }
    return messages;
  }

  testsupport::ScratchDir scratch_;
  fs::path bin_;
  logtest::FakeExecutable exe_;
};

TEST_F(LifetimeTest, WithoutThePoolOnlyTheEntryRecordIsWrittenAndTheCodeIs3) {
  std::int32_t code = -1;
  {
    FaultInjector faults;
    faults.Arm(NoMemoryAtAll());
    {
      ProcessLifetime lifetime;
      EXPECT_EQ(workPool.ready, 0);
      EXPECT_EQ(logFile.openResult, 0);
      code = _tmain();
    }
    // Nothing beyond the pool was even asked for.
    EXPECT_EQ(faults.Count(Call::LocalAlloc), 1u);
    EXPECT_EQ(faults.Count(Call::LocalFree), 0u);
  }
  EXPECT_EQ(code, 3);
  // The pool's own failure record was written before the log was open.
  const std::vector<LogRecord> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, L"Enter _tmain() function");
  EXPECT_EQ(records[0].comCode, 0u);
  EXPECT_EQ(records[0].externalCode, 0u);
  EXPECT_EQ(testsupport::ReadBytes(DayLog(kDay)),
            logtest::kByteOrderMark +
                logtest::RecordBytes("0", "0", "Enter _tmain() function"));
}

TEST_F(LifetimeTest, WithoutTheFftMemoryTheRunLogsEntryAndExitAndEndsWith3) {
  std::int32_t code = -1;
  {
    FaultInjector faults;
    faults.Arm(NoMemoryAfterThePool());
    ProcessLifetime lifetime;
    EXPECT_EQ(workPool.ready, 1);
    code = _tmain();
    // No number was made: the pool is untouched.
    EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), 0u);
    EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), 0u);
  }
  EXPECT_EQ(code, 3);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Enter _tmain() function",
                                                  "Exit _tmain() function"}));
  // No temporary file was left in the working directory.
  EXPECT_TRUE(scratch_.Files().empty());
}

TEST_F(LifetimeTest, RunProgramStartsRunsAndShutsDown) {
  FaultInjector faults;
  faults.Arm(NoMemoryAfterThePool());
  EXPECT_EQ(RunProgram(), 3);
  EXPECT_EQ(logFile.handle, platform::kNullFile);
  EXPECT_EQ(workPool.base, nullptr);
  EXPECT_EQ(faults.Count(Call::LocalFree), 1u);  // the pool, once
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Enter _tmain() function",
                                                  "Exit _tmain() function"}));
}

TEST_F(LifetimeTest, ALogThatCannotBeOpenedDoesNotChangeTheRun) {
  std::int32_t code = -1;
  {
    FaultInjector faults;
    faults.Arm(NoMemoryAfterThePool());
    faults.Arm(Fault{Call::CreateFile, 1, false, 5, -1});
    ProcessLifetime lifetime;
    EXPECT_EQ(logFile.openResult, 1);
    code = _tmain();
    EXPECT_EQ(faults.Count(Call::WriteFile), 0u);
  }
  EXPECT_EQ(code, 3);
  EXPECT_FALSE(fs::exists(DayLog(kDay)));
  EXPECT_EQ(logFile.handle, platform::kNullFile);
  EXPECT_EQ(workPool.base, nullptr);
}

// What the start-up and shut-down ask of the system, in order.
std::vector<std::string> events;
void* poolBlock = nullptr;
platform::FileHandle logHandle = platform::kNullFile;
platform::Calls beneath;

void* RecordAlloc(std::uint32_t flags, std::size_t bytes) {
  void* block = beneath.localAlloc(flags, bytes);
  if (bytes == kWorkPoolBytes) {
    poolBlock = block;
    events.push_back("pool allocated");
  }
  return block;
}
void RecordFree(void* block) {
  if (block == poolBlock && block != nullptr) events.push_back("pool freed");
  beneath.localFree(block);
}
platform::FileHandle RecordCreate(const wchar_t* name,
                                  platform::Disposition disposition,
                                  platform::Share share) {
  const platform::FileHandle handle =
      beneath.createFile(name, disposition, share);
  if (std::wstring_view(name).starts_with(L"Tavrex-")) {
    logHandle = handle;
    events.push_back("log opened");
  }
  return handle;
}
bool RecordClose(platform::FileHandle handle) {
  if (handle == logHandle) events.push_back("log closed");
  return beneath.closeHandle(handle);
}
bool RecordWrite(platform::FileHandle handle, const void* buffer,
                 std::uint32_t count, std::uint32_t* done) {
  if (handle == logHandle && count > 2) events.push_back("record");
  return beneath.writeFile(handle, buffer, count, done);
}

TEST_F(LifetimeTest, ThePoolComesBeforeTheLogAndOutlivesIt) {
  events.clear();
  poolBlock = nullptr;
  logHandle = platform::kNullFile;
  beneath = platform::calls;
  platform::calls.localAlloc = &RecordAlloc;
  platform::calls.localFree = &RecordFree;
  platform::calls.createFile = &RecordCreate;
  platform::calls.closeHandle = &RecordClose;
  platform::calls.writeFile = &RecordWrite;
  std::int32_t code = -1;
  {
    FaultInjector faults;
    faults.Arm(NoMemoryAfterThePool());
    ProcessLifetime lifetime;
    code = _tmain();
  }
  EXPECT_EQ(code, 3);
  EXPECT_EQ(events, (std::vector<std::string>{"pool allocated", "log opened",
                                              "record", "record", "log closed",
                                              "pool freed"}));
  // Nothing is left open or held.
  EXPECT_EQ(logFile.handle, platform::kNullFile);
  EXPECT_EQ(workPool.base, nullptr);
  EXPECT_EQ(workPool.ready, 0);
}

TEST_F(LifetimeTest, RunsOnTheSameWeekdayShareAFileAndOtherDaysDoNot) {
  FaultInjector faults;
  faults.Arm(NoMemoryAtAll());
  {
    ProcessLifetime lifetime;
    _tmain();
    WriteLog(L"first run only", 0, 1);
  }
  {
    ProcessLifetime lifetime;
    _tmain();
  }
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Enter _tmain() function"});
  logtest::fakeDayOfWeek = kDay + 1;
  {
    ProcessLifetime lifetime;
    _tmain();
  }
  EXPECT_EQ(Messages(kDay + 1),
            std::vector<std::string>{"Enter _tmain() function"});
  EXPECT_EQ(Messages(kDay).size(), 1u);
}

}  // namespace
