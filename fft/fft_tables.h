// Memory and roots of unity of the FFT multiplication, obtained once per run.
#pragma once

#include <cstdint>

struct FftComplex {
  double re;
  double im;
};

inline constexpr std::int32_t kMaxFftSize = 131072;
inline constexpr std::int32_t kTwiddleCount = 65536;

struct FftTables {
  FftComplex* spectrumA = nullptr;
  FftComplex* spectrumB = nullptr;
  FftComplex* twiddleTable = nullptr;
  FftComplex* stagingBuffer = nullptr;
  std::int32_t maxFftSize = 0;
};

extern FftTables fftTables;

// Obtains the four buffers and fills the twiddle table: 0, or 3 when memory
// was not obtained (nothing is then held).
std::int32_t InitFftTables();
// Returns the buffers to the platform, each only if present, in the order
// twiddleTable, spectrumA, spectrumB, stagingBuffer.
void FreeFftTables();

// Sine and cosine of 0 <= theta < pi, each the double nearest the true
// value, from double-double arithmetic alone. Fills the twiddle table where
// the runtime's own sin and cos are not that accurate.
void CorrectlyRoundedSinCos(double theta, double& sine, double& cosine);
