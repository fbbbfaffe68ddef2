#include "store/work_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/log/log_test_support.h"
#include "tests/store/number_fixture.h"

namespace storetest {
namespace {

using testsupport::PoolScope;

using Counters = std::vector<std::uint8_t>;
Counters Snapshot() {
  return Counters(std::begin(workPool.useCount), std::end(workPool.useCount));
}

bool AllZero(const Digit* block, std::size_t bytes) {
  return std::all_of(block, block + bytes, [](Digit d) { return d == 0; });
}

Digit* LargeAt(std::uint32_t k) { return workPool.end - kLargeBlockBytes * k; }
Digit* SmallAt(std::uint32_t i) { return workPool.base + kSmallBlockBytes * i; }

std::vector<Digit*> TakeAll(int kind, std::uint32_t count) {
  std::vector<Digit*> blocks;
  for (std::uint32_t i = 0; i < count; ++i) blocks.push_back(TakeBlock(kind));
  return blocks;
}
void GiveBackAll(const std::vector<Digit*>& blocks, int kind) {
  for (Digit* block : blocks) GiveBackBlock(block, kind);
}

using WorkPoolTest = NumberTest;

TEST_F(WorkPoolTest, SmallBlocksGoLowestAddressFirstFitUntilNoneIsLeft) {
  const std::vector<Digit*> blocks = TakeAll(SmallBlock, kSmallBlockCount);
  for (std::uint32_t i = 0; i < kSmallBlockCount; ++i) {
    EXPECT_EQ(blocks[i], SmallAt(i)) << i;
  }
  EXPECT_EQ(TakeBlock(SmallBlock), nullptr);
  EXPECT_EQ(LoggedSince(0), (Log{{"LocalAlloc() function fail 1", 0}}));

  // Given back, a block comes back first fit, cleared of what it held.
  std::memset(blocks[3], 9, kSmallBlockBytes);
  GiveBackBlock(blocks[7], SmallBlock);
  GiveBackBlock(blocks[3], SmallBlock);
  EXPECT_EQ(TakeBlock(SmallBlock), SmallAt(3));
  EXPECT_TRUE(AllZero(blocks[3], kSmallBlockBytes));
  EXPECT_EQ(TakeBlock(SmallBlock), SmallAt(7));
  EXPECT_EQ(log_.Messages().size(), 1u);
  GiveBackAll(blocks, SmallBlock);
}

TEST_F(WorkPoolTest, LargeBlocksGoHighestAddressFirstUntilNoneIsLeft) {
  const std::vector<Digit*> blocks = TakeAll(LargeBlock, kLargeBlockCount);
  EXPECT_EQ(blocks[0], workPool.end - 10000);
  EXPECT_EQ(blocks[1], workPool.end - 20000);
  EXPECT_EQ(blocks[19], workPool.base + 3000);
  EXPECT_EQ(workPool.useCount[49], 1);  // LargeBlock 1
  EXPECT_EQ(workPool.useCount[30], 1);  // LargeBlock 20
  EXPECT_EQ(PoolScope::Held(SmallBlock), 0u);

  EXPECT_EQ(TakeBlock(LargeBlock), nullptr);
  EXPECT_EQ(LoggedSince(0), (Log{{"LocalAlloc() function fail 2", 0}}));
  // Given back, the bytes are left alone; only the next take clears them.
  std::memset(blocks[5], 7, kLargeBlockBytes);
  GiveBackBlock(blocks[5], LargeBlock);
  EXPECT_EQ(blocks[5][kLargeBlockBytes - 1], 7);
  EXPECT_EQ(TakeBlock(LargeBlock), LargeAt(6));
  EXPECT_TRUE(AllZero(blocks[5], kLargeBlockBytes));
  GiveBackAll(blocks, LargeBlock);
}

TEST_F(WorkPoolTest, ASharedLargeBlockIsFreeAfterItsLastHolderGivesItBack) {
  Digit* block = TakeBlock(LargeBlock);
  ShareLargeBlock(block);
  GiveBackBlock(block, LargeBlock);
  EXPECT_EQ(PoolScope::Held(LargeBlock), 1u);
  Digit* other = TakeBlock(LargeBlock);
  EXPECT_NE(other, block);
  GiveBackBlock(other, LargeBlock);

  GiveBackBlock(block, LargeBlock);
  EXPECT_EQ(PoolScope::Held(LargeBlock), 0u);
  EXPECT_EQ(TakeBlock(LargeBlock), block);
  GiveBackBlock(block, LargeBlock);
}

// Calls naming no held block of the kind: unknown kinds, null, addresses
// outside the pool, inside a block or of the other kind, and free blocks.
TEST_F(WorkPoolTest, CallsThatNameNoHeldBlockChangeNothing) {
  const std::vector<Digit*> small = TakeAll(SmallBlock, kSmallBlockCount);
  const std::vector<Digit*> large = TakeAll(LargeBlock, kLargeBlockCount);
  const Counters before = Snapshot();
  Digit outside[16] = {};
  for (Digit* address : {static_cast<Digit*>(nullptr), outside, small[0] + 50,
                         large[0] + 1, workPool.end}) {
    GiveBackBlock(address, SmallBlock);
    GiveBackBlock(address, LargeBlock);
    ShareLargeBlock(address);
  }
  GiveBackBlock(small[0], LargeBlock);
  GiveBackBlock(large[0], SmallBlock);
  ShareLargeBlock(small[0]);
  GiveBackBlock(small[0], 2);
  GiveBackBlock(large[0], -1);
  EXPECT_EQ(Snapshot(), before);

  GiveBackAll(small, SmallBlock);
  GiveBackAll(large, LargeBlock);
  const Counters none = Snapshot();
  GiveBackBlock(small[0], SmallBlock);
  GiveBackBlock(large[0], LargeBlock);
  ShareLargeBlock(large[0]);
  EXPECT_EQ(TakeBlock(2), nullptr);
  EXPECT_EQ(TakeBlock(-1), nullptr);
  EXPECT_EQ(Snapshot(), none);
  EXPECT_TRUE(log_.Messages().empty());
}

// Counts up to 254 are exact; past that a block's holders can no longer be
// counted, and it must never be handed out again while one may still use it.
TEST(WorkPoolLimitsTest, ABlockSharedPastTheCounterStaysHeldForGood) {
  InitWorkPool();
  ASSERT_EQ(workPool.ready, 1);
  Digit* block = TakeBlock(LargeBlock);
  for (int i = 0; i < 253; ++i) ShareLargeBlock(block);
  EXPECT_EQ(workPool.useCount[49], 254);
  for (int i = 0; i < 254; ++i) GiveBackBlock(block, LargeBlock);
  EXPECT_EQ(workPool.useCount[49], 0);

  ASSERT_EQ(TakeBlock(LargeBlock), block);
  for (int i = 0; i < 300; ++i) ShareLargeBlock(block);
  EXPECT_EQ(workPool.useCount[49], 255);
  for (int i = 0; i < 400; ++i) GiveBackBlock(block, LargeBlock);
  EXPECT_EQ(workPool.useCount[49], 255);
  EXPECT_EQ(TakeBlock(LargeBlock), LargeAt(2));
  // The neighbours' counters are untouched.
  EXPECT_EQ(workPool.useCount[48], 1);
  EXPECT_EQ(workPool.useCount[29], 0);
  FreeWorkPool();
  workPool = WorkPool{};
}

// --- Start-up and release ----------------------------------------------------

struct AllocCall {
  std::uint32_t flags;
  std::size_t bytes;
};
std::vector<AllocCall> allocCalls;
void* RecordAlloc(std::uint32_t flags, std::size_t bytes) {
  allocCalls.push_back({flags, bytes});
  return platform::RealCalls().localAlloc(flags, bytes);
}

TEST(WorkPoolStartTest, ThePoolIsOneZeroFilledAllocationReleasedOnce) {
  logtest::CallsGuard guard;
  allocCalls.clear();
  platform::calls.localAlloc = &RecordAlloc;
  FaultInjector faults;
  InitWorkPool();
  ASSERT_EQ(allocCalls.size(), 1u);
  EXPECT_EQ(allocCalls[0].flags, platform::kAllocZeroInit);
  EXPECT_EQ(allocCalls[0].bytes, 203000u);
  EXPECT_EQ(workPool.size, 203000u);
  EXPECT_EQ(workPool.ready, 1);
  EXPECT_TRUE(AllZero(workPool.base, workPool.size));

  // Starting again does not leak the first pool; releasing twice frees once.
  InitWorkPool();
  EXPECT_EQ(faults.Count(Call::LocalAlloc), 2u);
  EXPECT_EQ(faults.Count(Call::LocalFree), 1u);
  EXPECT_EQ(workPool.ready, 1);
  FreeWorkPool();
  FreeWorkPool();
  EXPECT_EQ(faults.Count(Call::LocalFree), 2u);
  EXPECT_EQ(workPool.ready, 0);
  EXPECT_EQ(workPool.base, nullptr);
  workPool = WorkPool{};
}

TEST(WorkPoolStartTest, AFailedAllocationLeavesThePoolNotReadyAndUsable) {
  testsupport::ScratchDir scratch;
  // While the log is not open the record is lost, and nothing is written.
  ASSERT_EQ(logFile.handle, platform::kNullFile);
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::LocalAlloc, 1, false, 8, -1});
    InitWorkPool();
    EXPECT_EQ(workPool.ready, 0);
    EXPECT_EQ(faults.Count(Call::WriteFile), 0u);
  }
  testsupport::LogCapture log;
  {
    FaultInjector faults;
    faults.Arm(Fault{Call::LocalAlloc, 1, false, 8, -1});
    InitWorkPool();
  }
  EXPECT_EQ(workPool.ready, 0);
  EXPECT_EQ(workPool.base, nullptr);
  EXPECT_EQ(workPool.end, nullptr);
  EXPECT_EQ(log.Messages(),
            std::vector<std::string>{"LocalAlloc() function fail 0"});
  EXPECT_EQ(log.Records()[0].comCode, 0u);
  EXPECT_EQ(log.Records()[0].externalCode, 1u);

  // Nothing is handed out from memory that does not exist, and nothing
  // crashes.
  EXPECT_EQ(TakeBlock(SmallBlock), nullptr);
  EXPECT_EQ(TakeBlock(LargeBlock), nullptr);
  Digit stray[4] = {};
  GiveBackBlock(stray, SmallBlock);
  ShareLargeBlock(stray);
  EXPECT_EQ(PoolScope::Held(SmallBlock) + PoolScope::Held(LargeBlock), 0u);
  FaultInjector faults;
  FreeWorkPool();
  EXPECT_EQ(faults.Count(Call::LocalFree), 0u);
  workPool = WorkPool{};
}

}  // namespace
}  // namespace storetest
