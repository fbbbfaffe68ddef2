#include "store/work_pool.h"

#include <cstring>

#include "log/log.h"
#include "platform/platform.h"

WorkPool workPool;

namespace {

constexpr std::uint32_t kCounterCount = kSmallBlockCount + kLargeBlockCount;
// Past this a counter no longer counts: the block stays held until exit
// rather than being handed out again while a holder may still use it.
constexpr std::uint8_t kPinned = 0xFF;

// LargeBlock k (1 ... 20) has the counter 50 - k.
constexpr std::uint32_t LargeCounter(std::uint32_t k) {
  return kCounterCount - k;
}

Digit* SmallAddress(std::uint32_t i) {
  return workPool.base + kSmallBlockBytes * i;
}

Digit* LargeAddress(std::uint32_t k) {
  return workPool.end - kLargeBlockBytes * k;
}

// The counter of the block of `kind` that starts at `address`, or null when
// no block of that kind starts there. Works on integers so that a stray
// pointer is never compared with the pool's own.
std::uint8_t* CounterOf(const Digit* address, int kind) {
  if (address == nullptr || workPool.base == nullptr) return nullptr;
  const auto at = reinterpret_cast<std::uintptr_t>(address);
  const auto base = reinterpret_cast<std::uintptr_t>(workPool.base);
  const auto end = reinterpret_cast<std::uintptr_t>(workPool.end);
  if (kind == SmallBlock) {
    if (at < base) return nullptr;
    const std::uintptr_t offset = at - base;
    if (offset % kSmallBlockBytes != 0) return nullptr;
    const std::uintptr_t i = offset / kSmallBlockBytes;
    if (i >= kSmallBlockCount) return nullptr;
    return &workPool.useCount[i];
  }
  if (kind == LargeBlock) {
    if (at >= end) return nullptr;
    const std::uintptr_t offset = end - at;
    if (offset % kLargeBlockBytes != 0) return nullptr;
    const std::uintptr_t k = offset / kLargeBlockBytes;
    if (k < 1 || k > kLargeBlockCount) return nullptr;
    return &workPool.useCount[LargeCounter(static_cast<std::uint32_t>(k))];
  }
  return nullptr;
}

}  // namespace

void InitWorkPool() {
  // A second start must not leak the first pool.
  FreeWorkPool();
  std::memset(workPool.useCount, 0, sizeof workPool.useCount);
  workPool.ready = 0;
  workPool.size = kWorkPoolBytes;
  workPool.base = static_cast<Digit*>(
      platform::LocalAlloc(platform::kAllocZeroInit, workPool.size));
  if (workPool.base == nullptr) {
    WriteLog(L"LocalAlloc() function fail 0", 0, 1);
    return;
  }
  workPool.end = workPool.base + workPool.size;
  workPool.ready = 1;
}

void FreeWorkPool() {
  if (workPool.base == nullptr) return;
  platform::LocalFree(workPool.base);
  // Nothing may take a block from released memory, nor release it twice.
  workPool.base = nullptr;
  workPool.end = nullptr;
  workPool.ready = 0;
}

Digit* TakeBlock(int kind) {
  if (kind == SmallBlock) {
    if (workPool.base != nullptr) {
      for (std::uint32_t i = 0; i < kSmallBlockCount; ++i) {
        if (workPool.useCount[i] != 0) continue;
        workPool.useCount[i] = 1;
        Digit* block = SmallAddress(i);
        std::memset(block, 0, kSmallBlockBytes);
        return block;
      }
    }
    WriteLog(L"LocalAlloc() function fail 1", 0, 1);
    return nullptr;
  }
  if (kind == LargeBlock) {
    if (workPool.base != nullptr) {
      for (std::uint32_t k = 1; k <= kLargeBlockCount; ++k) {
        if (workPool.useCount[LargeCounter(k)] != 0) continue;
        workPool.useCount[LargeCounter(k)] = 1;
        Digit* block = LargeAddress(k);
        std::memset(block, 0, kLargeBlockBytes);
        return block;
      }
    }
    WriteLog(L"LocalAlloc() function fail 2", 0, 1);
    return nullptr;
  }
  return nullptr;
}

void GiveBackBlock(Digit* address, int kind) {
  std::uint8_t* counter = CounterOf(address, kind);
  // A free block has nobody left to give it back, and a pinned one has lost
  // count of its holders: either way the counter stays as it is.
  if (counter == nullptr || *counter == 0 || *counter == kPinned) return;
  --*counter;
}

void ShareLargeBlock(Digit* address) {
  std::uint8_t* counter = CounterOf(address, LargeBlock);
  // Only a held block has a holder to share it with.
  if (counter == nullptr || *counter == 0 || *counter == kPinned) return;
  ++*counter;
}
