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

// The index model: digit index 0 is the most significant, and buffer byte k
// of the range low..high stands for index low + k in order 1, high - k in
// order 0. Indices past the end read 0 and are not written.
std::size_t PositionOf(std::size_t size, int order, std::uint32_t j) {
  return order == MostSignificantFirst ? j : size - 1 - j;
}

std::uint32_t IndexOf(int order, std::uint32_t low, std::uint32_t high,
                      std::uint32_t k) {
  return order == MostSignificantFirst ? low + k : high - k;
}

Bytes ExpectedRead(const Bytes& storage, int order, std::uint32_t low,
                   std::uint32_t high) {
  Bytes buffer(high - low + 1, 0);
  for (std::uint32_t k = 0; k < buffer.size(); ++k) {
    const std::uint32_t j = IndexOf(order, low, high, k);
    if (j < storage.size()) buffer[k] = storage[PositionOf(storage.size(), order, j)];
  }
  return buffer;
}

Bytes ExpectedWrite(Bytes storage, int order, std::uint32_t low,
                    std::uint32_t high, const Bytes& buffer) {
  for (std::uint32_t k = 0; k < buffer.size(); ++k) {
    const std::uint32_t j = IndexOf(order, low, high, k);
    if (j < storage.size()) storage[PositionOf(storage.size(), order, j)] = buffer[k];
  }
  return storage;
}

enum class Where { Memory, File };

class DigitsTest : public NumberTest {
 protected:
  // A number whose storage is `storage`, read in `order`, in a block or in a
  // file of its own.
  void Make(ScopedNumber& n, Where where, const Bytes& storage, int order) {
    if (where == Where::File) {
      DecNumber made;
      ConstructFileOnly(made);
      n.Adopt(made);
    }
    AppendAll(*n, storage);
    n->digitOrder = static_cast<std::uint8_t>(order);
    const bool fits = storage.size() <= kLargeBlockBytes;
    ASSERT_EQ(n->inMemory, where == Where::Memory && fits ? 1 : 0);
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
  ScopedNumber n;
  const Bytes storage = Pattern(50);
  Make(n, where(), storage, order());
  Bytes buffer(100, 77);
  ASSERT_EQ(ReadDigits(*n, 0, 99, buffer.data()), 0);
  // Order 0 puts the missing top indices first, order 1 last.
  const Bytes zeros(50, 0);
  EXPECT_EQ(buffer, order() == LeastSignificantFirst ? Join(zeros, storage)
                                                     : Join(storage, zeros));
}

TEST_P(DigitsRange, ReadsMatchTheIndexModelForEveryKindOfRange) {
  ScopedNumber n;
  const Bytes storage = Pattern(250);
  Make(n, where(), storage, order());
  const std::size_t mark = Mark();
  const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
      {0, 99},    {100, 199}, {200, 299}, {249, 249}, {0, 249}, {0, 0},
      {17, 33},   {240, 260}, {250, 349}, {300, 399}, {1, 248}, {249, 250},
  };
  for (const auto& [low, high] : ranges) {
    Bytes buffer(high - low + 1, 77);
    ASSERT_EQ(ReadDigits(*n, low, high, buffer.data()), 0) << low << ".." << high;
    EXPECT_EQ(buffer, ExpectedRead(storage, order(), low, high))
        << low << ".." << high;
  }
  EXPECT_EQ(Storage(*n), storage);
  EXPECT_TRUE(LoggedSince(mark).empty());
}

TEST_P(DigitsRange, WritesMatchTheIndexModelAndNeverLengthenTheNumber) {
  ScopedNumber n;
  Bytes storage = Pattern(250);
  Make(n, where(), storage, order());
  const std::pair<std::uint32_t, std::uint32_t> ranges[] = {
      {0, 99}, {100, 199}, {200, 299}, {249, 249}, {17, 33},
      {240, 260}, {250, 349}, {0, 0},
  };
  int salt = 1;
  for (const auto& [low, high] : ranges) {
    const Bytes buffer = Pattern(high - low + 1, salt++);
    ASSERT_EQ(WriteDigits(*n, low, high, buffer.data()), 0) << low << ".." << high;
    storage = ExpectedWrite(storage, order(), low, high, buffer);
    EXPECT_EQ(n->length, 250u);
    EXPECT_EQ(Storage(*n), storage) << low << ".." << high;
  }
  if (where() == Where::File) {
    EXPECT_EQ(FileBytes(*n).size(), 250u);
  }
}

TEST_P(DigitsRange, ReversedRangeFailsAndTouchesNothing) {
  ScopedNumber n;
  const Bytes storage = Pattern(150);
  Make(n, where(), storage, order());
  Bytes buffer(100, 77);
  FaultInjector faults;
  EXPECT_EQ(ReadDigits(*n, 60, 10, buffer.data()), 1);
  EXPECT_EQ(buffer, Bytes(100, 77));
  EXPECT_EQ(WriteDigits(*n, 60, 10, buffer.data()), 1);
  EXPECT_EQ(AppendDigits(*n, 60, 10, buffer.data()), 1);
  EXPECT_EQ(faults.Count(Call::CreateFile) + faults.Count(Call::WriteFile) +
                faults.Count(Call::ReadFile),
            0u);
  EXPECT_EQ(n->length, 150u);
  EXPECT_EQ(Storage(*n), storage);
}

INSTANTIATE_TEST_SUITE_P(
    , DigitsRange,
    ::testing::Combine(::testing::Values(Where::Memory, Where::File),
                       ::testing::Values(0, 1)),
    [](const ::testing::TestParamInfo<std::tuple<Where, int>>& info) {
      return std::string(std::get<0>(info.param) == Where::Memory ? "Memory"
                                                                   : "File") +
             "Order" + std::to_string(std::get<1>(info.param));
    });

using DigitsAccess = DigitsTest;

TEST_F(DigitsAccess, RangesPastTheEndNeedNoStorage) {
  ScopedNumber n;
  Make(n, Where::File, {}, LeastSignificantFirst);
  Bytes buffer(100, 77);
  EXPECT_EQ(ReadDigits(*n, 0, 99, buffer.data()), 0);
  EXPECT_EQ(buffer, Bytes(100, 0));
  EXPECT_EQ(WriteDigits(*n, 0, 99, Pattern(100).data()), 0);
  EXPECT_EQ(n->length, 0u);
  EXPECT_EQ(n->file, platform::kInvalidFile);
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(DigitsAccess, NumberWithoutBlockOrFileFailsQuietly) {
  // A number that claims digits but has neither block nor file. No
  // operation leaves one so, but the access must not rely on that.
  DecNumber stranded;
  ConstructFileOnly(stranded);
  stranded.length = 180;
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
  EXPECT_TRUE(LoggedSince(mark).empty());

  Destroy(stranded);
}

TEST_F(DigitsAccess, FailedFileTransfersAreRecordedWithTheErrorCode) {
  ScopedNumber n;
  const Bytes storage = Pattern(300);
  Make(n, Where::File, storage, LeastSignificantFirst);
  const std::size_t mark = Mark();
  struct Case {
    Fault fault;
    bool write;
  };
  const Case cases[] = {
      {{Call::ReadFile, 1, false, kFailCode}, false},
      {{Call::ReadFile, 1, false, 0, 40}, false},  // short
      {{Call::SetFilePointer, 1, false, kFailCode}, false},
      {{Call::WriteFile, 1, false, kFailCode}, true},
      {{Call::WriteFile, 1, false, 0, 0}, true},  // short
      {{Call::SetFilePointer, 1, false, kFailCode}, true},
  };
  for (const Case& c : cases) {
    FaultInjector injector;
    injector.Arm(c.fault);
    Bytes buffer(100, 9);
    EXPECT_EQ(c.write ? WriteDigits(*n, 0, 99, buffer.data())
                      : ReadDigits(*n, 0, 99, buffer.data()),
              1);
  }
  EXPECT_EQ(LoggedSince(mark), (Log{{"ReadFile() function fail", kFailCode},
                                    {"ReadFile() function fail", kAnyCode},
                                    {"ReadFile() function fail", kFailCode},
                                    {"WriteFile() function fail", kFailCode},
                                    {"WriteFile() function fail", kAnyCode},
                                    {"WriteFile() function fail", kFailCode}}));
  EXPECT_EQ(Storage(*n), storage);
  EXPECT_EQ(n->length, 300u);
}

// ---------------------------------------------------------------------------
// AppendDigits and the spill.

using DigitsAppend = DigitsTest;

TEST_F(DigitsAppend, NewDigitsBecomeTheMostSignificantInOrderZero) {
  ScopedNumber n;
  const Bytes one = {1, 0, 0, 0};
  ASSERT_EQ(AppendDigits(*n, 0, 3, one.data()), 0);
  Bytes integer(4);
  ASSERT_EQ(ReadDigits(*n, 0, 3, integer.data()), 0);
  EXPECT_EQ(integer, one);  // the units digit, index 3, first
  Digit digit = -1;
  ASSERT_EQ(ReadDigits(*n, 3, 3, &digit), 0);
  EXPECT_EQ(digit, 1);

  // Low and high give the count only.
  const Bytes zero = {0};
  ASSERT_EQ(AppendDigits(*n, 500, 500, zero.data()), 0);
  EXPECT_EQ(n->length, 5u);
  ASSERT_EQ(ReadDigits(*n, 3, 3, &digit), 0);
  EXPECT_EQ(digit, 0);
  ASSERT_EQ(ReadDigits(*n, 4, 4, &digit), 0);
  EXPECT_EQ(digit, 1);  // 0.1
}

TEST_F(DigitsAppend, NewDigitsBecomeTheLeastSignificantInOrderOne) {
  for (const Where where : {Where::Memory, Where::File}) {
    ScopedNumber n;
    Make(n, where, {0, 0, 0, 1}, MostSignificantFirst);
    const Bytes tail = {2, 5};
    ASSERT_EQ(AppendDigits(*n, 0, 1, tail.data()), 0);
    Bytes digits(8, 77);
    ASSERT_EQ(ReadDigits(*n, 0, 7, digits.data()), 0);
    EXPECT_EQ(digits, (Bytes{0, 0, 0, 1, 2, 5, 0, 0}));  // 1.25
  }
}

// Reaching exactly the capacity, by one digit or by a window, stays in the
// block; passing it, from a full block or within a window, spills the number
// whole into its file, and the number keeps its block.
TEST_F(DigitsAppend, FillingTheBlockExactlyStaysInMemoryAndOnePastSpills) {
  const std::pair<std::uint32_t, std::uint32_t> appends[] = {
      {9999, 1}, {9900, 100}, {10000, 2}, {9901, 100}};
  for (const auto& [before, count] : appends) {
    ScopedNumber n;
    Digit* const block = n->block;
    const Bytes head = Pattern(before);
    const Bytes all = Join(head, Pattern(count, 9));
    AppendAll(*n, head);
    ASSERT_EQ(AppendDigits(*n, 0, count - 1, all.data() + before), 0);
    EXPECT_EQ(n->length, all.size());
    if (all.size() == kLargeBlockBytes) {
      EXPECT_EQ(n->inMemory, 1) << before;
      EXPECT_EQ(n->file, platform::kInvalidFile);
      EXPECT_TRUE(TempFiles().empty());
      EXPECT_EQ(Storage(*n), all);
    } else {
      EXPECT_EQ(n->inMemory, 0) << before;
      EXPECT_EQ(n->memoryBacked, 1);
      EXPECT_EQ(n->block, block);
      EXPECT_EQ(n->capacity, kLargeBlockBytes);
      EXPECT_EQ(UseCount(block), 1);
      EXPECT_EQ(FileBytes(*n), all) << before;
      EXPECT_EQ(Bytes(block, block + before), head);
    }
  }
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(DigitsAppend, OnceSpilledAppendsStayInTheFile) {
  ScopedNumber n;
  const Bytes all = Pattern(kLargeBlockBytes + 1);
  AppendAll(*n, all);
  ASSERT_EQ(n->inMemory, 0);
  // Cut short, the number would fit its block again; its digits still go
  // to the file, and the idle block is not touched.
  n->length = 10;
  const Bytes more = Pattern(3, 4);
  ASSERT_EQ(AppendDigits(*n, 0, 2, more.data()), 0);
  EXPECT_EQ(n->inMemory, 0);
  EXPECT_EQ(n->length, 13u);
  EXPECT_EQ(Storage(*n), Join(Bytes(all.begin(), all.begin() + 10), more));
  EXPECT_EQ(Bytes(n->block, n->block + kLargeBlockBytes),
            Bytes(all.begin(), all.begin() + kLargeBlockBytes));
}

// A spill that fails leaves the number in memory, digits and length as they
// were; the next append spills it whole, into the file already opened if any.
TEST_F(DigitsAppend, FailedSpillLeavesTheNumberInMemory) {
  struct Case {
    Fault fault;
    Logged record;
  };
  const Case cases[] = {
      {{Call::CreateFile, 1, false, kFailCode}, {"CreateFile() function fail", kFailCode}},
      {{Call::WriteFile, 1, false, kFailCode}, {"WriteFile() function fail", kFailCode}},
      {{Call::WriteFile, 1, false, 0, 4000}, {"WriteFile() function fail", kAnyCode}},
      {{Call::SetFilePointer, 1, false, kFailCode}, {"WriteFile() function fail", kFailCode}},
  };
  const Bytes digits = Pattern(kLargeBlockBytes);
  const Bytes more = Pattern(5, 2);
  for (const Case& c : cases) {
    ScopedNumber n;
    AppendAll(*n, digits);
    const std::size_t mark = Mark();
    {
      FaultInjector injector;
      injector.Arm(c.fault);
      EXPECT_EQ(AppendDigits(*n, 0, 4, more.data()), 1);
    }
    EXPECT_EQ(LoggedSince(mark), Log{c.record});
    EXPECT_EQ(n->inMemory, 1);
    EXPECT_EQ(n->length, kLargeBlockBytes);
    EXPECT_EQ(Storage(*n), digits);
    const bool created = c.fault.call != Call::CreateFile;
    EXPECT_EQ(n->file != platform::kInvalidFile, created);
    EXPECT_EQ(TempFiles().size(), created ? 1u : 0u);

    const std::wstring name = n->fileName;
    ASSERT_EQ(AppendDigits(*n, 0, 4, more.data()), 0);
    if (created) {
      EXPECT_EQ(n->fileName, name);
    }
    EXPECT_EQ(FileBytes(*n), Join(digits, more));
  }
}

TEST_F(DigitsAppend, FailedFileAppendKeepsWhatWasWritten) {
  ScopedNumber n;
  const Bytes head = Pattern(120);
  Make(n, Where::File, head, LeastSignificantFirst);
  const Bytes window = Pattern(100, 6);
  const std::size_t mark = Mark();
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::WriteFile, 1, false, kFailCode});
    EXPECT_EQ(AppendDigits(*n, 0, 99, window.data()), 1);
  }
  EXPECT_EQ(n->length, 120u);
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::WriteFile, 1, false, 0, 3});
    EXPECT_EQ(AppendDigits(*n, 0, 99, window.data()), 1);
  }
  EXPECT_EQ(n->length, 123u);
  EXPECT_EQ(LoggedSince(mark), (Log{{"WriteFile() function fail", kFailCode},
                                    {"WriteFile() function fail", kAnyCode}}));
  EXPECT_EQ(Storage(*n), Join(head, Bytes(window.begin(), window.begin() + 3)));
}

// ---------------------------------------------------------------------------
// ReverseDigits.

using DigitsReverse = DigitsTest;

TEST_F(DigitsReverse, InMemoryReversalKeepsEveryDigitAtItsIndex) {
  for (const std::uint32_t length : {0u, 1u, 777u}) {
    ScopedNumber n;
    const Bytes storage = Pattern(length);
    Make(n, Where::Memory, storage, LeastSignificantFirst);
    Bytes before(800), after(800);
    ASSERT_EQ(ReadDigits(*n, 0, 799, before.data()), 0);
    ASSERT_EQ(ReverseDigits(*n), 0);
    EXPECT_EQ(n->digitOrder, MostSignificantFirst);
    EXPECT_EQ(Storage(*n), Bytes(storage.rbegin(), storage.rend())) << length;
    ASSERT_EQ(ReadDigits(*n, 0, 799, after.data()), 0);
    EXPECT_EQ(after, Bytes(before.rbegin(), before.rend())) << length;
    ASSERT_EQ(ReverseDigits(*n), 0);
    EXPECT_EQ(Storage(*n), storage);
    EXPECT_EQ(n->digitOrder, LeastSignificantFirst);
  }
}

// The reversal streamed through a file gives the bytes the in-memory one
// gives, for lengths on and off the window size.
class DigitsFileReversal
    : public DigitsTest,
      public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(DigitsFileReversal, MatchesTheInMemoryReversal) {
  const std::uint32_t length = GetParam();
  const Bytes storage = Pattern(length);
  ScopedNumber n;
  Make(n, Where::File, storage, LeastSignificantFirst);
  const platform::FileHandle file = n->file;
  const std::wstring name = n->fileName;

  Bytes reference(storage.rbegin(), storage.rend());
  if (length <= kLargeBlockBytes) {
    ScopedNumber inMemory;
    Make(inMemory, Where::Memory, storage, LeastSignificantFirst);
    ASSERT_EQ(ReverseDigits(*inMemory), 0);
    reference = Storage(*inMemory);
  }

  Bytes before(length + 5), after(length + 5);
  ASSERT_EQ(ReadDigits(*n, 0, length + 4, before.data()), 0);
  const std::uint32_t heldLarge = testsupport::PoolScope::Held(LargeBlock);
  const std::size_t mark = Mark();

  ASSERT_EQ(ReverseDigits(*n), 0);
  EXPECT_TRUE(LoggedSince(mark).empty());
  EXPECT_EQ(n->digitOrder, MostSignificantFirst);
  EXPECT_EQ(n->file, file);
  EXPECT_EQ(n->fileName, name);
  EXPECT_EQ(n->length, length);
  EXPECT_EQ(Storage(*n), reference);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{Narrow(name)});
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), heldLarge);
  EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), 0u);

  // Read back through the number's own handle, every index keeps its digit.
  ASSERT_EQ(ReadDigits(*n, 0, length + 4, after.data()), 0);
  EXPECT_EQ(after, Bytes(before.rbegin(), before.rend()));

  ASSERT_EQ(ReverseDigits(*n), 0);
  EXPECT_EQ(n->digitOrder, LeastSignificantFirst);
  EXPECT_EQ(Storage(*n), storage);
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
  ScopedNumber n;
  Make(n, Where::File, Pattern(250), LeastSignificantFirst);
  seeks.clear();
  readSizes.clear();
  {
    TableEntry<bool (*)(platform::FileHandle, std::uint32_t)> seek(
        platform::calls.setFilePointer, RecordSeek);
    TableEntry<bool (*)(platform::FileHandle, void*, std::uint32_t,
                        std::uint32_t*)>
        read(platform::calls.readFile, RecordRead);
    ASSERT_EQ(ReverseDigits(*n), 0);
  }
  ASSERT_EQ(seeks.size(), 6u);
  const platform::FileHandle t = seeks[1].first;
  EXPECT_NE(t, n->file);
  const std::vector<std::pair<platform::FileHandle, std::uint32_t>> expected = {
      {n->file, 150}, {t, 0}, {n->file, 50}, {t, 100}, {n->file, 0}, {t, 200}};
  EXPECT_EQ(seeks, expected);
  EXPECT_EQ(readSizes, (std::vector<std::uint32_t>{100, 100, 50}));
}

TEST_F(DigitsReverse, FileReversalWorksWithoutAFreeLargeBlock) {
  ScopedNumber n;
  const Bytes storage = Pattern(430);
  Make(n, Where::File, storage, LeastSignificantFirst);
  const std::size_t mark = Mark();
  {
    BlockHog hog(LargeBlock);
    ASSERT_EQ(ReverseDigits(*n), 0);
  }
  EXPECT_EQ(LoggedSince(mark), (Log{{"LocalAlloc() function fail 2", 0}}));
  EXPECT_EQ(Storage(*n), Bytes(storage.rbegin(), storage.rend()));
}

// The copy of the reversed digits over the number's file breaks off and
// spoils that file; the second file holds them whole, and the number takes
// it over: reversed, and read back through its own handle.
TEST_F(DigitsReverse, ABrokenOffCopyLeavesTheNumberReversedInTheSecondFile) {
  ScopedNumber n;
  const Bytes storage = Pattern(10350);
  Make(n, Where::Memory, storage, LeastSignificantFirst);
  const std::wstring spoilt = n->fileName;
  const std::size_t mark = Mark();
  {
    BrokenCopy broken;
    EXPECT_EQ(ReverseDigits(*n), 0);
  }
  EXPECT_EQ(LoggedSince(mark), (Log{{"Copy file fail 1", 0}}));
  EXPECT_EQ(n->digitOrder, MostSignificantFirst);
  EXPECT_EQ(n->length, storage.size());
  EXPECT_NE(n->fileName, spoilt);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{Narrow(n->fileName)});
  Bytes top(100);
  ASSERT_EQ(ReadDigits(*n, 0, 99, top.data()), 0);
  EXPECT_EQ(top, Bytes(storage.rbegin(), storage.rbegin() + 100));
  EXPECT_EQ(Storage(*n), Bytes(storage.rbegin(), storage.rend()));
  EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), 0u);
}

// Every other failure of the file reversal: the order and the file stay as
// they were, and the second file and the buffer are released.
struct ReversalFailure {
  const char* name;
  std::optional<Fault> fault;
  bool hogSmallBlocks;
  Log records;
};

class DigitsReversalFailure
    : public DigitsTest,
      public ::testing::WithParamInterface<ReversalFailure> {};

TEST_P(DigitsReversalFailure, LeavesTheNumberAsItWas) {
  const ReversalFailure& failure = GetParam();
  ScopedNumber n;
  // A spilled number, 104 windows: 103 of 100 digits and one of 50.
  const Bytes storage = Pattern(10350);
  Make(n, Where::Memory, storage, LeastSignificantFirst);
  ASSERT_EQ(n->inMemory, 0);
  const std::uint32_t heldLarge = testsupport::PoolScope::Held(LargeBlock);
  const std::size_t mark = Mark();
  {
    std::optional<BlockHog> hog;
    if (failure.hogSmallBlocks) hog.emplace(SmallBlock);
    FaultInjector faults;
    if (failure.fault) faults.Arm(*failure.fault);
    EXPECT_EQ(ReverseDigits(*n), 1);
  }
  EXPECT_EQ(LoggedSince(mark), failure.records);
  EXPECT_EQ(n->digitOrder, LeastSignificantFirst);
  EXPECT_EQ(n->length, storage.size());
  EXPECT_EQ(Storage(*n), storage);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{Narrow(n->fileName)});
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), heldLarge);
  EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    , DigitsReversalFailure,
    ::testing::Values(
        ReversalFailure{"SecondFileNotCreated", Fault{Call::CreateFile, 1, false, kFailCode},
                        false, {{"CreateFile() function fail", kFailCode}}},
        ReversalFailure{"NoSmallBlock", std::nullopt, true,
                        {{"LocalAlloc() function fail 1", 0},
                         {"LocalAlloc() funcion fail 3", 0}}},
        ReversalFailure{"ReadFails", Fault{Call::ReadFile, 2, false, kFailCode},
                        false, {{"ReadFile() function fail", kFailCode}}},
        ReversalFailure{"ReadShort", Fault{Call::ReadFile, 104, false, kFailCode, 20},
                        false, {{"ReadFile() function fail", kAnyCode}}},
        ReversalFailure{"WriteFails", Fault{Call::WriteFile, 3, false, kFailCode},
                        false, {{"WriteFile() function fail", kFailCode}}},
        ReversalFailure{"WriteShort", Fault{Call::WriteFile, 104, false, kFailCode, 1},
                        false, {{"WriteFile() function fail", kAnyCode}}}),
    [](const ::testing::TestParamInfo<ReversalFailure>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace storetest
