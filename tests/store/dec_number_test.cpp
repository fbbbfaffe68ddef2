// DecNumber: its storage states and the operations that move between them,
// and the temporary file with its names and failures.

#include <fstream>
#include <string>
#include <vector>

#include "tests/store/number_fixture.h"

namespace storetest {
namespace {

// ---------------------------------------------------------------------------
// States: In memory, Spilled, File only.

using DecNumberLifecycle = NumberTest;

TEST_F(DecNumberLifecycle, ConstructTakesTheFirstFreeLargeBlock) {
  DecNumber n;
  Construct(n);
  EXPECT_EQ(n.memoryBacked, 1);
  EXPECT_EQ(n.inMemory, 1);
  EXPECT_EQ(n.digitOrder, LeastSignificantFirst);
  EXPECT_EQ(n.constructed, 1);
  EXPECT_EQ(n.block, workPool.end - kLargeBlockBytes);
  EXPECT_EQ(n.capacity, kLargeBlockBytes);
  EXPECT_EQ(n.length, 0u);
  EXPECT_EQ(n.file, platform::kInvalidFile);
  EXPECT_TRUE(n.fileName.empty());
  EXPECT_EQ(UseCount(n.block), 1);
  Destroy(n);
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(DecNumberLifecycle, WithoutAFreeBlockANumberLivesInAFileFromItsFirstAppend) {
  DecNumber n;
  ConstructFileOnly(n);
  EXPECT_EQ(LoggedSince(0), (Log{{"LocalAlloc() function fail 2", 0}}));
  EXPECT_EQ(n.memoryBacked, 0);
  EXPECT_EQ(n.inMemory, 0);
  EXPECT_EQ(n.capacity, 0u);
  EXPECT_EQ(n.block, nullptr);
  EXPECT_EQ(n.file, platform::kInvalidFile);
  EXPECT_TRUE(TempFiles().empty());

  // The constant 1, least significant digit first.
  const Bytes one = {1, 0, 0, 0};
  ASSERT_EQ(AppendDigits(n, 0, 3, one.data()), 0);
  EXPECT_EQ(n.inMemory, 0);
  EXPECT_EQ(n.block, nullptr);
  EXPECT_NE(n.file, platform::kInvalidFile);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{Narrow(n.fileName)});
  EXPECT_EQ(FileBytes(n), one);
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), 0u);
  Destroy(n);
}

TEST_F(DecNumberLifecycle, ScopedNumberEndsItsNumberOnEveryPath) {
  std::wstring name;
  {
    ScopedNumber n;
    AppendAll(*n, Pattern(kLargeBlockBytes + 5));
    name = n->fileName;
    EXPECT_TRUE(FileExists(name));
    EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), 1u);
  }
  EXPECT_FALSE(FileExists(name));
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), 0u);

  // Adopt ends what it held and takes over a number made elsewhere.
  ScopedNumber holder;
  DecNumber made;
  Construct(made);
  Digit* const block = made.block;
  holder.Adopt(made);
  EXPECT_EQ(holder->block, block);
  EXPECT_EQ(made.block, nullptr);
  EXPECT_EQ(made.inMemory, 0);
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), 1u);

  // Copy is a CopyConstruction: it shares the block until it ends.
  {
    ScopedNumber copy = ScopedNumber::Copy(*holder);
    EXPECT_EQ(copy->block, block);
    EXPECT_EQ(UseCount(block), 2);
  }
  EXPECT_EQ(UseCount(block), 1);
}

// ---------------------------------------------------------------------------
// CopyConstruct: shares an in-memory block, copies a file.

using DecNumberCopy = NumberTest;

TEST_F(DecNumberCopy, InMemorySourceSharesItsBlock) {
  DecNumber source;
  Construct(source);
  AppendAll(source, Pattern(321));
  ASSERT_EQ(ReverseDigits(source), 0);

  DecNumber copy;
  CopyConstruct(copy, source);
  EXPECT_EQ(copy.block, source.block);
  EXPECT_EQ(UseCount(source.block), 2);
  EXPECT_EQ(copy.memoryBacked, 1);
  EXPECT_EQ(copy.inMemory, 1);
  EXPECT_EQ(copy.capacity, kLargeBlockBytes);
  EXPECT_EQ(copy.length, 321u);
  EXPECT_EQ(copy.digitOrder, MostSignificantFirst);
  EXPECT_EQ(copy.file, platform::kInvalidFile);

  Destroy(source);
  EXPECT_EQ(UseCount(copy.block), 1);
  const Bytes digits = Pattern(321);
  EXPECT_EQ(Storage(copy), Bytes(digits.rbegin(), digits.rend()));
  Destroy(copy);
}

TEST_F(DecNumberCopy, SpilledSourceIsCopiedIntoAFileOfItsOwn) {
  DecNumber source;
  Construct(source);
  const Bytes digits = Pattern(kLargeBlockBytes + 77);
  AppendAll(source, digits);

  DecNumber copy;
  CopyConstruct(copy, source);
  EXPECT_EQ(copy.memoryBacked, 1);
  EXPECT_EQ(copy.inMemory, 0);
  EXPECT_EQ(copy.block, nullptr);
  EXPECT_EQ(copy.length, source.length);
  ASSERT_NE(copy.file, platform::kInvalidFile);
  EXPECT_NE(copy.fileName, source.fileName);
  EXPECT_EQ(FileBytes(copy), digits);
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), 1u);

  // Without a block of its own it goes on as a file-only number.
  Destroy(source);
  const Bytes more = Pattern(10, 3);
  ASSERT_EQ(AppendDigits(copy, 0, 9, more.data()), 0);
  EXPECT_EQ(Storage(copy), Join(digits, more));
  Destroy(copy);
  EXPECT_TRUE(log_.Messages().empty());
}

// A copy that breaks off, by CopyConstruct and by Assign: each has its own
// record, and no number is left claiming digits its file does not hold.
// The new copy is empty; a destination keeps the value it had, whether in
// its file or in its block, and takes the source's once a copy succeeds.
TEST_F(DecNumberCopy, ABrokenOffCopyLeavesEveryNumberHoldingWhatItClaims) {
  DecNumber source;
  ConstructFileOnly(source);
  AppendAll(source, Pattern(150));
  DecNumber inFile;
  ConstructFileOnly(inFile);
  AppendAll(inFile, Pattern(30, 5));
  inFile.digitOrder = MostSignificantFirst;
  DecNumber inMemory;
  Construct(inMemory);
  AppendAll(inMemory, Pattern(40, 7));
  const std::size_t mark = Mark();

  DecNumber copy;
  {
    BrokenCopy broken;
    CopyConstruct(copy, source);
    Assign(inFile, source);
    Assign(inMemory, source);
  }
  EXPECT_EQ(LoggedSince(mark), (Log{{"Copy file fail 1", 0},
                                    {"Copy file fail", 0},
                                    {"Copy file fail", 0}}));
  EXPECT_EQ(copy.length, 0u);
  EXPECT_EQ(inFile.length, 30u);
  EXPECT_EQ(inFile.digitOrder, MostSignificantFirst);
  EXPECT_EQ(Storage(inFile), Pattern(30, 5));
  EXPECT_EQ(inMemory.inMemory, 1);
  EXPECT_EQ(Storage(inMemory), Pattern(40, 7));
  // Source, copy, inFile's own file and the one inMemory was given.
  EXPECT_EQ(TempFiles().size(), 4u);

  Assign(inFile, source);
  EXPECT_EQ(inFile.length, 150u);
  EXPECT_EQ(inFile.digitOrder, LeastSignificantFirst);
  Bytes read(150);
  ASSERT_EQ(ReadDigits(inFile, 0, 149, read.data()), 0);
  EXPECT_EQ(read, Pattern(150));
  EXPECT_EQ(TempFiles().size(), 4u);

  Destroy(copy);
  Destroy(inMemory);
  Destroy(inFile);
  Destroy(source);
}

// ---------------------------------------------------------------------------
// Assign: a deep copy, never a shared block.

using DecNumberAssign = NumberTest;

TEST_F(DecNumberAssign, SelfAssignmentChangesNothing) {
  DecNumber n;
  Construct(n);
  AppendAll(n, Pattern(kLargeBlockBytes + 3));
  const DecNumber before = n;
  {
    FaultInjector faults;
    EXPECT_EQ(&Assign(n, n), &n);
    EXPECT_EQ(faults.Count(Call::CreateFile), 0u);
    EXPECT_EQ(faults.Count(Call::CopyFile), 0u);
  }
  EXPECT_EQ(n.inMemory, before.inMemory);
  EXPECT_EQ(n.block, before.block);
  EXPECT_EQ(n.file, before.file);
  EXPECT_EQ(n.fileName, before.fileName);
  EXPECT_EQ(n.length, before.length);
  EXPECT_EQ(Storage(n), Pattern(kLargeBlockBytes + 3));
  Destroy(n);
}

TEST_F(DecNumberAssign, InMemorySourceIsCopiedIntoTheDestinationsOwnBlock) {
  DecNumber source, destination;
  Construct(source);
  Construct(destination);
  AppendAll(destination, Pattern(500, 1));
  AppendAll(source, Pattern(230));
  ASSERT_EQ(ReverseDigits(source), 0);
  Digit* const ownBlock = destination.block;

  Assign(destination, source);
  EXPECT_EQ(destination.block, ownBlock);
  EXPECT_EQ(destination.inMemory, 1);
  EXPECT_EQ(destination.length, 230u);
  EXPECT_EQ(destination.digitOrder, MostSignificantFirst);
  EXPECT_EQ(Storage(destination), Storage(source));
  EXPECT_EQ(UseCount(source.block), 1);
  EXPECT_EQ(UseCount(ownBlock), 1);

  // Nothing is shared: changing the source leaves the copy alone.
  const Bytes before = Storage(destination);
  const Bytes nines(100, 9);
  ASSERT_EQ(WriteDigits(source, 0, 99, nines.data()), 0);
  EXPECT_EQ(Storage(destination), before);

  Destroy(source);
  Destroy(destination);
}

TEST_F(DecNumberAssign, InMemorySourceGivesAFileOnlyDestinationABlockAndKeepsItsFile) {
  DecNumber destination;
  ConstructFileOnly(destination);
  AppendAll(destination, Pattern(120, 2));
  const platform::FileHandle oldFile = destination.file;
  const std::wstring oldName = destination.fileName;

  DecNumber source;
  Construct(source);
  AppendAll(source, Pattern(300));
  Assign(destination, source);

  EXPECT_EQ(destination.memoryBacked, 1);
  EXPECT_EQ(destination.inMemory, 1);
  EXPECT_EQ(destination.capacity, kLargeBlockBytes);
  ASSERT_NE(destination.block, nullptr);
  EXPECT_NE(destination.block, source.block);
  EXPECT_EQ(Storage(destination), Pattern(300));
  // The old file stays open and idle ...
  EXPECT_EQ(destination.file, oldFile);
  EXPECT_TRUE(FileExists(oldName));

  // ... and a later spill reuses it.
  const Bytes more = Pattern(kLargeBlockBytes - 300 + 1, 4);
  ASSERT_EQ(AppendDigits(destination, 0, static_cast<std::uint32_t>(more.size()) - 1,
                         more.data()),
            0);
  EXPECT_EQ(destination.inMemory, 0);
  EXPECT_EQ(destination.fileName, oldName);
  EXPECT_EQ(Storage(destination), Join(Pattern(300), more));

  Destroy(destination);
  EXPECT_FALSE(FileExists(oldName));
  Destroy(source);
}

TEST_F(DecNumberAssign, SpilledSourceGivesABlocklessDestinationABlockButCopiesTheFile) {
  DecNumber source;
  Construct(source);
  const Bytes digits = Pattern(kLargeBlockBytes + 250);
  AppendAll(source, digits);
  DecNumber destination;
  ConstructFileOnly(destination);
  const std::size_t mark = Mark();

  Assign(destination, source);
  EXPECT_TRUE(LoggedSince(mark).empty());
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), 2u);
  ASSERT_NE(destination.block, nullptr);
  EXPECT_NE(destination.block, source.block);
  EXPECT_EQ(destination.memoryBacked, 1);
  EXPECT_EQ(destination.inMemory, 0);
  EXPECT_EQ(destination.length, source.length);
  ASSERT_NE(destination.file, platform::kInvalidFile);
  EXPECT_NE(destination.fileName, source.fileName);
  EXPECT_EQ(FileBytes(destination), digits);

  Destroy(source);
  Destroy(destination);
}

TEST_F(DecNumberAssign, FileSourceLeavesAnInMemoryDestinationItsBlock) {
  DecNumber destination;
  Construct(destination);
  Digit* const block = destination.block;
  DecNumber source;
  ConstructFileOnly(source);
  AppendAll(source, Pattern(260));

  Assign(destination, source);
  EXPECT_EQ(destination.block, block);
  EXPECT_EQ(UseCount(block), 1);
  EXPECT_EQ(destination.memoryBacked, 0);
  EXPECT_EQ(destination.inMemory, 0);
  EXPECT_EQ(destination.length, 260u);
  EXPECT_EQ(Storage(destination), Pattern(260));

  Destroy(destination);
  Destroy(source);
}

TEST_F(DecNumberAssign, NoBlockForAnInMemorySourceSendsTheDigitsToTheFile) {
  DecNumber source;
  Construct(source);
  AppendAll(source, Pattern(345));
  DecNumber destination;
  ConstructFileOnly(destination);
  const std::size_t mark = Mark();
  {
    BlockHog hog(LargeBlock);
    Assign(destination, source);
  }
  EXPECT_EQ(LoggedSince(mark), (Log{{"LocalAlloc() function fail 2", 0},
                                    {"LocalAlloc() funcion fail 3", 0}}));
  EXPECT_EQ(destination.block, nullptr);
  EXPECT_EQ(destination.inMemory, 0);
  EXPECT_EQ(destination.length, 345u);
  ASSERT_NE(destination.file, platform::kInvalidFile);
  EXPECT_EQ(FileBytes(destination), Pattern(345));
  Bytes window(100);
  ASSERT_EQ(ReadDigits(destination, 0, 99, window.data()), 0);
  const Bytes all = Pattern(345);
  EXPECT_EQ(window, Bytes(all.end() - 100, all.end()));

  Destroy(destination);
  Destroy(source);
}

// An empty number without a file, such as a product for which no block was
// free, copies and assigns as empty wherever the destination lives: no
// record, and no temporary file made for nothing.
TEST_F(DecNumberAssign, AnEmptySourceWithoutAFileGivesAnEmptyNumberSilently) {
  DecNumber empty, inFile, inMemory, copy;
  ConstructFileOnly(empty);
  ConstructFileOnly(inFile);
  AppendAll(inFile, Pattern(30));
  Construct(inMemory);
  AppendAll(inMemory, Pattern(30));
  const std::size_t mark = Mark();
  CopyConstruct(copy, empty);
  Assign(inFile, empty);
  Assign(inMemory, empty);
  EXPECT_EQ(copy.length + inFile.length + inMemory.length, 0u);
  EXPECT_EQ(TempFiles().size(), 1u);  // inFile's own
  EXPECT_TRUE(LoggedSince(mark).empty());
  for (DecNumber* n : {&copy, &inFile, &inMemory, &empty}) Destroy(*n);
}

// Neither a block nor the file can take the digits: the destination is left
// an empty number, never one that claims digits it does not hold.
TEST_F(DecNumberAssign, NoBlockAndNoWayIntoTheFileLeavesAConsistentEmptyNumber) {
  struct Case {
    Fault fault;
    Logged last;
  };
  // The log's own writes come first: the two records of the missing block.
  const Case cases[] = {
      {{Call::CreateFile, 1, false, kFailCode}, {"CreateFile() function fail", kFailCode}},
      {{Call::WriteFile, 3, false, kFailCode}, {"WriteFile() function fail", kFailCode}},
      {{Call::WriteFile, 3, false, kFailCode, 50}, {"WriteFile() function fail", kAnyCode}},
  };
  DecNumber source;
  Construct(source);
  AppendAll(source, Pattern(99));
  for (const Case& c : cases) {
    DecNumber destination;
    ConstructFileOnly(destination);
    const std::size_t mark = Mark();
    {
      BlockHog hog(LargeBlock);
      FaultInjector faults;
      faults.Arm(c.fault);
      Assign(destination, source);
    }
    EXPECT_EQ(LoggedSince(mark), (Log{{"LocalAlloc() function fail 2", 0},
                                      {"LocalAlloc() funcion fail 3", 0},
                                      c.last}));
    EXPECT_EQ(destination.inMemory, 0);
    EXPECT_EQ(destination.block, nullptr);
    EXPECT_EQ(destination.length, 0u);
    Bytes window(100, 7);
    EXPECT_EQ(ReadDigits(destination, 0, 99, window.data()), 0);
    EXPECT_EQ(window, Bytes(100, 0));
    Destroy(destination);
  }
  Destroy(source);
}

// ---------------------------------------------------------------------------
// CreateTempFile: names, reseeding, exclusive creation and reopening.

using DecNumberTempFile = NumberTest;

constexpr std::int64_t kFixedTime = 1700000000;
std::vector<unsigned> seeds;
void RecordSeed(unsigned seed) {
  seeds.push_back(seed);
  platform::RealCalls().srand(seed);
}

TEST_F(DecNumberTempFile, CreatesAFiveDigitNameAndKeepsTheFileItHasOpen) {
  DecNumber n;
  ConstructFileOnly(n);
  ASSERT_EQ(CreateTempFile(n), 0);
  const std::string name = Narrow(n.fileName);
  ASSERT_EQ(name.size(), 12u);
  EXPECT_EQ(name.substr(0, 4), "Temp");
  EXPECT_EQ(name.substr(9), ".by");
  EXPECT_EQ(name.substr(4, 5).find_first_not_of("0123456789"),
            std::string::npos);
  EXPECT_EQ(TempFiles(), std::vector<std::string>{name});
  EXPECT_TRUE(FileBytes(n).empty());

  // A file already open is kept as it is.
  const platform::FileHandle handle = n.file;
  {
    FaultInjector faults;
    EXPECT_EQ(CreateTempFile(n), 0);
    EXPECT_EQ(faults.Count(Call::CreateFile), 0u);
  }
  EXPECT_EQ(n.file, handle);
  EXPECT_EQ(Narrow(n.fileName), name);
  Destroy(n);
}

TEST_F(DecNumberTempFile, TwoFilesInTheSameSecondTakeConsecutiveNamesOfOneSequence) {
  TableEntry<std::int64_t (*)()> clock(platform::calls.time,
                                       [] { return kFixedTime; });
  TableEntry<void (*)(unsigned)> srand(platform::calls.srand, RecordSeed);
  platform::Srand(static_cast<unsigned>(kFixedTime));
  const int first = platform::Rand();
  const int second = platform::Rand();
  ASSERT_NE(first, second);
  seeds.clear();

  DecNumber a, b;
  ConstructFileOnly(a);
  ConstructFileOnly(b);
  const std::size_t mark = Mark();
  FaultInjector faults;
  ASSERT_EQ(CreateTempFile(a), 0);
  EXPECT_EQ(a.fileName, TempName(first));
  EXPECT_EQ(faults.Count(Call::CreateFile), 2u);  // create, reopen

  ASSERT_EQ(CreateTempFile(b), 0);
  EXPECT_EQ(b.fileName, TempName(second));
  // Reseeded: met the first name, then created and reopened the next.
  EXPECT_EQ(faults.Count(Call::CreateFile), 5u);
  EXPECT_EQ(seeds, (std::vector<unsigned>{static_cast<unsigned>(kFixedTime),
                                          static_cast<unsigned>(kFixedTime)}));
  EXPECT_EQ(TempFiles().size(), 2u);
  EXPECT_TRUE(LoggedSince(mark).empty());

  Destroy(a);
  Destroy(b);
}

// A name found taken stays in fileName, but the file behind it is someone
// else's: neither Destroy nor a copy of the number may touch it.
TEST_F(DecNumberTempFile, HundredTakenNamesGiveUpAndLeaveTheOwnersFileAlone) {
  {
    std::ofstream stranger("Temp00042.by", std::ios::binary);
    stranger << "someone else's";
  }
  DecNumber n;
  ConstructFileOnly(n);
  const std::size_t mark = Mark();
  {
    TableEntry<int (*)()> rand(platform::calls.rand, [] { return 42; });
    FaultInjector faults;
    EXPECT_EQ(CreateTempFile(n), 1);
    EXPECT_EQ(faults.Count(Call::CreateFile), 100u);
  }
  EXPECT_TRUE(LoggedSince(mark).empty());
  EXPECT_EQ(n.file, platform::kInvalidFile);
  EXPECT_EQ(n.fileName, L"Temp00042.by");

  // Empty, its copy is empty too and needs no file.
  DecNumber copy;
  CopyConstruct(copy, n);
  EXPECT_TRUE(LoggedSince(mark).empty());
  EXPECT_EQ(copy.file, platform::kInvalidFile);

  Destroy(copy);
  Destroy(n);
  EXPECT_EQ(testsupport::ReadBytes(scratch_.path() / "Temp00042.by"),
            "someone else's");
  std::filesystem::remove(scratch_.path() / "Temp00042.by");
}

TEST_F(DecNumberTempFile, OtherCreationErrorIsRecordedWithItsCode) {
  DecNumber n;
  ConstructFileOnly(n);
  const std::size_t mark = Mark();
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::CreateFile, 1, false, kFailCode});
    EXPECT_EQ(CreateTempFile(n), 1);
    EXPECT_EQ(faults.Count(Call::CreateFile), 1u);
  }
  EXPECT_EQ(LoggedSince(mark), (Log{{"CreateFile() function fail", kFailCode}}));
  EXPECT_EQ(n.file, platform::kInvalidFile);
  EXPECT_TRUE(TempFiles().empty());
  Destroy(n);
}

TEST_F(DecNumberTempFile, FailedReopeningRemovesTheFileItCreated) {
  DecNumber n;
  ConstructFileOnly(n);
  const std::size_t mark = Mark();
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::CreateFile, 2, false, kFailCode});
    EXPECT_EQ(CreateTempFile(n), 1);
    EXPECT_EQ(faults.Count(Call::DeleteFile), 1u);
  }
  EXPECT_TRUE(LoggedSince(mark).empty());
  EXPECT_EQ(n.file, platform::kInvalidFile);
  EXPECT_TRUE(n.fileName.empty());
  EXPECT_TRUE(TempFiles().empty());

  // The number goes on without a file: an append that cannot make one
  // fails with the creation's record alone, and Destroy has nothing to end.
  const Bytes digits = Pattern(10);
  FaultInjector faults;
  faults.Arm(Fault{Call::CreateFile, 1, false, kFailCode});
  EXPECT_EQ(AppendDigits(n, 0, 9, digits.data()), 1);
  EXPECT_EQ(LoggedSince(mark), (Log{{"CreateFile() function fail", kFailCode}}));
  EXPECT_EQ(n.length, 0u);
  Destroy(n);
  EXPECT_EQ(faults.Count(Call::CloseHandle), 0u);
  EXPECT_EQ(faults.Count(Call::DeleteFile), 0u);
}

}  // namespace
}  // namespace storetest
