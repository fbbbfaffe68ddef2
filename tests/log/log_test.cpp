#include "log/log.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "log/log_reader.h"
#include "platform/platform.h"
#include "tests/log/log_test_support.h"
#include "tests/support/fault.h"
#include "tests/support/fixtures.h"

namespace {

namespace fs = std::filesystem;
using logtest::FakeExecutable;
using logtest::kByteOrderMark;
using logtest::RecordBytes;
using platform::Call;
using platform::Fault;
using platform::FaultInjector;

constexpr int kDay = 3;

// A scratch directory holding a stand-in executable "bin/Tavrex", so that the
// log directory is "bin/log" inside it. Leaves the process-wide log closed.
class LogTest : public ::testing::Test {
 protected:
  LogTest() : bin_(scratch_.path() / "bin"), exe_(bin_ / "Tavrex", kDay) {
    fs::create_directory(bin_);
  }

  void TearDown() override {
    CloseLog();
    logFile = saved_;
    if (log_.handle != platform::kNullFile &&
        log_.handle != platform::kInvalidFile) {
      platform::CloseHandle(log_.handle);
    }
  }

  fs::path LogDir() const { return bin_ / "log"; }
  fs::path DayLog(int day) const {
    return LogDir() / ("Tavrex-" + std::to_string(day) + ".log");
  }
  // The local LogFile opened the way the process opens its own.
  int OpenLocal() {
    std::wcscpy(log_.logFileName, L"Tavrex-3.log");
    return OpenLogFile(log_);
  }
  void ExpectBackInScratch() const {
    EXPECT_TRUE(fs::equivalent(fs::current_path(), scratch_.path()))
        << fs::current_path();
  }

  testsupport::ScratchDir scratch_;
  fs::path bin_;
  FakeExecutable exe_;
  LogFile saved_ = logFile;
  LogFile log_;
};

// --- Records ---------------------------------------------------------------

TEST_F(LogTest, EntryRecordIsTheExact220Bytes) {
  SetUpLog();
  ASSERT_EQ(logFile.openResult, 0);
  WriteLog(L"Enter _tmain() function", 0, 0);
  CloseLog();

  const std::string bytes = testsupport::ReadBytes(DayLog(kDay));
  const std::string entry = RecordBytes("0", "0", "Enter _tmain() function");
  EXPECT_EQ(entry.size(), 220u);
  EXPECT_EQ(bytes, kByteOrderMark + entry);
  // The record's own tail: CR LF CR LF and the null unit.
  EXPECT_EQ(bytes.substr(bytes.size() - 10),
            std::string("\r\0\n\0\r\0\n\0\0\0", 10));
}

TEST_F(LogTest, CodesAreUpperCaseHexWithoutLeadingZeros) {
  SetUpLog();
  WriteLog(L"ReadFile() function fail", 112, 1);
  WriteLog(L"Error:Data overflow 1", 0xFFFFFFFFu, 0xFFFFFFFFu);
  WriteLog(L"x", 0xABCDEF, 0x10);
  CloseLog();

  EXPECT_EQ(testsupport::ReadBytes(DayLog(kDay)),
            kByteOrderMark + RecordBytes("70", "1", "ReadFile() function fail") +
                RecordBytes("FFFFFFFF", "FFFFFFFF", "Error:Data overflow 1") +
                RecordBytes("ABCDEF", "10", "x"));
}

TEST_F(LogTest, MessagesAreEncodedAsUtf16LittleEndian) {
  SetUpLog();
  // U+00E9 is one unit; U+1F600 is a surrogate pair on every platform,
  // whatever the width of wchar_t.
  std::wstring text = L"a";
  text += static_cast<wchar_t>(0xE9);
  if constexpr (sizeof(wchar_t) == 2) {
    text += static_cast<wchar_t>(0xD83D);
    text += static_cast<wchar_t>(0xDE00);
  } else {
    text += static_cast<wchar_t>(0x1F600);
  }
  WriteLog(text.c_str(), 0, 1);
  CloseLog();

  const std::string bytes = testsupport::ReadBytes(DayLog(kDay));
  const std::string head = RecordBytes("0", "1", "");
  const std::string prefix = head.substr(0, head.size() - 10);
  const std::string expected = kByteOrderMark + prefix +
                               std::string("a\0\xE9\0\x3D\xD8\x00\xDE", 8) +
                               head.substr(head.size() - 10);
  EXPECT_EQ(bytes, expected);

  std::vector<LogRecord> records;
  std::string error;
  ASSERT_TRUE(ParseLog(bytes, records, error)) << error;
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, text);
}

TEST_F(LogTest, EachRecordIsOneWriteOfTwiceItsLengthPlusTwoBytes) {
  SetUpLog();
  FaultInjector faults;
  WriteLog(L"Enter _tmain() function", 0, 0);
  EXPECT_EQ(faults.Count(Call::WriteFile), 1u);
  WriteLog(L"Exit _tmain() function", 0, 0);
  EXPECT_EQ(faults.Count(Call::WriteFile), 2u);
  CloseLog();
  EXPECT_EQ(fs::file_size(DayLog(kDay)), 2u + 220u + 218u);
}

TEST_F(LogTest, WriteLogOnANullOrInvalidHandleReachesNoFile) {
  FaultInjector faults;
  logFile.handle = platform::kNullFile;
  EXPECT_EQ(WriteLog(L"LocalAlloc() function fail 0", 0, 1), 0);
  logFile.handle = platform::kInvalidFile;
  EXPECT_EQ(WriteLog(L"LocalAlloc() function fail 0", 0, 1), 0);
  logFile.handle = platform::kNullFile;
  EXPECT_EQ(faults.Count(Call::WriteFile), 0u);
}

TEST_F(LogTest, AFailedWriteIsNotRetriedAndDoesNotStopLaterRecords) {
  SetUpLog();
  FaultInjector faults;
  faults.Arm(Fault{Call::WriteFile, 1, false, 112, -1});
  EXPECT_EQ(WriteLog(L"lost", 0, 1), 0);
  WriteLog(L"kept", 0, 1);
  EXPECT_EQ(faults.Count(Call::WriteFile), 2u);
  CloseLog();
  EXPECT_EQ(testsupport::ReadBytes(DayLog(kDay)),
            kByteOrderMark + RecordBytes("0", "1", "kept"));
}

// --- Set-up and close ------------------------------------------------------

TEST_F(LogTest, TheFileIsNamedByTheLocalWeekday) {
  for (int day = 0; day <= 6; ++day) {
    logtest::fakeDayOfWeek = day;
    SetUpLog();
    const std::wstring expected = L"Tavrex-" + std::to_wstring(day) + L".log";
    EXPECT_EQ(std::wstring(logFile.logFileName), expected);
    EXPECT_EQ(logFile.openResult, 0);
    EXPECT_EQ(logFile.logDirEntered, 1);
    CloseLog();
    EXPECT_EQ(testsupport::ReadBytes(DayLog(day)), kByteOrderMark) << day;
  }
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(LogDir())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names.size(), 7u);
  // Nothing lands in the working directory.
  EXPECT_TRUE(scratch_.Files().empty());
}

TEST_F(LogTest, ASecondRunOnTheSameWeekdayReplacesTheFile) {
  SetUpLog();
  WriteLog(L"Enter _tmain() function", 0, 0);
  WriteLog(L"Exit _tmain() function", 0, 0);
  CloseLog();
  ASSERT_GT(fs::file_size(DayLog(kDay)), 2u);

  SetUpLog();
  EXPECT_EQ(logFile.openResult, 0);
  EXPECT_EQ(testsupport::ReadBytes(DayLog(kDay)), kByteOrderMark);
}

TEST_F(LogTest, SettingUpAgainClosesTheFirstFile) {
  SetUpLog();
  FaultInjector faults;
  SetUpLog();
  EXPECT_EQ(faults.Count(Call::CloseHandle), 1u);
  EXPECT_EQ(faults.Count(Call::CreateFile), 1u);
}

TEST_F(LogTest, CloseLogClosesOnlyAnOpenHandleAndLeavesItNull) {
  SetUpLog();
  FaultInjector faults;
  CloseLog();
  EXPECT_EQ(faults.Count(Call::CloseHandle), 1u);
  EXPECT_EQ(logFile.handle, platform::kNullFile);
  CloseLog();
  logFile.handle = platform::kInvalidFile;
  CloseLog();
  EXPECT_EQ(faults.Count(Call::CloseHandle), 1u);
  EXPECT_EQ(logFile.handle, platform::kNullFile);
}

// --- Opening ---------------------------------------------------------------

TEST_F(LogTest, OpeningCreatesTheDirectoryAndWritesOnlyTheByteOrderMark) {
  EXPECT_EQ(OpenLocal(), 0);
  EXPECT_EQ(log_.logDirEntered, 1);
  EXPECT_NE(log_.handle, platform::kInvalidFile);
  EXPECT_EQ(log_.statusText[0], L'\0');
  EXPECT_EQ(testsupport::ReadBytes(DayLog(kDay)), kByteOrderMark);
  ExpectBackInScratch();
}

TEST_F(LogTest, AnExistingLogDirectoryIsUsed) {
  fs::create_directory(LogDir());
  EXPECT_EQ(OpenLocal(), 0);
  EXPECT_EQ(log_.logDirEntered, 1);
  EXPECT_TRUE(fs::exists(DayLog(kDay)));
  ExpectBackInScratch();
}

TEST_F(LogTest, CreationFailureGivesResult1AndAnInvalidHandle) {
  FaultInjector faults;
  faults.Arm(Fault{Call::CreateFile, 1, false, 5, -1});
  EXPECT_EQ(OpenLocal(), 1);
  EXPECT_EQ(log_.handle, platform::kInvalidFile);
  EXPECT_EQ(std::wstring(log_.statusText), L"CreateFile failed LastErrorCode=5");
  EXPECT_FALSE(fs::exists(DayLog(kDay)));
  ExpectBackInScratch();

  // The code is shown as a signed number.
  log_ = LogFile{};
  faults.Arm(Fault{Call::CreateFile, 1, false, 0x80070005u, -1});
  EXPECT_EQ(OpenLocal(), 1);
  EXPECT_EQ(std::wstring(log_.statusText),
            L"CreateFile failed LastErrorCode=-2147024891");
}

TEST_F(LogTest, SizeQueryFailureGivesResult2AndAnEmptyFile) {
  FaultInjector faults;
  faults.Arm(Fault{Call::GetFileSize, 1, false, 6, -1});
  EXPECT_EQ(OpenLocal(), 2);
  EXPECT_NE(log_.handle, platform::kInvalidFile);
  EXPECT_EQ(std::wstring(log_.statusText), L"GetFileSize failed LastErrorCode=6");
  EXPECT_EQ(faults.Count(Call::WriteFile), 0u);
  EXPECT_EQ(testsupport::ReadBytes(DayLog(kDay)), "");
  ExpectBackInScratch();
}

TEST_F(LogTest, AFailedOrShortByteOrderMarkGivesResult3) {
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::WriteFile, 1, false, 112, -1});
    EXPECT_EQ(OpenLocal(), 3);
    EXPECT_EQ(std::wstring(log_.statusText),
              L"WriteFile failed LastErrorCode=112");
    EXPECT_NE(log_.handle, platform::kInvalidFile);
    ExpectBackInScratch();
  }
  platform::CloseHandle(log_.handle);
  log_ = LogFile{};
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::WriteFile, 1, false, 0, 1});
    EXPECT_EQ(OpenLocal(), 3);
    EXPECT_EQ(testsupport::ReadBytes(DayLog(kDay)), "\xFF");
    ExpectBackInScratch();
  }
}

// Whatever keeps the log out of its directory, it opens in the working
// directory and the process is back there.
TEST_F(LogTest, WithoutItsDirectoryTheLogOpensInTheWorkingDirectory) {
  struct Case {
    const char* what;
    std::optional<Call> failing;  // none: the module path is too long
    Call counted;
    std::uint32_t calls;
  };
  const Case cases[] = {
      // The saved directory is restored all the same.
      {"not made", Call::CreateDirectory, Call::SetCurrentDirectory, 2},
      {"not entered", Call::SetCurrentDirectory, Call::SetCurrentDirectory, 2},
      // No directory at the root of the file system.
      {"no module path", Call::GetModuleFileName, Call::CreateDirectory, 0},
      {"a truncated module path", std::nullopt, Call::CreateDirectory, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    log_ = LogFile{};
    {
      FaultInjector faults;
      if (c.failing) {
        faults.Arm(Fault{*c.failing, 1, false, 5, -1});
      } else {
        logtest::fakeModulePath = logtest::Join(
            {scratch_.path().wstring(), std::wstring(600, L'a'), L"Tavrex"});
      }
      EXPECT_EQ(OpenLocal(), 0);
      EXPECT_EQ(log_.logDirEntered, 0);
      EXPECT_EQ(faults.Count(c.counted), c.calls);
    }
    EXPECT_FALSE(fs::exists(DayLog(kDay)));
    EXPECT_EQ(testsupport::ReadBytes(scratch_.path() / "Tavrex-3.log"),
              kByteOrderMark);
    ExpectBackInScratch();
    platform::CloseHandle(log_.handle);
    fs::remove(scratch_.path() / "Tavrex-3.log");
  }
}

// When the working directory cannot be named (it may have been removed),
// the process must not leave it, since it could not come back: the log
// opens by its full path, unless that does not fit or names no directory
// (not made, or an executable at the root, whose path names none); then it
// opens in the working directory, as when its directory cannot be entered.
TEST_F(LogTest, WithoutTheWayBackTheLogOpensByItsFullPathBesideTheExecutable) {
  std::wstring longDir = scratch_.path().wstring() + platform::kPathSeparator;
  longDir.append(490 - longDir.size(), L'd');  // fits; with the file name not
  const fs::path here = scratch_.path() / "Tavrex-3.log";
  const std::wstring exe = (bin_ / "Tavrex").wstring();
  const struct {
    const char* what;
    std::wstring module;
    bool directoryMade;
    fs::path expected;
  } cases[] = {
      {"full path fits", exe, true, DayLog(kDay)},
      {"full path too long", logtest::Join({longDir, L"Tavrex"}), true, here},
      {"directory not made", exe, false, here},
      {"executable at the root", logtest::Join({L"", L"Tavrex"}), true, here},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    log_ = LogFile{};
    logtest::fakeModulePath = c.module;
    {
      FaultInjector faults;
      faults.Arm(Fault{Call::GetCurrentDirectory, 1, false, 2, -1});
      if (!c.directoryMade) faults.Arm(Fault{Call::CreateDirectory, 1, false, 5, -1});
      EXPECT_EQ(OpenLocal(), 0);
      EXPECT_EQ(faults.Count(Call::SetCurrentDirectory), 0u);
    }
    EXPECT_EQ(log_.logDirEntered, 0);
    EXPECT_EQ(testsupport::ReadBytes(c.expected), kByteOrderMark);
    ExpectBackInScratch();
    platform::CloseHandle(log_.handle);
    fs::remove(c.expected);
    fs::remove_all(LogDir());
  }
}

std::vector<std::wstring> createdDirectories;
bool RecordDirectory(const wchar_t* path) {
  createdDirectories.emplace_back(path);
  return false;
}

TEST_F(LogTest, TheLogDirectoryMustFitItsBufferWithTheTerminator) {
  platform::calls.createDirectory = &RecordDirectory;
  // A directory of d units takes d + 4 for the separator and "log", and one
  // more for the terminator, of the 500.
  for (const std::size_t units : {495u, 496u}) {
    SCOPED_TRACE(units);
    createdDirectories.clear();
    std::wstring dir = scratch_.path().wstring() + platform::kPathSeparator;
    dir.append(units - dir.size(), L'd');
    logtest::fakeModulePath = logtest::Join({dir, L"p"});
    log_ = LogFile{};
    EXPECT_EQ(OpenLocal(), 0);
    EXPECT_EQ(log_.logDirEntered, 0);
    if (units == 495u) {
      ASSERT_EQ(createdDirectories.size(), 1u);
      EXPECT_EQ(createdDirectories[0], logtest::Join({dir, L"log"}));
      EXPECT_EQ(createdDirectories[0].size(), 499u);
    } else {
      EXPECT_TRUE(createdDirectories.empty());
    }
    ExpectBackInScratch();
    platform::CloseHandle(log_.handle);
    fs::remove(scratch_.path() / "Tavrex-3.log");
  }
}

// --- Paths and formatting --------------------------------------------------

class PathTest : public ::testing::Test {
 protected:
  testsupport::ScratchDir scratch_;
  wchar_t out_[platform::kPathUnits] = {};
  void Mark() { std::wcscpy(out_, L"untouched"); }
  std::wstring Out() const { return out_; }
};

// Position 0 is not examined: a lone leading separator stays.
TEST_F(PathTest, TheLastSeparatorEndsTheDirectory) {
  using logtest::Join;
  const std::wstring cases[][2] = {
      {Join({L"C:", L"app", L"prog.exe"}), Join({L"C:", L"app"})},
      {Join({L"a", L"b", L""}), Join({L"a", L"b"})},
      {L"prog.exe", L"prog.exe"},
      {Join({L"", L"prog"}), Join({L"", L"prog"})},
  };
  for (const auto& [path, directory] : cases) {
    DirectoryOfPath(path.c_str(), out_);
    EXPECT_EQ(Out(), directory);
  }
  // In place.
  std::wcscpy(out_, Join({L"x", L"y", L"z"}).c_str());
  EXPECT_EQ(DirectoryOfPath(out_, out_), 0);
  EXPECT_EQ(Out(), Join({L"x", L"y"}));
}

TEST_F(PathTest, ADirectoryANullOrAnOverlongPathLeavesOutUnchanged) {
  Mark();
  DirectoryOfPath(scratch_.path().wstring().c_str(), out_);
  EXPECT_EQ(Out(), L"untouched");
  Mark();
  EXPECT_EQ(DirectoryOfPath(nullptr, out_), 0);
  EXPECT_EQ(Out(), L"untouched");
  Mark();
  std::wstring longPath(499, L'p');
  longPath[10] = platform::kPathSeparator;
  DirectoryOfPath(longPath.c_str(), out_);
  EXPECT_EQ(Out(), longPath.substr(0, 10));  // 499 units still fit
  Mark();
  longPath.push_back(L'p');  // 500 units leave no room for the terminator
  DirectoryOfPath(longPath.c_str(), out_);
  EXPECT_EQ(Out(), L"untouched");
}

TEST(FormatToBufferTest, FormatsWideAndNumericArguments) {
  wchar_t buffer[platform::kPathUnits];
  EXPECT_TRUE(FormatToBuffer(buffer, L"%ls-%d.log", L"Tavrex", 6));
  EXPECT_EQ(std::wstring(buffer), L"Tavrex-6.log");
  EXPECT_TRUE(FormatToBuffer(buffer, L"LastErrorCode=%ld", -5L));
  EXPECT_EQ(std::wstring(buffer), L"LastErrorCode=-5");
}

TEST(FormatToBufferTest, ATextThatDoesNotFitLeavesAnEmptyStringAndNoOverflow) {
  // The buffer is followed by guard units that must survive.
  struct {
    wchar_t buffer[platform::kPathUnits];
    wchar_t guard[16];
  } area;
  static_assert(sizeof area == sizeof area.buffer + sizeof area.guard);
  std::wmemset(area.buffer, L'#', platform::kPathUnits);
  std::wmemset(area.guard, L'#', 16);
  const std::wstring fits(499, L'f');
  EXPECT_TRUE(FormatToBuffer(area.buffer, L"%ls", fits.c_str()));
  EXPECT_EQ(std::wstring(area.buffer), fits);
  const std::wstring tooLong(500, L'g');
  EXPECT_FALSE(FormatToBuffer(area.buffer, L"%ls", tooLong.c_str()));
  EXPECT_EQ(area.buffer[0], L'\0');
  EXPECT_EQ(std::wstring(area.guard, 16), std::wstring(16, L'#'));
}

}  // namespace
