#include "fft/fft_tables.h"

#include <cmath>
#include <cstddef>

#include "platform/platform.h"

FftTables fftTables;

namespace {

constexpr std::size_t kWorkBufferBytes =
    static_cast<std::size_t>(kMaxFftSize) * sizeof(FftComplex);
constexpr std::size_t kTwiddleBytes =
    static_cast<std::size_t>(kTwiddleCount) * sizeof(FftComplex);
static_assert(sizeof(FftComplex) == 16, "two doubles, no padding");
static_assert(kWorkBufferBytes == 2097152 && kTwiddleBytes == 1048576);

// pi / 65536: the double nearest to pi scaled by 2^-16, so exact. Entry k is
// e^(i*k*kAngleStep), the upper half circle in steps of 2*pi / 131072.
constexpr double kAngleStep = 4.7936899621426287e-05;
static_assert(kAngleStep == 3.141592653589793 / 65536.0);

void FreeIfHeld(FftComplex*& buffer) {
  if (buffer != nullptr) platform::LocalFree(buffer);
  buffer = nullptr;
}

}  // namespace

std::int32_t InitFftTables() {
  // A second set-up would leak the first one's buffers.
  if (fftTables.maxFftSize != 0) return 0;

  // All four are asked for before any is examined, so a failure of any one
  // of them is handled in one place.
  auto* spectrumA = static_cast<FftComplex*>(
      platform::LocalAlloc(platform::kAllocFixed, kWorkBufferBytes));
  auto* spectrumB = static_cast<FftComplex*>(
      platform::LocalAlloc(platform::kAllocFixed, kWorkBufferBytes));
  auto* twiddles = static_cast<FftComplex*>(
      platform::LocalAlloc(platform::kAllocFixed, kTwiddleBytes));
  auto* staging = static_cast<FftComplex*>(
      platform::LocalAlloc(platform::kAllocFixed, kWorkBufferBytes));
  fftTables.spectrumA = spectrumA;
  fftTables.spectrumB = spectrumB;
  fftTables.twiddleTable = twiddles;
  fftTables.stagingBuffer = staging;

  if (spectrumA == nullptr || spectrumB == nullptr || twiddles == nullptr ||
      staging == nullptr) {
    FreeIfHeld(fftTables.spectrumA);
    FreeIfHeld(fftTables.spectrumB);
    FreeIfHeld(fftTables.twiddleTable);
    FreeIfHeld(fftTables.stagingBuffer);
    fftTables.maxFftSize = 0;
    return 3;
  }

  for (std::int32_t k = 0; k < kTwiddleCount; ++k) {
    const double theta = static_cast<double>(k) * kAngleStep;
    twiddles[k].im = std::sin(theta);
    twiddles[k].re = std::cos(theta);
  }
  fftTables.maxFftSize = kMaxFftSize;
  return 0;
}

void FreeFftTables() {
  // The references are cleared and the size reset so that nothing can reach
  // freed memory, and a multiplication after release is refused.
  FreeIfHeld(fftTables.twiddleTable);
  FreeIfHeld(fftTables.spectrumA);
  FreeIfHeld(fftTables.spectrumB);
  FreeIfHeld(fftTables.stagingBuffer);
  fftTables.maxFftSize = 0;
}
