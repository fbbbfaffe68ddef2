// The platform layer's promises to its callers, on whichever backend is built.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/fixtures.h"

namespace {

namespace fs = std::filesystem;
using platform::Disposition;
using platform::FileHandle;
using platform::kInvalidFile;
using platform::kNullFile;
using platform::Share;

// An open file closed at the end of the test.
class OpenFile {
 public:
  OpenFile(const wchar_t* name, Disposition disposition,
           Share share = Share::Read)
      : handle_(platform::CreateFile(name, disposition, share)) {}
  ~OpenFile() {
    if (ok()) platform::CloseHandle(handle_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  bool ok() const { return handle_ != kInvalidFile && handle_ != kNullFile; }
  FileHandle get() const { return handle_; }

 private:
  FileHandle handle_;
};

bool WriteAt(FileHandle file, std::uint32_t offset, const std::string& bytes) {
  std::uint32_t done = 0;
  return platform::SetFilePointer(file, offset) &&
         platform::WriteFile(file, bytes.data(),
                             static_cast<std::uint32_t>(bytes.size()), &done) &&
         done == bytes.size();
}

// Reads up to `count` bytes from `offset`; the result is as long as the
// count the layer reported.
std::string ReadAt(FileHandle file, std::uint32_t offset, std::uint32_t count) {
  std::string bytes(count, '\0');
  std::uint32_t done = 0;
  EXPECT_TRUE(platform::SetFilePointer(file, offset));
  EXPECT_TRUE(platform::ReadFile(file, bytes.data(), count, &done));
  EXPECT_LE(done, count);
  bytes.resize(done);
  return bytes;
}

std::string WholeFile(FileHandle file) {
  const std::uint32_t size = platform::GetFileSize(file);
  EXPECT_NE(size, platform::kInvalidFileSize);
  return ReadAt(file, 0, size);
}

class PlatformFiles : public ::testing::Test {
 protected:
  testsupport::ScratchDir scratch;
};

TEST_F(PlatformFiles, ExclusiveCreationFailsOnAnExistingName) {
  OpenFile first(L"Temp00001.by", Disposition::CreateNew);
  ASSERT_TRUE(first.ok());

  // Refused while the first is held, and after it is closed.
  platform::SetLastError(0);
  EXPECT_EQ(platform::CreateFile(L"Temp00001.by", Disposition::CreateNew,
                                 Share::Read),
            kInvalidFile);
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFileExists);

  OpenFile other(L"Temp00002.by", Disposition::CreateNew);
  ASSERT_TRUE(other.ok());
  EXPECT_NE(other.get(), first.get());
}

TEST_F(PlatformFiles, OpenExistingNeedsTheFileAndSeesItsContent) {
  EXPECT_EQ(platform::CreateFile(L"missing.by", Disposition::OpenExisting,
                                 Share::Read),
            kInvalidFile);
  EXPECT_NE(platform::GetLastError(), 0u);
  EXPECT_TRUE(scratch.Files().empty());

  {
    OpenFile created(L"kept.by", Disposition::CreateNew);
    ASSERT_TRUE(WriteAt(created.get(), 0, "digits"));
  }
  OpenFile reopened(L"kept.by", Disposition::OpenExisting);
  ASSERT_TRUE(reopened.ok());
  EXPECT_EQ(WholeFile(reopened.get()), "digits");
}

TEST_F(PlatformFiles, CreateAlwaysTruncatesAnExistingFile) {
  {
    OpenFile log(L"Tavrex-3.log", Disposition::CreateAlways, Share::ReadWrite);
    ASSERT_TRUE(log.ok());
    ASSERT_TRUE(WriteAt(log.get(), 0, "an earlier run's records"));
    EXPECT_EQ(platform::GetFileSize(log.get()), 24u);
  }
  OpenFile again(L"Tavrex-3.log", Disposition::CreateAlways, Share::ReadWrite);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(platform::GetFileSize(again.get()), 0u);
  EXPECT_EQ(testsupport::ReadBytes(scratch.path() / "Tavrex-3.log"), "");
}

TEST_F(PlatformFiles, PositionedWritesAndReadsReportShortCountsAtTheEnd) {
  OpenFile file(L"Temp00003.by", Disposition::CreateNew);
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE(WriteAt(file.get(), 0, "0123456789"));
  ASSERT_TRUE(WriteAt(file.get(), 4, "ab"));
  // Appending at the current end, as a spilling number does.
  ASSERT_TRUE(WriteAt(file.get(), 10, "XY"));
  EXPECT_EQ(platform::GetFileSize(file.get()), 12u);

  EXPECT_EQ(ReadAt(file.get(), 0, 12), "0123ab6789XY");
  EXPECT_EQ(ReadAt(file.get(), 3, 4), "3ab6");
  // Past the end: success with the bytes that were there, then none.
  EXPECT_EQ(ReadAt(file.get(), 9, 100), "9XY");
  EXPECT_EQ(ReadAt(file.get(), 12, 100), "");
  EXPECT_TRUE(platform::FlushFileBuffers(file.get()));
  EXPECT_EQ(testsupport::ReadBytes(scratch.path() / "Temp00003.by"),
            "0123ab6789XY");
}

// Sizes past 2 GiB need 64-bit offsets on a 32-bit system; from 4 GiB on
// the 32-bit answer cannot hold them and the query fails. Sparse files.
TEST_F(PlatformFiles, SizesUpToFourGibibytesAndNoFurther) {
  { std::ofstream(scratch.path() / "big"); }
  const std::uint64_t gib = std::uint64_t{1} << 30;
  for (const std::uint64_t size : {3 * gib, 4 * gib - 2, 4 * gib - 1, 4 * gib + 5}) {
    SCOPED_TRACE(size);
    fs::resize_file(scratch.path() / "big", size);
    OpenFile file(L"big", Disposition::OpenExisting);
    ASSERT_TRUE(file.ok());
    const std::uint32_t got = platform::GetFileSize(file.get());
    if (size < platform::kInvalidFileSize) {
      EXPECT_EQ(got, size);
    } else {
      EXPECT_EQ(got, platform::kInvalidFileSize);
      EXPECT_NE(platform::GetLastError(), 0u);
    }
  }
  fs::remove(scratch.path() / "big");
}

TEST_F(PlatformFiles, CallsOnTheNullHandleFail) {
  std::uint32_t done = 77;
  char byte = 0;
  EXPECT_FALSE(platform::ReadFile(kNullFile, &byte, 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(platform::WriteFile(kNullFile, &byte, 1, &done));
  EXPECT_FALSE(platform::SetFilePointer(kNullFile, 0));
  EXPECT_EQ(platform::GetFileSize(kNullFile), platform::kInvalidFileSize);
  EXPECT_FALSE(platform::FlushFileBuffers(kNullFile));
  EXPECT_FALSE(platform::CloseHandle(kNullFile));
}

TEST_F(PlatformFiles, DeleteRemovesByNameAndFailsOnAMissingName) {
  {
    OpenFile file(L"Temp00004.by", Disposition::CreateNew);
    ASSERT_TRUE(file.ok());
  }
  EXPECT_TRUE(platform::DeleteFile(L"Temp00004.by"));
  EXPECT_TRUE(scratch.Files().empty());
  EXPECT_FALSE(platform::DeleteFile(L"Temp00004.by"));
  EXPECT_NE(platform::GetLastError(), 0u);
}

// The number store copies by name between temporary files it holds open for
// reading and writing with read sharing only.
class PlatformCopy : public PlatformFiles {};

TEST_F(PlatformCopy, BetweenHeldFilesOntoAShorterThenALongerTarget) {
  OpenFile source(L"Temp00010.by", Disposition::CreateNew);
  OpenFile target(L"Temp00011.by", Disposition::CreateNew);
  ASSERT_TRUE(WriteAt(source.get(), 0, "the digits of the source"));
  ASSERT_TRUE(WriteAt(target.get(), 0, "old"));

  ASSERT_TRUE(platform::CopyFile(L"Temp00010.by", L"Temp00011.by"))
      << "last error " << platform::GetLastError();

  EXPECT_EQ(WholeFile(target.get()), "the digits of the source");
  EXPECT_EQ(WholeFile(source.get()), "the digits of the source");
  // Both handles stay usable for writing.
  ASSERT_TRUE(WriteAt(target.get(), 4, "DIGITS"));
  EXPECT_EQ(WholeFile(target.get()), "the DIGITS of the source");
  const std::string tail(5000, '7');
  ASSERT_TRUE(WriteAt(source.get(), 24, tail));
  EXPECT_EQ(WholeFile(source.get()), "the digits of the source" + tail);

  // Back onto the now longer file: it is cut to the length copied.
  ASSERT_TRUE(platform::CopyFile(L"Temp00011.by", L"Temp00010.by"))
      << "last error " << platform::GetLastError();
  EXPECT_EQ(platform::GetFileSize(source.get()), 24u);
  EXPECT_EQ(WholeFile(source.get()), "the DIGITS of the source");
  EXPECT_EQ(testsupport::ReadBytes(scratch.path() / "Temp00010.by"),
            "the DIGITS of the source");
}

TEST_F(PlatformCopy, LargerThanOneBufferAndLeavesHeldPositionsAlone) {
  std::string digits;
  for (int i = 0; i < 70000; ++i) digits.push_back(static_cast<char>(i % 10));
  OpenFile source(L"Temp00014.by", Disposition::CreateNew);
  OpenFile target(L"Temp00015.by", Disposition::CreateNew);
  ASSERT_TRUE(WriteAt(source.get(), 0, digits));
  ASSERT_TRUE(WriteAt(target.get(), 0, "abcdef"));
  ASSERT_TRUE(platform::SetFilePointer(source.get(), 3));
  ASSERT_TRUE(platform::SetFilePointer(target.get(), 2));

  ASSERT_TRUE(platform::CopyFile(L"Temp00014.by", L"Temp00015.by"));

  // Reads continue where each handle was positioned before the copy.
  char got[2];
  std::uint32_t done = 0;
  ASSERT_TRUE(platform::ReadFile(source.get(), got, 2, &done));
  EXPECT_EQ(std::string(got, done), digits.substr(3, 2));
  ASSERT_TRUE(platform::ReadFile(target.get(), got, 2, &done));
  EXPECT_EQ(std::string(got, done), digits.substr(2, 2));
  EXPECT_EQ(WholeFile(target.get()), digits);
}

TEST_F(PlatformCopy, BetweenOneHeldFileAndOneThatIsNot) {
  OpenFile held(L"Temp00016.by", Disposition::CreateNew);
  ASSERT_TRUE(WriteAt(held.get(), 0, "held"));
  {
    OpenFile closed(L"Temp00017.by", Disposition::CreateNew);
    ASSERT_TRUE(WriteAt(closed.get(), 0, "a longer file, closed"));
  }
  ASSERT_TRUE(platform::CopyFile(L"Temp00016.by", L"Temp00017.by"));
  EXPECT_EQ(testsupport::ReadBytes(scratch.path() / "Temp00017.by"), "held");

  {
    OpenFile closed(L"Temp00017.by", Disposition::OpenExisting);
    ASSERT_TRUE(WriteAt(closed.get(), 0, "closed again"));
  }
  ASSERT_TRUE(platform::CopyFile(L"Temp00017.by", L"Temp00016.by"));
  EXPECT_EQ(WholeFile(held.get()), "closed again");

  // A target that does not exist yet is created.
  ASSERT_TRUE(platform::CopyFile(L"Temp00016.by", L"Temp00018.by"));
  EXPECT_EQ(testsupport::ReadBytes(scratch.path() / "Temp00018.by"),
            "closed again");
}

TEST_F(PlatformCopy, BetweenFilesNobodyHolds) {
  {
    OpenFile a(L"a.by", Disposition::CreateNew);
    OpenFile b(L"b.by", Disposition::CreateNew);
    ASSERT_TRUE(WriteAt(a.get(), 0, "alpha"));
    ASSERT_TRUE(WriteAt(b.get(), 0, "a much longer beta"));
  }
  ASSERT_TRUE(platform::CopyFile(L"a.by", L"b.by"));
  EXPECT_EQ(testsupport::ReadBytes(scratch.path() / "b.by"), "alpha");
  EXPECT_EQ(testsupport::ReadBytes(scratch.path() / "a.by"), "alpha");
}

TEST_F(PlatformCopy, FromAMissingSourceFailsAndLeavesTheTarget) {
  OpenFile target(L"Temp00019.by", Disposition::CreateNew);
  ASSERT_TRUE(WriteAt(target.get(), 0, "kept"));
  platform::SetLastError(0);
  EXPECT_FALSE(platform::CopyFile(L"Temp00020.by", L"Temp00019.by"));
  EXPECT_NE(platform::GetLastError(), 0u);
  EXPECT_EQ(WholeFile(target.get()), "kept");
  EXPECT_FALSE(fs::exists(scratch.path() / "Temp00020.by"));
}

TEST_F(PlatformCopy, OntoItselfKeepsTheContent) {
  OpenFile file(L"Temp00021.by", Disposition::CreateNew);
  ASSERT_TRUE(WriteAt(file.get(), 0, "unchanged"));
  EXPECT_TRUE(platform::CopyFile(L"Temp00021.by", L"Temp00021.by"));
  EXPECT_EQ(WholeFile(file.get()), "unchanged");
}

class PlatformPaths : public PlatformFiles {
 protected:
  std::wstring CurrentDirectory() {
    wchar_t buffer[platform::kPathUnits] = {};
    const std::uint32_t length =
        platform::GetCurrentDirectory(platform::kPathUnits, buffer);
    EXPECT_GT(length, 0u);
    EXPECT_LT(length, platform::kPathUnits);
    return std::wstring(buffer, length);
  }
};

TEST_F(PlatformPaths, ModulePathNamesTheRunningExecutableOrIsCutToTheBuffer) {
  wchar_t buffer[platform::kPathUnits] = {};
  const std::uint32_t length =
      platform::GetModuleFileName(buffer, platform::kPathUnits);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, platform::kPathUnits);
  const std::wstring path(buffer, length);
  EXPECT_EQ(path.find(L'\0'), std::wstring::npos);
  const fs::path module(path);
  EXPECT_TRUE(module.is_absolute());
  EXPECT_TRUE(fs::is_regular_file(module));
  EXPECT_EQ(module.stem(), fs::path("tavrex_tests"));
  // The separator the log uses to cut the directory off.
  EXPECT_EQ(path.rfind(platform::kPathSeparator) + 1,
            path.size() - module.filename().wstring().size());

  // Too long for the buffer: cut, terminated, and the buffer's size returned.
  wchar_t small[6];
  for (wchar_t& c : small) c = L'#';
  EXPECT_EQ(platform::GetModuleFileName(small, 6), 6u);
  EXPECT_EQ(small[5], L'\0');
  EXPECT_EQ(std::wstring(small), path.substr(0, 5));
}

TEST_F(PlatformPaths, CurrentDirectoryResolvesRelativeNamesComesBackAndSizes) {
  const std::wstring start = CurrentDirectory();
  EXPECT_TRUE(fs::equivalent(fs::path(start), scratch.path()));

  ASSERT_TRUE(platform::CreateDirectory(L"log"));
  ASSERT_TRUE(platform::SetCurrentDirectory(L"log"));
  const std::wstring inside = CurrentDirectory();
  EXPECT_EQ(inside, start + platform::kPathSeparator + L"log");
  {
    OpenFile file(L"Tavrex-0.log", Disposition::CreateAlways, Share::ReadWrite);
    ASSERT_TRUE(file.ok());
  }
  ASSERT_TRUE(platform::SetCurrentDirectory(start.c_str()));
  EXPECT_EQ(CurrentDirectory(), start);
  EXPECT_TRUE(fs::is_regular_file(scratch.path() / "log" / "Tavrex-0.log"));
  EXPECT_TRUE(scratch.Files().empty());

  EXPECT_FALSE(platform::SetCurrentDirectory(L"no-such-directory"));
  EXPECT_EQ(CurrentDirectory(), start);

  // A buffer too small gets the units needed; an exact one the length.
  wchar_t small[4];
  EXPECT_EQ(platform::GetCurrentDirectory(4, small), start.size() + 1);
  std::vector<wchar_t> exact(start.size() + 1);
  EXPECT_EQ(platform::GetCurrentDirectory(
                static_cast<std::uint32_t>(exact.size()), exact.data()),
            start.size());
  EXPECT_EQ(std::wstring(exact.data()), start);
}

TEST_F(PlatformPaths, NamesBeyondAsciiRoundTrip) {
  const std::wstring start = CurrentDirectory();
  const wchar_t* name = L"d\u00e9j\u00e0-\u6570";
  ASSERT_TRUE(platform::CreateDirectory(name));
  ASSERT_TRUE(platform::SetCurrentDirectory(name));
  EXPECT_EQ(CurrentDirectory(), start + platform::kPathSeparator + name);
  {
    OpenFile file(L"\u00fcber.by", Disposition::CreateNew);
    ASSERT_TRUE(file.ok());
  }
  EXPECT_NE(platform::GetFileAttributes(L"\u00fcber.by"),
            platform::kInvalidAttributes);
  EXPECT_TRUE(platform::DeleteFile(L"\u00fcber.by"));
  ASSERT_TRUE(platform::SetCurrentDirectory(start.c_str()));
}

TEST_F(PlatformPaths, AttributesTellDirectoriesFilesAndAbsentNames) {
  EXPECT_EQ(platform::GetFileAttributes(L"log"), platform::kInvalidAttributes);
  ASSERT_TRUE(platform::CreateDirectory(L"log"));
  // An existing directory is refused, which callers ignore.
  EXPECT_FALSE(platform::CreateDirectory(L"log"));

  const std::uint32_t directory = platform::GetFileAttributes(L"log");
  EXPECT_NE(directory, platform::kInvalidAttributes);
  EXPECT_NE(directory & platform::kAttributeDirectory, 0u);

  {
    OpenFile file(L"plain.by", Disposition::CreateNew);
    ASSERT_TRUE(file.ok());
  }
  const std::uint32_t plain = platform::GetFileAttributes(L"plain.by");
  EXPECT_NE(plain, platform::kInvalidAttributes);
  EXPECT_EQ(plain & platform::kAttributeDirectory, 0u);
}

TEST(PlatformMemory, ZeroInitialisedAndFixedBlocks) {
  auto* zeroed = static_cast<unsigned char*>(
      platform::LocalAlloc(platform::kAllocZeroInit, 203000));
  ASSERT_NE(zeroed, nullptr);
  std::size_t nonZero = 0;
  for (std::size_t i = 0; i < 203000; ++i) nonZero += zeroed[i] != 0;
  EXPECT_EQ(nonZero, 0u);
  auto* fixed = static_cast<unsigned char*>(
      platform::LocalAlloc(platform::kAllocFixed, 5001));
  ASSERT_NE(fixed, nullptr);
  fixed[0] = 1;
  fixed[5000] = 2;
  EXPECT_EQ(fixed[0] + fixed[5000], 3);
  platform::LocalFree(fixed);
  platform::LocalFree(zeroed);
}

TEST(PlatformClock, GeneratorStaysInFifteenBitsAndRepeatsPerSeed) {
  platform::Srand(static_cast<unsigned>(platform::Time()));
  int highest = 0;
  bool inRange = true;
  for (int i = 0; i < 100000; ++i) {
    const int value = platform::Rand();
    inRange = inRange && value >= 0 && value <= 32767;
    if (value > highest) highest = value;
  }
  EXPECT_TRUE(inRange);
  EXPECT_GT(highest, 32000);  // the whole range is used, not a part of it

  auto draw = [](unsigned seed) {
    platform::Srand(seed);
    std::vector<int> values;
    for (int i = 0; i < 20; ++i) values.push_back(platform::Rand());
    return values;
  };
  EXPECT_EQ(draw(1234567), draw(1234567));
  EXPECT_NE(draw(1234567), draw(1234568));
}

TEST(PlatformClock, TimeAndWeekdayFollowTheLocalClock) {
  const std::time_t before = std::time(nullptr);
  const std::int64_t now = platform::Time();
  const std::time_t after = std::time(nullptr);
  EXPECT_GE(now, static_cast<std::int64_t>(before));
  EXPECT_LE(now, static_cast<std::int64_t>(after));

  const int day = platform::GetLocalDayOfWeek();
  const std::tm* local = std::localtime(&after);
  ASSERT_NE(local, nullptr);
  EXPECT_GE(day, 0);
  EXPECT_LE(day, 6);
  EXPECT_EQ(day, local->tm_wday);
}

}  // namespace
