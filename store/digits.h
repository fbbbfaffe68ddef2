// Access to ranges of a number's digits, in memory or on file, and the
// reversal of its storage order. Ranges are inclusive digit indices
// (low, high); buffers hold the range in storage order.
#pragma once

#include <cstdint>

#include "store/dec_number.h"

// Digits moved at a time through a SmallBlock.
inline constexpr std::uint32_t kWindow = kSmallBlockBytes;

// Each returns 0 on success and 1 on failure.
int ReadDigits(const DecNumber& n, std::uint32_t low, std::uint32_t high,
               Digit* buffer);
// ReadDigits with the buffer in index order, most significant digit first,
// whatever the storage order.
int ReadInIndexOrder(const DecNumber& n, std::uint32_t low, std::uint32_t high,
                     Digit* buffer);
int WriteDigits(DecNumber& n, std::uint32_t low, std::uint32_t high,
                const Digit* buffer);
// Adds high - low + 1 buffer bytes at storage position `length`; spills the
// number into its temporary file when they pass its capacity.
int AppendDigits(DecNumber& n, std::uint32_t low, std::uint32_t high,
                 const Digit* buffer);
int ReverseDigits(DecNumber& n);
