// The AVX-512 kernel: four complex values per 512-bit register. The build
// compiles this file alone for AVX-512F; chosen at run time when the
// processor has it.
#include "fft/fft_kernels.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "fft/fft_kernel_impl.h"
#include "fft/fft_kernel_sse2.h"

namespace {

struct Avx512 {
  using Reg = __m512d;
  using One = Sse2;
  static constexpr std::int32_t kWidth = 4;
  // AVX-512 doubles them to 32 on x86-64.
  static constexpr int kRegisters = sizeof(void*) == 8 ? 32 : 8;

  [[gnu::always_inline]] static Reg Load(const FftComplex* p) {
    return _mm512_loadu_pd(&p->re);
  }
  [[gnu::always_inline]] static void Store(FftComplex* p, Reg v) {
    _mm512_storeu_pd(&p->re, v);
  }
  [[gnu::always_inline]] static Reg LoadStrided(const FftComplex* p,
                                                std::int32_t step) {
    const __m256d low = _mm256_loadu2_m128d(&p[step].re, &p->re);
    const __m256d high = _mm256_loadu2_m128d(&p[3 * step].re, &p[2 * step].re);
    return _mm512_insertf64x4(_mm512_castpd256_pd512(low), high, 1);
  }
  [[gnu::always_inline]] static Reg Broadcast(const FftComplex* p) {
    return _mm512_castps_pd(
        _mm512_broadcast_f32x4(_mm_castpd_ps(_mm_loadu_pd(&p->re))));
  }
  [[gnu::always_inline]] static Reg Add(Reg a, Reg b) {
    return _mm512_add_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Sub(Reg a, Reg b) {
    return _mm512_sub_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Mul(Reg a, Reg b) {
    return _mm512_mul_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Xor(Reg a, Reg b) {
    return _mm512_castsi512_pd(
        _mm512_xor_si512(_mm512_castpd_si512(a), _mm512_castpd_si512(b)));
  }
  [[gnu::always_inline]] static Reg SwapParts(Reg v) {
    return _mm512_permute_pd(v, 0x55);
  }
  [[gnu::always_inline]] static Reg DuplicateRe(Reg v) {
    return _mm512_movedup_pd(v);
  }
  [[gnu::always_inline]] static Reg DuplicateIm(Reg v) {
    return _mm512_permute_pd(v, 0xFF);
  }
  [[gnu::always_inline]] static void StoreColumns(FftComplex* const* lanes,
                                                  std::int32_t at, Reg a,
                                                  Reg b, Reg c, Reg d) {
    const Reg ab02 = _mm512_shuffle_f64x2(a, b, 0x44);
    const Reg ab13 = _mm512_shuffle_f64x2(a, b, 0xEE);
    const Reg cd02 = _mm512_shuffle_f64x2(c, d, 0x44);
    const Reg cd13 = _mm512_shuffle_f64x2(c, d, 0xEE);
    Store(lanes[0] + at, _mm512_shuffle_f64x2(ab02, cd02, 0x88));
    Store(lanes[1] + at, _mm512_shuffle_f64x2(ab02, cd02, 0xDD));
    Store(lanes[2] + at, _mm512_shuffle_f64x2(ab13, cd13, 0x88));
    Store(lanes[3] + at, _mm512_shuffle_f64x2(ab13, cd13, 0xDD));
  }
  [[gnu::always_inline]] static Reg FromDigits(const Digit* p) {
    std::int32_t four;
    std::memcpy(&four, p, sizeof four);
    const __m256d d =
        _mm256_cvtepi32_pd(_mm_cvtepi8_epi32(_mm_cvtsi32_si128(four)));
    // Lanes 0, 2, 4, 6 take d's four values, the others +0.0.
    const __m512i index = _mm512_set_epi64(0, 3, 0, 2, 0, 1, 0, 0);
    return _mm512_maskz_permutexvar_pd(0x55, index, _mm512_castpd256_pd512(d));
  }
  [[gnu::always_inline]] static Reg DirectionSigns(std::int32_t sign) {
    return sign > 0 ? _mm512_set_pd(0.0, -0.0, 0.0, -0.0, 0.0, -0.0, 0.0, -0.0)
                    : _mm512_set_pd(-0.0, 0.0, -0.0, 0.0, -0.0, 0.0, -0.0, 0.0);
  }
};

const FftKernelOps kAvx512Ops = {&TransformWith<Avx512>, &TransformDigitsWith<Avx512>,
                                &MultiplyWith<Avx512>,
                                &RoundWith<8>, Avx512::kRegisters};

}  // namespace

const FftKernelOps* Avx512FftKernel() { return &kAvx512Ops; }

#else

const FftKernelOps* Avx512FftKernel() { return nullptr; }

#endif
