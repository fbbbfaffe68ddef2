// Two doubles per register: one complex value. The baseline vector type of
// every kernel, for the stages whose values are one complex apart.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "fft/fft_tables.h"
#include "store/digit.h"

namespace {

// Vector registers the compiler can allocate: eight on 32-bit x86.
inline constexpr int kVectorRegisters = sizeof(void*) == 8 ? 16 : 8;

struct Sse2 {
  using Reg = __m128d;
  using One = Sse2;
  static constexpr std::int32_t kWidth = 1;
  static constexpr int kRegisters = kVectorRegisters;

  [[gnu::always_inline]] static Reg Load(const FftComplex* p) {
    return _mm_loadu_pd(&p->re);
  }
  [[gnu::always_inline]] static void Store(FftComplex* p, Reg v) {
    _mm_storeu_pd(&p->re, v);
  }
  [[gnu::always_inline]] static Reg LoadStrided(const FftComplex* p,
                                                std::int32_t) {
    return Load(p);
  }
  // The complex value at p in every lane.
  [[gnu::always_inline]] static Reg Broadcast(const FftComplex* p) {
    return Load(p);
  }
  [[gnu::always_inline]] static Reg Add(Reg a, Reg b) {
    return _mm_add_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Sub(Reg a, Reg b) {
    return _mm_sub_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Mul(Reg a, Reg b) {
    return _mm_mul_pd(a, b);
  }
  [[gnu::always_inline]] static Reg Xor(Reg a, Reg b) {
    return _mm_xor_pd(a, b);
  }
  [[gnu::always_inline]] static Reg SwapParts(Reg v) {
    return _mm_shuffle_pd(v, v, 1);
  }
  [[gnu::always_inline]] static Reg DuplicateRe(Reg v) {
    return _mm_unpacklo_pd(v, v);
  }
  [[gnu::always_inline]] static Reg DuplicateIm(Reg v) {
    return _mm_unpackhi_pd(v, v);
  }
  // Stores (a[l], b[l], c[l], d[l]) at lanes[l] + at for each complex
  // lane l.
  [[gnu::always_inline]] static void StoreColumns(FftComplex* const* lanes,
                                                  std::int32_t at, Reg a,
                                                  Reg b, Reg c, Reg d) {
    FftComplex* p = lanes[0] + at;
    Store(p, a);
    Store(p + 1, b);
    Store(p + 2, c);
    Store(p + 3, d);
  }
  // (digit, 0.0) for each of the kWidth digits from p on. Converted into a
  // zeroed register: _mm_set_sd can compile to the register form of VEX
  // movq, which valgrind 3.19 does not decode.
  [[gnu::always_inline]] static Reg FromDigits(const Digit* p) {
    return _mm_cvtsi32_sd(_mm_setzero_pd(), p[0]);
  }
  // The sign bits that turn (s, s) into (-sign * s, sign * s).
  [[gnu::always_inline]] static Reg DirectionSigns(std::int32_t sign) {
    return sign > 0 ? _mm_set_pd(0.0, -0.0) : _mm_set_pd(-0.0, 0.0);
  }
};

}  // namespace
