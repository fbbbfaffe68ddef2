// The fixed work pool: 30 SmallBlocks of 100 bytes and 20 LargeBlocks of
// 10000 bytes carved from one allocation made at start-up.
#pragma once

#include <cstdint>

#include "store/digit.h"

enum BlockKind : int { SmallBlock = 0, LargeBlock = 1 };

inline constexpr std::uint32_t kSmallBlockCount = 30;
inline constexpr std::uint32_t kSmallBlockBytes = 100;
inline constexpr std::uint32_t kLargeBlockCount = 20;
inline constexpr std::uint32_t kLargeBlockBytes = 10000;
inline constexpr std::uint32_t kWorkPoolBytes =
    kSmallBlockCount * kSmallBlockBytes + kLargeBlockCount * kLargeBlockBytes;

struct WorkPool {
  Digit* base = nullptr;
  Digit* end = nullptr;
  std::uint32_t size = 0;
  // Entries 0..29 count SmallBlocks 0..29; entry 50 - k counts LargeBlock k.
  std::uint8_t useCount[kSmallBlockCount + kLargeBlockCount] = {};
  std::uint8_t ready = 0;
};

extern WorkPool workPool;

// Allocates the pool (zero-filled). On failure writes "LocalAlloc() function
// fail 0" and leaves `ready` 0.
void InitWorkPool();
// Releases the pool memory if it was obtained.
void FreeWorkPool();

// A zero-filled block of the kind, or null (with the pool's record for a
// known kind that has none free).
Digit* TakeBlock(int kind);
void GiveBackBlock(Digit* address, int kind);
void ShareLargeBlock(Digit* address);
