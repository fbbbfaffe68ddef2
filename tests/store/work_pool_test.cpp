#include "store/work_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/log/log_test_support.h"
#include "tests/support/fixtures.h"

namespace {

using platform::Call;
using platform::Fault;
using platform::FaultInjector;
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

class WorkPoolTest : public ::testing::Test {
 protected:
  testsupport::ScratchDir scratch_;
  testsupport::LogCapture log_;
  PoolScope pool_;

  std::vector<Digit*> TakeAll(int kind, std::uint32_t count) {
    std::vector<Digit*> blocks;
    for (std::uint32_t i = 0; i < count; ++i) blocks.push_back(TakeBlock(kind));
    return blocks;
  }
  void GiveBackAll(const std::vector<Digit*>& blocks, int kind) {
    for (Digit* block : blocks) GiveBackBlock(block, kind);
  }
};

TEST_F(WorkPoolTest, AFreshPoolIsOneZeroFilledRegionWithEveryBlockFree) {
  EXPECT_EQ(workPool.size, 203000u);
  EXPECT_EQ(workPool.end, workPool.base + 203000);
  EXPECT_EQ(PoolScope::Held(SmallBlock), 0u);
  EXPECT_EQ(PoolScope::Held(LargeBlock), 0u);
  EXPECT_TRUE(log_.Messages().empty());
}

TEST_F(WorkPoolTest, SmallBlocksGoLowestAddressFirstUntilNoneIsLeft) {
  const std::vector<Digit*> blocks = TakeAll(SmallBlock, kSmallBlockCount);
  for (std::uint32_t i = 0; i < kSmallBlockCount; ++i) {
    EXPECT_EQ(blocks[i], SmallAt(i)) << i;
  }
  EXPECT_EQ(TakeBlock(SmallBlock), nullptr);
  EXPECT_EQ(log_.Messages(),
            std::vector<std::string>{"LocalAlloc() function fail 1"});
  const std::vector<LogRecord> records = log_.Records();
  EXPECT_EQ(records[0].comCode, 0u);
  EXPECT_EQ(records[0].externalCode, 1u);

  // The one given back comes back, cleared of what it held.
  std::memset(blocks[12], 9, kSmallBlockBytes);
  GiveBackBlock(blocks[12], SmallBlock);
  Digit* again = TakeBlock(SmallBlock);
  EXPECT_EQ(again, blocks[12]);
  EXPECT_TRUE(AllZero(again, kSmallBlockBytes));
  EXPECT_EQ(log_.Messages().size(), 1u);
  GiveBackAll(blocks, SmallBlock);
}

TEST_F(WorkPoolTest, ASmallTakeIsFirstFit) {
  const std::vector<Digit*> blocks = TakeAll(SmallBlock, kSmallBlockCount);
  GiveBackBlock(blocks[7], SmallBlock);
  GiveBackBlock(blocks[3], SmallBlock);
  EXPECT_EQ(TakeBlock(SmallBlock), SmallAt(3));
  EXPECT_EQ(TakeBlock(SmallBlock), SmallAt(7));
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
  EXPECT_EQ(log_.Messages(),
            std::vector<std::string>{"LocalAlloc() function fail 2"});
  GiveBackBlock(blocks[5], LargeBlock);
  EXPECT_EQ(TakeBlock(LargeBlock), LargeAt(6));
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

TEST_F(WorkPoolTest, GivenBackBlocksComeBackZeroFilled) {
  Digit* large = TakeBlock(LargeBlock);
  std::memset(large, 7, kLargeBlockBytes);
  GiveBackBlock(large, LargeBlock);
  // Given back, the bytes are left alone; only the next take clears them.
  EXPECT_EQ(large[kLargeBlockBytes - 1], 7);
  Digit* again = TakeBlock(LargeBlock);
  ASSERT_EQ(again, large);
  EXPECT_TRUE(AllZero(again, kLargeBlockBytes));
  GiveBackBlock(again, LargeBlock);
}

TEST_F(WorkPoolTest, UnknownKindsAndNullAddressesChangeNothing) {
  Digit* small = TakeBlock(SmallBlock);
  Digit* large = TakeBlock(LargeBlock);
  const Counters before = Snapshot();
  GiveBackBlock(nullptr, SmallBlock);
  GiveBackBlock(nullptr, LargeBlock);
  GiveBackBlock(small, 2);
  GiveBackBlock(large, -1);
  ShareLargeBlock(nullptr);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(TakeBlock(2), nullptr);
  EXPECT_EQ(TakeBlock(-1), nullptr);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_TRUE(log_.Messages().empty());
  GiveBackBlock(small, SmallBlock);
  GiveBackBlock(large, LargeBlock);
}

TEST_F(WorkPoolTest, AddressesThatStartNoBlockOfTheKindChangeNothing) {
  const std::vector<Digit*> small = TakeAll(SmallBlock, kSmallBlockCount);
  const std::vector<Digit*> large = TakeAll(LargeBlock, kLargeBlockCount);
  const Counters before = Snapshot();
  Digit outside[16] = {};
  GiveBackBlock(outside, SmallBlock);
  GiveBackBlock(outside, LargeBlock);
  GiveBackBlock(small[0] + 50, SmallBlock);  // inside a block
  GiveBackBlock(large[0] + 1, LargeBlock);
  GiveBackBlock(small[0], LargeBlock);  // a block of the other kind
  GiveBackBlock(large[0], SmallBlock);
  GiveBackBlock(workPool.end, LargeBlock);
  ShareLargeBlock(small[0]);
  ShareLargeBlock(large[0] + 1);
  EXPECT_EQ(Snapshot(), before);
  GiveBackAll(small, SmallBlock);
  GiveBackAll(large, LargeBlock);
}

TEST_F(WorkPoolTest, AGiveBackOfAFreeBlockIsIgnored) {
  Digit* small = TakeBlock(SmallBlock);
  GiveBackBlock(small, SmallBlock);
  GiveBackBlock(small, SmallBlock);
  Digit* large = TakeBlock(LargeBlock);
  GiveBackBlock(large, LargeBlock);
  GiveBackBlock(large, LargeBlock);
  EXPECT_EQ(PoolScope::Held(SmallBlock), 0u);
  EXPECT_EQ(PoolScope::Held(LargeBlock), 0u);
  // The blocks are still the first ones handed out, once each.
  EXPECT_EQ(TakeBlock(SmallBlock), small);
  EXPECT_EQ(TakeBlock(SmallBlock), SmallAt(1));
  EXPECT_EQ(TakeBlock(LargeBlock), large);
  GiveBackBlock(small, SmallBlock);
  GiveBackBlock(SmallAt(1), SmallBlock);
  GiveBackBlock(large, LargeBlock);
}

TEST_F(WorkPoolTest, SharingAFreeBlockIsIgnored) {
  ShareLargeBlock(LargeAt(1));
  EXPECT_EQ(PoolScope::Held(LargeBlock), 0u);
  Digit* block = TakeBlock(LargeBlock);
  EXPECT_EQ(block, LargeAt(1));
  GiveBackBlock(block, LargeBlock);
  EXPECT_EQ(PoolScope::Held(LargeBlock), 0u);
}

// A block whose holders can no longer be counted must never be handed out
// again while one of them may still use it.
TEST(WorkPoolLimitsTest, ABlockSharedPastTheCounterStaysHeldForGood) {
  InitWorkPool();
  ASSERT_EQ(workPool.ready, 1);
  Digit* block = TakeBlock(LargeBlock);
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

TEST(WorkPoolLimitsTest, CountsBelowTheLimitAreExact) {
  InitWorkPool();
  Digit* block = TakeBlock(LargeBlock);
  for (int i = 0; i < 253; ++i) ShareLargeBlock(block);
  EXPECT_EQ(workPool.useCount[49], 254);
  for (int i = 0; i < 254; ++i) GiveBackBlock(block, LargeBlock);
  EXPECT_EQ(workPool.useCount[49], 0);
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

TEST(WorkPoolStartTest, ThePoolIsOneZeroFilledAllocation) {
  logtest::CallsGuard guard;
  allocCalls.clear();
  platform::calls.localAlloc = &RecordAlloc;
  InitWorkPool();
  ASSERT_EQ(allocCalls.size(), 1u);
  EXPECT_EQ(allocCalls[0].flags, platform::kAllocZeroInit);
  EXPECT_EQ(allocCalls[0].bytes, 203000u);
  EXPECT_EQ(workPool.ready, 1);
  EXPECT_TRUE(AllZero(workPool.base, workPool.size));
  FreeWorkPool();
  workPool = WorkPool{};
}

TEST(WorkPoolStartTest, AFailedAllocationLeavesThePoolNotReadyAndUsable) {
  testsupport::ScratchDir scratch;
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
  const std::vector<LogRecord> records = log.Records();
  EXPECT_EQ(records[0].comCode, 0u);
  EXPECT_EQ(records[0].externalCode, 1u);

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

TEST(WorkPoolStartTest, TheFailureRecordIsLostWhileTheLogIsNotOpen) {
  ASSERT_EQ(logFile.handle, platform::kNullFile);
  FaultInjector faults;
  faults.Arm(Fault{Call::LocalAlloc, 1, false, 8, -1});
  InitWorkPool();
  EXPECT_EQ(workPool.ready, 0);
  EXPECT_EQ(faults.Count(Call::WriteFile), 0u);
  workPool = WorkPool{};
}

TEST(WorkPoolStartTest, ThePoolIsReleasedOnceAndStartingAgainDoesNotLeak) {
  FaultInjector faults;
  InitWorkPool();
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

}  // namespace
