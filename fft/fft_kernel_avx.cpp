// The AVX kernel: two complex values per 256-bit register. The build
// compiles this file alone for AVX; chosen at run time when the processor
// has it.
#include "fft/fft_kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "fft/fft_kernel_impl.h"
#include "fft/fft_kernel_sse2.h"

namespace {

struct Avx {
  using Reg = __m256d;
  using One = Sse2;
  static constexpr std::int32_t kWidth = 2;
  static constexpr int kRegisters = kVectorRegisters;

  [[gnu::always_inline]] static Reg Load(const FftComplex* p) {
    return _mm256_loadu_pd(&p->re);
  }
  [[gnu::always_inline]] static void Store(FftComplex* p, Reg v) {
    _mm256_storeu_pd(&p->re, v);
  }
  [[gnu::always_inline]] static Reg LoadStrided(const FftComplex* p,
                                                std::int32_t step) {
    return _mm256_loadu2_m128d(&p[step].re, &p->re);
  }
  [[gnu::always_inline]] static Reg Broadcast(const FftComplex* p) {
    return _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(&p->re));
  }
  [[gnu::always_inline]] static Reg Add(Reg a, Reg b) {
    return _mm256_add_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Sub(Reg a, Reg b) {
    return _mm256_sub_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Mul(Reg a, Reg b) {
    return _mm256_mul_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Xor(Reg a, Reg b) {
    return _mm256_xor_pd(a, b);
  }
  [[gnu::always_inline]] static Reg SwapParts(Reg v) {
    return _mm256_permute_pd(v, 0x5);
  }
  [[gnu::always_inline]] static Reg DuplicateRe(Reg v) {
    return _mm256_movedup_pd(v);
  }
  [[gnu::always_inline]] static Reg DuplicateIm(Reg v) {
    return _mm256_permute_pd(v, 0xF);
  }
  [[gnu::always_inline]] static void StoreColumns(FftComplex* const* lanes,
                                                  std::int32_t at, Reg a,
                                                  Reg b, Reg c, Reg d) {
    Store(lanes[0] + at, _mm256_permute2f128_pd(a, b, 0x20));
    Store(lanes[0] + at + 2, _mm256_permute2f128_pd(c, d, 0x20));
    Store(lanes[1] + at, _mm256_permute2f128_pd(a, b, 0x31));
    Store(lanes[1] + at + 2, _mm256_permute2f128_pd(c, d, 0x31));
  }
  [[gnu::always_inline]] static Reg FromDigits(const Digit* p) {
    std::uint16_t two;
    std::memcpy(&two, p, sizeof two);
    const __m128d d =
        _mm_cvtepi32_pd(_mm_cvtepi8_epi32(_mm_cvtsi32_si128(two)));
    const __m128d zero = _mm_setzero_pd();
    return _mm256_insertf128_pd(
        _mm256_castpd128_pd256(_mm_unpacklo_pd(d, zero)),
        _mm_unpackhi_pd(d, zero), 1);
  }
  [[gnu::always_inline]] static Reg DirectionSigns(std::int32_t sign) {
    return sign > 0 ? _mm256_set_pd(0.0, -0.0, 0.0, -0.0)
                    : _mm256_set_pd(-0.0, 0.0, -0.0, 0.0);
  }
};

const FftKernelOps kAvxOps = {&TransformWith<Avx>, &TransformDigitsWith<Avx>,
                                &MultiplyWith<Avx>,
                                &RoundWith<4>, Avx::kRegisters};

}  // namespace

const FftKernelOps* AvxFftKernel() { return &kAvxOps; }

#else

const FftKernelOps* AvxFftKernel() { return nullptr; }

#endif
