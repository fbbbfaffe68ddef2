// The instruction-set kernels of the transform. Every kernel performs the
// same radix-2 butterflies with the same operations on the same operands,
// so their outputs agree to the last bit; they differ only in speed. The
// fastest one the processor runs is chosen on first use; tests and
// benchmarks may choose another.
#pragma once

#include <cstdint>
#include <span>

#include "fft/fft_tables.h"
#include "store/digit.h"

enum class FftKernel : int { Plain = 0, Sse2 = 1, Avx = 2, Avx512 = 3 };

// Whether this build carries the kernel and this processor can run it.
bool FftKernelAvailable(FftKernel kernel);
// Makes `kernel` the one that every transform uses from now on; false, and
// nothing changed, when it is not available.
bool SetFftKernel(FftKernel kernel);
// The kernel in use, chosen on the first call if none has been set.
FftKernel ActiveFftKernel();
const char* FftKernelName(FftKernel kernel);

// The roots of unity of one transform, copies of the twiddle table's
// entries arranged for the passes that read them. Root k of size 2^t is
// entry k * step[t] of first[t]; up to kAdjacentSpan points each size has
// its roots side by side (step 1). The roots of the sizes up to
// kPreparedSpan also come ready for a butterfly: root k of size s stands at
// s / 2 - 2 + k, its cosine in both parts of `cosines`, its sine as
// (-sign * sin, sign * sin) in `sines`, for the transform's sign.
inline constexpr std::int32_t kMaxStages = 17;  // 2^17 = kMaxFftSize
inline constexpr std::int32_t kAdjacentSpan = 32768;
inline constexpr std::int32_t kPreparedSpan = 512;
inline constexpr std::int32_t kPreparedCount = kPreparedSpan - 2;  // sizes 4 ..
struct FftRoots {
  const FftComplex* first[kMaxStages + 1];
  std::int32_t step[kMaxStages + 1];
  const FftComplex* cosines;
  const FftComplex* sines;
};

// Rounded convolution values are held within +-kValueBound, so that every
// sum, carry and digit of the conversion back to digits fits 32 bits, on
// 32-bit x86 too. True values stay below 2^24; one beyond the bound, or
// NaN, comes from a corrupted transform: its distance tells the round-off
// check, and it is held to the bound (NaN to the lower one) so that the
// carries stay defined.
inline constexpr std::int32_t kValueBound = 1 << 30;

// How far rounded values lay from their integers: the largest distance,
// and whether any distance was NaN, which no maximum would keep.
struct FftRoundOff {
  double largest = 0.0;
  bool unordered = false;
};

// What a kernel provides; the transform and the digit conversions in
// fft_transform.cpp call through it.
struct FftKernelOps {
  // out = transform of in[j * stride].
  void (*transform)(const FftComplex* in, FftComplex* out, std::int32_t n,
                    std::int32_t stride, std::int32_t sign,
                    const FftRoots& roots);
  // out = forward transform of (digits[j], 0) for j < count, zeros up to
  // n; the same bits as transform over a staged copy.
  void (*digits)(const Digit* digits, std::int32_t count, std::int32_t n,
                 FftComplex* out, const FftRoots& roots);
  // product[i] *= other[i]; other may be product itself.
  void (*multiply)(FftComplex* product, const FftComplex* other,
                   std::int32_t n);
  // rounded[j] = floor(values[j].re * scale + 0.5), held within
  // +-kValueBound, for j < count; each distance of the scaled value from
  // its integer goes into `off`.
  void (*round)(const FftComplex* values, std::int32_t count, double scale,
                std::int32_t* rounded, FftRoundOff& off);
  // The vector registers its code has in this build (x86-64 has more than
  // 32-bit x86); 0 for scalar code.
  int registers = 0;
};

// For measurement: routes every transform and product through `ops` from
// now on, until it is replaced again or a kernel is set, and returns the
// ops in force before. The benchmarks count a whole run's transforms this
// way; the call goes through this table anyway, so the hook costs nothing.
const FftKernelOps* ReplaceFftKernelOps(const FftKernelOps* ops);
// The ops every transform goes through now.
const FftKernelOps& ActiveFftKernelOps();

// Each null when the build does not carry that kernel.
const FftKernelOps* PlainFftKernel();
const FftKernelOps* Sse2FftKernel();
const FftKernelOps* AvxFftKernel();
const FftKernelOps* Avx512FftKernel();

// Every kernel, the widest first, the order of preference; the plain
// recursion, last, runs everywhere.
struct FftKernelInfo {
  FftKernel kernel;
  const char* name;
  bool (*processorHas)();        // the feature the kernel needs
  const FftKernelOps* (*ops)();  // null where the build lacks it
};
std::span<const FftKernelInfo> FftKernelTable();

// The roots for the transform's sign, prepared with the tables.
const FftRoots& TransformRoots(std::int32_t sign);
