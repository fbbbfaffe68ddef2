// Digit-range access in both storage orders, in memory and on file; the
// spill from block to file; the reversal of the storage order.

#include <algorithm>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/store/number_fixture.h"

namespace storetest {
namespace {

using platform::Call;
using platform::Fault;
using platform::FaultInjector;

constexpr std::uint32_t kFailCode = 5;

// The digit at index j of a number with this storage and order: index 0 is
// the most significant, indices past the end read 0.
Digit DigitAt(const Bytes& storage, int order, std::uint32_t j) {
  if (j >= storage.size()) return 0;
  const std::size_t position =
      order == MostSignificantFirst ? j : storage.size() - 1 - j;
  return storage[position];
}

// The index that buffer byte k of the range low..high stands for.
std::uint32_t IndexOf(int order, std::uint32_t low, std::uint32_t high,
                      std::uint32_t k) {
  return order == MostSignificantFirst ? low + k : high - k;
}

Bytes ExpectedRead(const Bytes& storage, int order, std::uint32_t low,
                   std::uint32_t high) {
  Bytes buffer(high - low + 1);
  for (std::uint32_t k = 0; k < buffer.size(); ++k) {
    buffer[k] = DigitAt(storage, order, IndexOf(order, low, high, k));
  }
  return buffer;
}

Bytes ExpectedWrite(Bytes storage, int order, std::uint32_t low,
                    std::uint32_t high, const Bytes& buffer) {
  for (std::uint32_t k = 0; k < buffer.size(); ++k) {
    const std::uint32_t j = IndexOf(order, low, high, k);
    if (j >= storage.size()) continue;
    const std::size_t position =
        order == MostSignificantFirst ? j : storage.size() - 1 - j;
    storage[position] = buffer[k];
  }
  return storage;
}

enum class Where { Memory, File };

std::string WhereName(Where where) {
  return where == Where::Memory ? "Memory" : "File";
}

class DigitsTest : public NumberTest {
 protected:
  // A number whose storage is `storage`, read in `order`, in a block or in a
  // file of its own.
  void Make(DecNumber& n, Where where, const Bytes& storage, int order) {
    if (where == Where::Memory) {
      Construct(n);
    } else {
      ConstructFileOnly(n);
    }
    AppendAll(n, storage);
    n.digitOrder = static_cast<std::uint8_t>(order);
    const bool fits = storage.size() <= kLargeBlockBytes;
    ASSERT_EQ(n.inMemory, where == Where::Memory && fits ? 1 : 0);
  }

  // A number that claims digits but has neither block nor file: the copy of
  // a file-stored number whose own file could not be created.
  void MakeStranded(DecNumber& source, DecNumber& stranded) {
    ConstructFileOnly(source);
    AppendAll(source, Pattern(180));
    FaultInjector faults;
    faults.Arm(Fault{Call::CreateFile, 1, false, kFailCode});
    CopyConstruct(stranded, source);
    ASSERT_EQ(stranded.file, platform::kInvalidFile);
    ASSERT_EQ(stranded.inMemory, 0);
    ASSERT_EQ(stranded.length, 180u);
  }
};

class DigitsRange : public DigitsTest,
                    public ::testing::WithParamInterface<std::tuple<Where, int>> {
 protected:
  Where where() const { return std::get<0>(GetParam()); }
  int order() const { return std::get<1>(GetParam()); }
};

// ---------------------------------------------------------------------------
// ReadDigits and WriteDigits: every kind of range against the index model.

TEST_P(DigitsRange, ReadOfFiftyStoredDigitsIntoAHundredDigitWindow) {
  DecNumber n;
  const Bytes storage = Pattern(50);
  Make(n, where(), storage, order());
  Bytes buffer(100, 77);
  ASSERT_EQ(ReadDigits(n, 0, 99, buffer.data()), 0);
  Bytes expected;
  if (order() == LeastSignificantFirst) {
    expected.assign(50, 0);
    expected.insert(expected.end(), storage.begin(), storage.end());
  } else {
    expected = storage;
    expected.resize(100, 0);
  }
  EXPECT_EQ(buffer, expected);
  Destroy(n);
}

TEST_P(DigitsRange, ReadsMatchTheIndexModelForEveryKindOfRange) {
  DecNumber n;
  const Bytes storage = Pattern(250);
  Make(n, where(), storage, order());
  const std::size_t mark = Mark();
  const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
      {0, 99},    {100, 199}, {200, 299}, {249, 249}, {0, 249}, {0, 0},
      {17, 33},   {240, 260}, {250, 349}, {300, 399}, {1, 248}, {249, 250},
  };
  for (const auto& [low, high] : ranges) {
    Bytes buffer(high - low + 1, 77);
    ASSERT_EQ(ReadDigits(n, low, high, buffer.data()), 0) << low << ".." << high;
    EXPECT_EQ(buffer, ExpectedRead(storage, order(), low, high))
        << low << ".." << high;
  }
  EXPECT_EQ(Storage(n), storage);
  EXPECT_TRUE(MessagesSince(mark).empty());
  Destroy(n);
}

TEST_P(DigitsRange, WritesMatchTheIndexModelAndNeverLengthenTheNumber) {
  DecNumber n;
  Bytes storage = Pattern(250);
  Make(n, where(), storage, order());
  const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
      {0, 99}, {100, 199}, {200, 299}, {249, 249}, {17, 33},
      {240, 260}, {250, 349}, {0, 0},
  };
  int salt = 1;
  for (const auto& [low, high] : ranges) {
    const Bytes buffer = Pattern(high - low + 1, salt++);
    ASSERT_EQ(WriteDigits(n, low, high, buffer.data()), 0) << low << ".." << high;
    storage = ExpectedWrite(storage, order(), low, high, buffer);
    EXPECT_EQ(n.length, 250u);
    EXPECT_EQ(Storage(n), storage) << low << ".." << high;
  }
  if (where() == Where::File) {
    EXPECT_EQ(FileBytes(n).size(), 250u);
  }
  Destroy(n);
}

TEST_P(DigitsRange, ReversedRangeFailsAndTouchesNothing) {
  DecNumber n;
  const Bytes storage = Pattern(150);
  Make(n, where(), storage, order());
  Bytes buffer(100, 77);
  FaultInjector faults;
  EXPECT_EQ(ReadDigits(n, 60, 10, buffer.data()), 1);
  EXPECT_EQ(buffer, Bytes(100, 77));
  EXPECT_EQ(WriteDigits(n, 60, 10, buffer.data()), 1);
  EXPECT_EQ(AppendDigits(n, 60, 10, buffer.data()), 1);
  EXPECT_EQ(faults.Count(Call::CreateFile) + faults.Count(Call::WriteFile) +
                faults.Count(Call::ReadFile),
            0u);
  EXPECT_EQ(n.length, 150u);
  EXPECT_EQ(Storage(n), storage);
  Destroy(n);
}

INSTANTIATE_TEST_SUITE_P(
    , DigitsRange,
    ::testing::Combine(::testing::Values(Where::Memory, Where::File),
                       ::testing::Values(0, 1)),
    [](const ::testing::TestParamInfo<std::tuple<Where, int>>& info) {
      return WhereName(std::get<0>(info.param)) + "Order" +
             std::to_string(std::get<1>(info.param));
    });

using DigitsAccess = DigitsTest;

TEST_F(DigitsAccess, RangesPastTheEndNeedNoStorage) {
  DecNumber n;
  ConstructFileOnly(n);
  Bytes buffer(100, 77);
  EXPECT_EQ(ReadDigits(n, 0, 99, buffer.data()), 0);
  EXPECT_EQ(buffer, Bytes(100, 0));
  EXPECT_EQ(WriteDigits(n, 0, 99, Pattern(100).data()), 0);
  EXPECT_EQ(n.length, 0u);
  EXPECT_EQ(n.file, platform::kInvalidFile);
  EXPECT_TRUE(TempFiles().empty());
  Destroy(n);
}

TEST_F(DigitsAccess, NumberWithoutBlockOrFileFailsQuietly) {
  DecNumber source, stranded;
  MakeStranded(source, stranded);
  const std::size_t mark = Mark();

  // Order 0: the missing index 180 is buffer byte 0; it is zeroed before
  // the read is found impossible.
  Bytes buffer(100, 77);
  EXPECT_EQ(ReadDigits(stranded, 100, 199, buffer.data()), 1);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 20,
                          [](Digit d) { return d == 0; }));
  EXPECT_EQ(WriteDigits(stranded, 0, 99, buffer.data()), 1);
  EXPECT_EQ(ReverseDigits(stranded), 1);
  EXPECT_EQ(stranded.digitOrder, LeastSignificantFirst);
  EXPECT_TRUE(MessagesSince(mark).empty());

  Destroy(stranded);
  Destroy(source);
}

TEST_F(DigitsAccess, FailedFileReadsAreRecordedWithTheErrorCode) {
  DecNumber n;
  Make(n, Where::File, Pattern(300), LeastSignificantFirst);
  const std::size_t mark = Mark();
  const Fault faults[] = {
      {Call::ReadFile, 1, false, kFailCode},
      {Call::ReadFile, 1, false, 0, 40},  // short
      {Call::SetFilePointer, 1, false, kFailCode},
  };
  for (const Fault& fault : faults) {
    FaultInjector injector;
    injector.Arm(fault);
    Bytes buffer(100);
    EXPECT_EQ(ReadDigits(n, 0, 99, buffer.data()), 1);
  }
  const std::vector<LogRecord> records = RecordsSince(mark);
  ASSERT_EQ(records.size(), 3u);
  for (const LogRecord& record : records) {
    EXPECT_EQ(Narrow(record.message), "ReadFile() function fail");
    EXPECT_EQ(record.externalCode, 1u);
  }
  EXPECT_EQ(records[0].comCode, kFailCode);
  EXPECT_EQ(records[2].comCode, kFailCode);
  Destroy(n);
}

TEST_F(DigitsAccess, FailedFileWritesAreRecordedWithTheErrorCode) {
  DecNumber n;
  const Bytes storage = Pattern(300);
  Make(n, Where::File, storage, LeastSignificantFirst);
  const std::size_t mark = Mark();
  const Fault faults[] = {
      {Call::WriteFile, 1, false, kFailCode},
      {Call::WriteFile, 1, false, 0, 0},  // short
      {Call::SetFilePointer, 1, false, kFailCode},
  };
  for (const Fault& fault : faults) {
    FaultInjector injector;
    injector.Arm(fault);
    EXPECT_EQ(WriteDigits(n, 0, 99, Bytes(100, 9).data()), 1);
  }
  const std::vector<LogRecord> records = RecordsSince(mark);
  ASSERT_EQ(records.size(), 3u);
  for (const LogRecord& record : records) {
    EXPECT_EQ(Narrow(record.message), "WriteFile() function fail");
    EXPECT_EQ(record.externalCode, 1u);
  }
  EXPECT_EQ(records[0].comCode, kFailCode);
  EXPECT_EQ(records[2].comCode, kFailCode);
  EXPECT_EQ(Storage(n), storage);
  EXPECT_EQ(n.length, 300u);
  Destroy(n);
}

// ---------------------------------------------------------------------------
// AppendDigits and the spill.

using DigitsAppend = DigitsTest;

TEST_F(DigitsAppend, NewDigitsBecomeTheMostSignificantInOrderZero) {
  DecNumber n;
  Construct(n);
  const Bytes one = {1, 0, 0, 0};
  ASSERT_EQ(AppendDigits(n, 0, 3, one.data()), 0);
  Bytes integer(4);
  ASSERT_EQ(ReadDigits(n, 0, 3, integer.data()), 0);
  EXPECT_EQ(integer, one);  // the units digit, index 3, first
  Digit digit = -1;
  ASSERT_EQ(ReadDigits(n, 3, 3, &digit), 0);
  EXPECT_EQ(digit, 1);

  // Low and high give the count only.
  const Bytes zero = {0};
  ASSERT_EQ(AppendDigits(n, 500, 500, zero.data()), 0);
  EXPECT_EQ(n.length, 5u);
  ASSERT_EQ(ReadDigits(n, 3, 3, &digit), 0);
  EXPECT_EQ(digit, 0);
  ASSERT_EQ(ReadDigits(n, 4, 4, &digit), 0);
  EXPECT_EQ(digit, 1);  // 0.1
  Destroy(n);
}

TEST_F(DigitsAppend, NewDigitsBecomeTheLeastSignificantInOrderOne) {
  for (const Where where : {Where::Memory, Where::File}) {
    DecNumber n;
    Make(n, where, {0, 0, 0, 1}, MostSignificantFirst);
    const Bytes tail = {2, 5};
    ASSERT_EQ(AppendDigits(n, 0, 1, tail.data()), 0);
    Bytes digits(8, 77);
    ASSERT_EQ(ReadDigits(n, 0, 7, digits.data()), 0);
    EXPECT_EQ(digits, (Bytes{0, 0, 0, 1, 2, 5, 0, 0}));  // 1.25
    Destroy(n);
  }
}

TEST_F(DigitsAppend, FillingTheBlockExactlyStaysInMemoryAndOnePastSpills) {
  DecNumber n;
  Construct(n);
  const Bytes digits = Pattern(kLargeBlockBytes + 2);
  AppendAll(n, Bytes(digits.begin(), digits.begin() + 9999));
  ASSERT_EQ(AppendDigits(n, 0, 0, &digits[9999]), 0);
  EXPECT_EQ(n.inMemory, 1);
  EXPECT_EQ(n.length, kLargeBlockBytes);
  EXPECT_EQ(n.file, platform::kInvalidFile);
  EXPECT_TRUE(TempFiles().empty());

  Digit* const block = n.block;
  ASSERT_EQ(AppendDigits(n, 0, 1, &digits[10000]), 0);
  EXPECT_EQ(n.inMemory, 0);
  EXPECT_EQ(n.length, kLargeBlockBytes + 2);
  EXPECT_EQ(n.block, block);
  EXPECT_EQ(UseCount(block), 1);
  EXPECT_EQ(n.capacity, kLargeBlockBytes);
  EXPECT_EQ(n.memoryBacked, 1);
  EXPECT_EQ(FileBytes(n), digits);
  EXPECT_EQ(Bytes(block, block + kLargeBlockBytes),
            Bytes(digits.begin(), digits.begin() + kLargeBlockBytes));
  EXPECT_TRUE(log_.Messages().empty());
  Destroy(n);
}

TEST_F(DigitsAppend, AWindowThatEndsAtCapacityStaysAndOneThatPassesItSpills) {
  for (const std::uint32_t before : {9900u, 9901u}) {
    DecNumber n;
    Construct(n);
    const Bytes head = Pattern(before);
    const Bytes window = Pattern(100, 9);
    AppendAll(n, head);
    ASSERT_EQ(AppendDigits(n, 0, 99, window.data()), 0);
    Bytes all = head;
    all.insert(all.end(), window.begin(), window.end());
    EXPECT_EQ(n.inMemory, before == 9900u ? 1 : 0) << before;
    EXPECT_EQ(Storage(n), all) << before;
    Destroy(n);
  }
}

TEST_F(DigitsAppend, OnceSpilledAppendsStayInTheFile) {
  DecNumber n;
  Construct(n);
  const Bytes all = Pattern(kLargeBlockBytes + 1);
  AppendAll(n, all);
  ASSERT_EQ(n.inMemory, 0);
  // Cut short, the number would fit its block again; its digits still go
  // to the file, and the idle block is not touched.
  n.length = 10;
  const Bytes more = Pattern(3, 4);
  ASSERT_EQ(AppendDigits(n, 0, 2, more.data()), 0);
  EXPECT_EQ(n.inMemory, 0);
  EXPECT_EQ(n.length, 13u);
  Bytes expected(all.begin(), all.begin() + 10);
  expected.insert(expected.end(), more.begin(), more.end());
  EXPECT_EQ(Storage(n), expected);
  EXPECT_EQ(Bytes(n.block, n.block + kLargeBlockBytes),
            Bytes(all.begin(), all.begin() + kLargeBlockBytes));
  Destroy(n);
}

TEST_F(DigitsAppend, SpillWithoutATemporaryFileLeavesTheNumberInMemory) {
  DecNumber n;
  Construct(n);
  const Bytes digits = Pattern(kLargeBlockBytes - 1);
  AppendAll(n, digits);
  const std::size_t mark = Mark();
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::CreateFile, 1, false, kFailCode});
    EXPECT_EQ(AppendDigits(n, 0, 1, Bytes(2, 3).data()), 1);
  }
  const std::vector<LogRecord> records = RecordsSince(mark);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(Narrow(records[0].message), "CreateFile() function fail");
  EXPECT_EQ(records[0].comCode, kFailCode);
  EXPECT_EQ(n.inMemory, 1);
  EXPECT_EQ(n.length, kLargeBlockBytes - 1);
  EXPECT_EQ(Storage(n), digits);
  EXPECT_TRUE(TempFiles().empty());
  Destroy(n);
}

TEST_F(DigitsAppend, SpillWhoseFirstWriteFailsLeavesTheNumberInMemory) {
  const Fault faults[] = {
      {Call::WriteFile, 1, false, kFailCode},
      {Call::WriteFile, 1, false, 0, 4000},  // short
      {Call::SetFilePointer, 1, false, kFailCode},
  };
  for (const Fault& fault : faults) {
    DecNumber n;
    Construct(n);
    const Bytes digits = Pattern(kLargeBlockBytes);
    AppendAll(n, digits);
    const std::size_t mark = Mark();
    const Bytes more = Pattern(5, 2);
    {
      FaultInjector injector;
      injector.Arm(fault);
      EXPECT_EQ(AppendDigits(n, 0, 4, more.data()), 1);
    }
    const std::vector<LogRecord> records = RecordsSince(mark);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(Narrow(records[0].message), "WriteFile() function fail");
    if (fault.shortCount < 0) {
      EXPECT_EQ(records[0].comCode, kFailCode);
    }
    EXPECT_EQ(n.inMemory, 1);
    EXPECT_EQ(n.length, kLargeBlockBytes);
    EXPECT_EQ(Storage(n), digits);
    // It keeps the file it opened, and the next append spills into it whole.
    ASSERT_NE(n.file, platform::kInvalidFile);
    const std::wstring name = n.fileName;
    ASSERT_EQ(AppendDigits(n, 0, 4, more.data()), 0);
    EXPECT_EQ(n.fileName, name);
    Bytes all = digits;
    all.insert(all.end(), more.begin(), more.end());
    EXPECT_EQ(FileBytes(n), all);
    Destroy(n);
  }
}

TEST_F(DigitsAppend, FailedFileAppendKeepsWhatWasWritten) {
  DecNumber n;
  const Bytes head = Pattern(120);
  Make(n, Where::File, head, LeastSignificantFirst);
  const Bytes window = Pattern(100, 6);
  const std::size_t mark = Mark();
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::WriteFile, 1, false, kFailCode});
    EXPECT_EQ(AppendDigits(n, 0, 99, window.data()), 1);
  }
  EXPECT_EQ(n.length, 120u);
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::WriteFile, 1, false, 0, 3});
    EXPECT_EQ(AppendDigits(n, 0, 99, window.data()), 1);
  }
  EXPECT_EQ(n.length, 123u);
  const std::vector<LogRecord> records = RecordsSince(mark);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(Narrow(records[0].message), "WriteFile() function fail");
  EXPECT_EQ(records[0].comCode, kFailCode);
  EXPECT_EQ(records[0].externalCode, 1u);
  EXPECT_EQ(Narrow(records[1].message), "WriteFile() function fail");
  Bytes expected = head;
  expected.insert(expected.end(), window.begin(), window.begin() + 3);
  EXPECT_EQ(Storage(n), expected);
  Destroy(n);
}

TEST_F(DigitsAppend, FileOnlyNumberWithoutAFileAppendsNothing) {
  DecNumber n;
  ConstructFileOnly(n);
  const std::size_t mark = Mark();
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::CreateFile, 1, false, kFailCode});
    EXPECT_EQ(AppendDigits(n, 0, 9, Pattern(10).data()), 1);
  }
  EXPECT_EQ(MessagesSince(mark),
            std::vector<std::string>{"CreateFile() function fail"});
  EXPECT_EQ(n.length, 0u);
  EXPECT_TRUE(TempFiles().empty());
  Destroy(n);
}

// ---------------------------------------------------------------------------
// ReverseDigits.

using DigitsReverse = DigitsTest;

TEST_F(DigitsReverse, InMemoryShortNumbersOnlyToggleTheOrder) {
  for (const std::uint32_t length : {0u, 1u}) {
    DecNumber n;
    Make(n, Where::Memory, Pattern(length), LeastSignificantFirst);
    ASSERT_EQ(ReverseDigits(n), 0);
    EXPECT_EQ(n.digitOrder, MostSignificantFirst);
    EXPECT_EQ(Storage(n), Pattern(length));
    ASSERT_EQ(ReverseDigits(n), 0);
    EXPECT_EQ(n.digitOrder, LeastSignificantFirst);
    Destroy(n);
  }
}

TEST_F(DigitsReverse, InMemoryReversalKeepsEveryDigitAtItsIndex) {
  DecNumber n;
  const Bytes storage = Pattern(777);
  Make(n, Where::Memory, storage, LeastSignificantFirst);
  Bytes before(800), after(800);
  ASSERT_EQ(ReadDigits(n, 0, 799, before.data()), 0);
  ASSERT_EQ(ReverseDigits(n), 0);
  Bytes reversed = storage;
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_EQ(Storage(n), reversed);
  ASSERT_EQ(ReadDigits(n, 0, 799, after.data()), 0);
  std::reverse(after.begin(), after.end());
  EXPECT_EQ(after, before);
  ASSERT_EQ(ReverseDigits(n), 0);
  EXPECT_EQ(Storage(n), storage);
  EXPECT_EQ(n.digitOrder, LeastSignificantFirst);
  Destroy(n);
}

// The reversal streamed through a file gives the bytes the in-memory one
// gives, for lengths on and off the window size.
class DigitsFileReversal
    : public DigitsTest,
      public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(DigitsFileReversal, MatchesTheInMemoryReversal) {
  const std::uint32_t length = GetParam();
  const Bytes storage = Pattern(length);
  DecNumber n;
  Make(n, Where::File, storage, LeastSignificantFirst);
  const platform::FileHandle file = n.file;
  const std::wstring name = n.fileName;

  Bytes reference;
  if (length <= kLargeBlockBytes) {
    DecNumber inMemory;
    Make(inMemory, Where::Memory, storage, LeastSignificantFirst);
    ASSERT_EQ(ReverseDigits(inMemory), 0);
    reference = Storage(inMemory);
    Destroy(inMemory);
  } else {
    reference.assign(storage.rbegin(), storage.rend());
  }

  Bytes before(length + 5), after(length + 5);
  ASSERT_EQ(ReadDigits(n, 0, length + 4, before.data()), 0);
  const std::uint32_t heldLarge = testsupport::PoolScope::Held(LargeBlock);
  const std::size_t mark = Mark();

  ASSERT_EQ(ReverseDigits(n), 0);
  EXPECT_TRUE(MessagesSince(mark).empty());
  EXPECT_EQ(n.digitOrder, MostSignificantFirst);
  EXPECT_EQ(n.file, file);
  EXPECT_EQ(n.fileName, name);
  EXPECT_EQ(n.length, length);
  EXPECT_EQ(Storage(n), reference);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{Narrow(name)});
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), heldLarge);
  EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), 0u);

  // Read back through the number's own handle, every index keeps its digit.
  ASSERT_EQ(ReadDigits(n, 0, length + 4, after.data()), 0);
  // Order 0 puts the range's top index first, order 1 its bottom one.
  EXPECT_EQ(after, Bytes(before.rbegin(), before.rend()));

  ASSERT_EQ(ReverseDigits(n), 0);
  EXPECT_EQ(n.digitOrder, LeastSignificantFirst);
  EXPECT_EQ(Storage(n), storage);
  Destroy(n);
}

INSTANTIATE_TEST_SUITE_P(, DigitsFileReversal,
                         ::testing::Values(1u, 99u, 100u, 101u, 250u, 300u,
                                           10000u, 10001u, 14998u, 20000u));

// Offsets of every positioning, and the sizes of the reads, in call order.
std::vector<std::pair<platform::FileHandle, std::uint32_t>> seeks;
std::vector<std::uint32_t> readSizes;
bool RecordSeek(platform::FileHandle file, std::uint32_t offset) {
  seeks.emplace_back(file, offset);
  return platform::RealCalls().setFilePointer(file, offset);
}
bool RecordRead(platform::FileHandle file, void* buffer, std::uint32_t count,
                std::uint32_t* done) {
  readSizes.push_back(count);
  return platform::RealCalls().readFile(file, buffer, count, done);
}

TEST_F(DigitsReverse, FileReversalStreamsWindowsFromTheEnd) {
  DecNumber n;
  Make(n, Where::File, Pattern(250), LeastSignificantFirst);
  seeks.clear();
  readSizes.clear();
  {
    TableEntry<bool (*)(platform::FileHandle, std::uint32_t)> seek(
        platform::calls.setFilePointer, RecordSeek);
    TableEntry<bool (*)(platform::FileHandle, void*, std::uint32_t,
                        std::uint32_t*)>
        read(platform::calls.readFile, RecordRead);
    ASSERT_EQ(ReverseDigits(n), 0);
  }
  ASSERT_EQ(seeks.size(), 6u);
  const platform::FileHandle t = seeks[1].first;
  EXPECT_NE(t, n.file);
  const std::vector<std::pair<platform::FileHandle, std::uint32_t>> expected = {
      {n.file, 150}, {t, 0}, {n.file, 50}, {t, 100}, {n.file, 0}, {t, 200}};
  EXPECT_EQ(seeks, expected);
  EXPECT_EQ(readSizes, (std::vector<std::uint32_t>{100, 100, 50}));
  Destroy(n);
}

TEST_F(DigitsReverse, FileReversalWorksWithoutAFreeLargeBlock) {
  DecNumber n;
  const Bytes storage = Pattern(430);
  Make(n, Where::File, storage, LeastSignificantFirst);
  const std::size_t mark = Mark();
  {
    BlockHog hog(LargeBlock);
    ASSERT_EQ(ReverseDigits(n), 0);
  }
  EXPECT_EQ(MessagesSince(mark),
            std::vector<std::string>{"LocalAlloc() function fail 2"});
  EXPECT_EQ(Storage(n), Bytes(storage.rbegin(), storage.rend()));
  Destroy(n);
}

// Every failure of the file reversal: the order and the file stay as they
// were, and the second file and the buffer are released.
struct ReversalFailure {
  const char* name;
  std::optional<Fault> fault;
  bool hogSmallBlocks;
  std::vector<std::string> messages;
  // Com info code of the last record; a short transfer leaves whatever
  // error code the platform had, so it is not checked.
  std::optional<std::uint32_t> code;
};

class DigitsReversalFailure
    : public DigitsTest,
      public ::testing::WithParamInterface<ReversalFailure> {};

TEST_P(DigitsReversalFailure, LeavesTheNumberAsItWas) {
  const ReversalFailure& failure = GetParam();
  DecNumber n;
  // A spilled number, 104 windows: 103 of 100 digits and one of 50.
  const Bytes storage = Pattern(10350);
  Make(n, Where::Memory, storage, LeastSignificantFirst);
  ASSERT_EQ(n.inMemory, 0);
  const std::uint32_t heldLarge = testsupport::PoolScope::Held(LargeBlock);
  const std::size_t mark = Mark();
  {
    std::optional<BlockHog> hog;
    if (failure.hogSmallBlocks) hog.emplace(SmallBlock);
    FaultInjector faults;
    if (failure.fault) faults.Arm(*failure.fault);
    EXPECT_EQ(ReverseDigits(n), 1);
  }
  const std::vector<LogRecord> records = RecordsSince(mark);
  std::vector<std::string> messages;
  for (const LogRecord& record : records) {
    messages.push_back(Narrow(record.message));
    EXPECT_EQ(record.externalCode, 1u);
  }
  EXPECT_EQ(messages, failure.messages);
  ASSERT_FALSE(records.empty());
  if (failure.code) {
    EXPECT_EQ(records.back().comCode, *failure.code);
  }

  EXPECT_EQ(n.digitOrder, LeastSignificantFirst);
  EXPECT_EQ(n.length, storage.size());
  EXPECT_EQ(Storage(n), storage);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{Narrow(n.fileName)});
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), heldLarge);
  EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), 0u);
  Destroy(n);
}

INSTANTIATE_TEST_SUITE_P(
    , DigitsReversalFailure,
    ::testing::Values(
        ReversalFailure{"SecondFileNotCreated",
                        Fault{Call::CreateFile, 1, false, kFailCode},
                        false,
                        {"CreateFile() function fail"},
                        kFailCode},
        ReversalFailure{"NoSmallBlock",
                        std::nullopt,
                        true,
                        {"LocalAlloc() function fail 1",
                         "LocalAlloc() funcion fail 3"},
                        0u},
        ReversalFailure{"ReadFails",
                        Fault{Call::ReadFile, 2, false, kFailCode},
                        false,
                        {"ReadFile() function fail"},
                        kFailCode},
        ReversalFailure{"ReadShort",
                        Fault{Call::ReadFile, 104, false, kFailCode, 20},
                        false,
                        {"ReadFile() function fail"},
                        std::nullopt},
        ReversalFailure{"WriteFails",
                        Fault{Call::WriteFile, 3, false, kFailCode},
                        false,
                        {"WriteFile() function fail"},
                        kFailCode},
        ReversalFailure{"WriteShort",
                        Fault{Call::WriteFile, 104, false, kFailCode, 1},
                        false,
                        {"WriteFile() function fail"},
                        std::nullopt},
        ReversalFailure{"CopyFails",
                        Fault{Call::CopyFile, 1, false, kFailCode},
                        false,
                        {"Copy file fail 1"},
                        0u}),
    [](const ::testing::TestParamInfo<ReversalFailure>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace storetest
