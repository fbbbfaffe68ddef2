#include "fft/fft_multiply.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

#include "fft/fft_transform.h"
#include "log/log.h"
#include "store/digits.h"

namespace {

// A product of two fixed-point numbers carries seven integer positions;
// dropping the top three restores the usual four.
constexpr std::uint32_t kSurplusIntegerPositions = 3;

struct RoundOffCheck {
  double largest = 0.0;
  bool recorded = false;
};
RoundOffCheck roundOff;

// The digits of spectrumA's inverse transform, with the round-off check: a
// value far from every integer means the transform went wrong on the way,
// most likely in the hardware. A NaN passes no comparison and counts too;
// once the largest, no later distance replaces it.
void ToCheckedDigits(std::int32_t n, Digit* out, std::int32_t m) {
  const double distance = SpectrumToDigits(n, out, m);
  if (std::isnan(distance) || distance > roundOff.largest) {
    roundOff.largest = distance;
  }
  if (!(distance <= kRoundOffLimit) && !roundOff.recorded) {
    roundOff.recorded = true;
    WriteLog(L"Error:FFT round-off error too large", 0, 1);
  }
}

// Smallest power of two that holds `positions` (at least 2), or 0 when that
// exceeds the tables, after writing the record. Counted in 64 bits so that
// no length can overflow the doubling.
std::int32_t ChooseTransformSize(std::int64_t positions) {
  std::int64_t n = 2;
  while (n < positions) n *= 2;
  if (n > fftTables.maxFftSize) {
    WriteLog(L"Error:FFT Size is too big in MulUseFFT", 0, 1);
    return 0;
  }
  return static_cast<std::int32_t>(n);
}

// Convolution positions to produce: the full count, lowered to maxOut.
std::int32_t OutputCount(std::int64_t positions, std::int32_t maxOut) {
  return static_cast<std::int32_t>(std::min<std::int64_t>(positions, maxOut));
}

// Copies digit indices 0..count-1 of x into dst, most significant first,
// wherever x keeps them. 0, or 1 when they could not be read.
int LoadMostSignificantFirst(const DecNumber& x, std::uint32_t count,
                             Digit* dst) {
  return count == 0 ? 0 : ReadInIndexOrder(x, 0, count - 1, dst);
}

// The digits a fixed-point product keeps of `positions` convolution
// positions: at most the capacity, and none when fewer than the three
// surplus positions would remain to drop.
std::uint32_t KeptPositions(std::int64_t positions, std::uint32_t capacity) {
  const std::int64_t kept = std::min<std::int64_t>(positions, capacity);
  return kept < static_cast<std::int64_t>(kSurplusIntegerPositions)
             ? 0
             : static_cast<std::uint32_t>(kept);
}

// Turns the most-significant-first convolution in r's block into a number:
// `kept` positions, the top three dropped, normal storage order.
void FinishProduct(DecNumber& r, std::uint32_t kept) {
  r.length = kept;
  r.digitOrder = MostSignificantFirst;
  ReverseDigits(r);
  r.length -= kSurplusIntegerPositions;
  r.digitOrder = LeastSignificantFirst;
}

// The same transforms as MulUseFFT when only the result's block is at
// hand: each operand is brought into the block just before it is
// transformed, and the product overwrites it.
int MultiplyThroughOneBlock(const DecNumber& a, std::uint32_t lenA,
                            const DecNumber& b, std::uint32_t lenB,
                            Digit* block, std::int32_t capacity) {
  const std::int64_t total = std::int64_t{lenA} + lenB;
  const std::int32_t n = ChooseTransformSize(total);
  if (n == 0) return 1;
  if (LoadMostSignificantFirst(a, lenA, block) != 0) return 1;
  DigitsToSpectrum(block, static_cast<std::int32_t>(lenA), n,
                   fftTables.spectrumA);
  if (LoadMostSignificantFirst(b, lenB, block) != 0) return 1;
  DigitsToSpectrum(block, static_cast<std::int32_t>(lenB), n,
                   fftTables.spectrumB);
  MultiplySpectra(fftTables.spectrumB, n);
  ToCheckedDigits(n, block, OutputCount(total - 1, capacity));
  return 0;
}

}  // namespace

double LargestRoundOff() { return roundOff.largest; }

void ResetRoundOffCheck() { roundOff = RoundOffCheck{}; }

int MulUseFFT(const Digit* a, std::int32_t lenA, const Digit* b,
              std::int32_t lenB, Digit* out, std::int32_t maxOut) {
  assert(lenA >= 0 && lenB >= 0);
  const std::int64_t total = std::int64_t{lenA} + lenB;
  const std::int32_t n = ChooseTransformSize(total);
  if (n == 0) return 1;
  // Both operands are in the spectra before the first output digit is
  // written, so out may be either of them.
  DigitsToSpectrum(a, lenA, n, fftTables.spectrumA);
  DigitsToSpectrum(b, lenB, n, fftTables.spectrumB);
  MultiplySpectra(fftTables.spectrumB, n);
  ToCheckedDigits(n, out, OutputCount(total - 1, maxOut));
  return 0;
}

int SquareUseFFT(const Digit* a, std::int32_t len, Digit* out,
                 std::int32_t maxOut) {
  assert(len >= 0);
  const std::int64_t total = 2 * std::int64_t{len};
  const std::int32_t n = ChooseTransformSize(total);
  if (n == 0) return 1;
  DigitsToSpectrum(a, len, n, fftTables.spectrumA);
  MultiplySpectra(fftTables.spectrumA, n);
  ToCheckedDigits(n, out, OutputCount(total - 1, maxOut));
  return 0;
}

// Without a block for the product, or when the operands cannot be read or
// the transform is refused, the result is the empty number: the failure has
// been recorded where it happened. Operands are read wherever they live, so
// digits in a temporary file multiply like digits in memory; only their
// first `capacity` digits can reach the kept positions.
ScopedNumber MultiplyNumbers(const DecNumber& a, const DecNumber& b) {
  ScopedNumber r;
  if (r->block == nullptr) return r;
  const std::uint32_t capacity = r->capacity;
  const std::int64_t positions = std::int64_t{a.length} + b.length - 1;
  const std::uint32_t kept = KeptPositions(positions, capacity);
  if (kept == 0) return r;
  const std::uint32_t lenA = std::min(a.length, capacity);
  const std::uint32_t lenB = std::min(b.length, capacity);
  const auto maxOut = static_cast<std::int32_t>(capacity);

  // The second operand gets a block of its own when one is free; otherwise
  // both pass through the result's block in turn.
  ScopedNumber w;
  int status = 0;
  if (w->block != nullptr) {
    if (LoadMostSignificantFirst(a, lenA, r->block) != 0 ||
        LoadMostSignificantFirst(b, lenB, w->block) != 0) {
      return r;
    }
    status = MulUseFFT(r->block, static_cast<std::int32_t>(lenA), w->block,
                       static_cast<std::int32_t>(lenB), r->block, maxOut);
  } else {
    status = MultiplyThroughOneBlock(a, lenA, b, lenB, r->block, maxOut);
  }
  if (status != 0) return r;

  // An empty operand times one longer than the block leaves the last kept
  // position unwritten; the product is zero there.
  const std::int64_t written =
      std::min<std::int64_t>(std::int64_t{lenA} + lenB - 1, capacity);
  if (written < kept) {
    std::memset(r->block + written, 0, kept - written);
  }
  FinishProduct(*r, kept);
  return r;
}

ScopedNumber SquareNumber(const DecNumber& x) {
  ScopedNumber r;
  if (r->block == nullptr) return r;
  const std::uint32_t capacity = r->capacity;
  const std::uint32_t kept =
      KeptPositions(2 * std::int64_t{x.length} - 1, capacity);
  if (kept == 0) return r;
  const std::uint32_t len = std::min(x.length, capacity);
  if (LoadMostSignificantFirst(x, len, r->block) != 0 ||
      SquareUseFFT(r->block, static_cast<std::int32_t>(len), r->block,
                   static_cast<std::int32_t>(capacity)) != 0) {
    return r;
  }
  FinishProduct(*r, kept);
  return r;
}
