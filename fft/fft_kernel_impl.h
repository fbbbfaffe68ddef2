// The one structure of every vector kernel, instantiated per instruction
// set with a vector type V that holds V::kWidth complex values, each as its
// (re, im) pair, the layout of FftComplex arrays.
//
// The transform performs exactly the radix-2 butterflies of the plain
// recursion, each on the same operands with the same operations; only the
// order in which they run differs. A first pass reads the input in
// bit-reversed order and does the stages of sizes 2 and 4. The stages up to
// kBlockSize then run block by block, each block staying in the first-level
// cache; the larger ones follow depth first, as in the plain recursion, two
// stages per pass over the data.
//
// Each translation unit that includes this compiles it for its own
// instruction set; internal linkage keeps one unit's code from standing in
// for another's.
#pragma once

#include <cstdint>

#include "fft/fft_kernels.h"

namespace {

inline constexpr std::int32_t kBlockSize = 1024;

// A root of unity prepared for butterflies: c in both parts of each complex,
// s in both parts with the direction folded in, (-sign * s, sign * s).
template <class V>
struct Roots {
  typename V::Reg c;
  typename V::Reg s;
};

// The roots at table entries first, first + step, ..., one per complex.
template <class V>
[[gnu::always_inline]] inline Roots<V> LoadRoots(const FftComplex* first,
                                                 std::int32_t step,
                                                 typename V::Reg signs) {
  const typename V::Reg w = V::LoadStrided(first, step);
  return {V::DuplicateRe(w), V::Xor(V::DuplicateIm(w), signs)};
}

// b times the root. Forward: (b.re*c + b.im*(-s), b.im*c + b.re*s), which
// are the plain recursion's b.re*c - s*b.im and s*b.re + c*b.im exactly:
// products and sums commute, and x - y is by definition x + (-y).
template <class V>
[[gnu::always_inline]] inline typename V::Reg Turn(typename V::Reg b,
                                                   const Roots<V>& w) {
  return V::Add(V::Mul(b, w.c), V::Mul(V::SwapParts(b), w.s));
}

// One butterfly from the values at lo and hi to those at toLo and toHi.
template <class V>
[[gnu::always_inline]] inline void Butterfly(const FftComplex* lo,
                                             const FftComplex* hi,
                                             FftComplex* toLo, FftComplex* toHi,
                                             const Roots<V>& w) {
  const typename V::Reg a = V::Load(lo);
  const typename V::Reg t = Turn(V::Load(hi), w);
  V::Store(toLo, V::Add(a, t));
  V::Store(toHi, V::Sub(a, t));
}

// Two stages on four values a quarter apart: first the pairs (0, 1) and
// (2, 3) with the root of the half size, then (0, 2) and (1, 3) with the two
// roots of the full size.
template <class V>
[[gnu::always_inline]] inline void Radix4(const FftComplex* src, FftComplex* p,
                                          std::int32_t quarter,
                                          const Roots<V>& half,
                                          const Roots<V>& full0,
                                          const Roots<V>& full1) {
  using R = typename V::Reg;
  const R x0 = V::Load(src);
  const R x2 = V::Load(src + 2 * quarter);
  R t = Turn(V::Load(src + quarter), half);
  const R y0 = V::Add(x0, t);
  const R y1 = V::Sub(x0, t);
  t = Turn(V::Load(src + 3 * quarter), half);
  const R y2 = V::Add(x2, t);
  const R y3 = V::Sub(x2, t);
  t = Turn(y2, full0);
  V::Store(p, V::Add(y0, t));
  V::Store(p + 2 * quarter, V::Sub(y0, t));
  t = Turn(y3, full1);
  V::Store(p + quarter, V::Add(y1, t));
  V::Store(p + 3 * quarter, V::Sub(y1, t));
}

// The roots of one size as a pass reads them: straight from the shared
// table, every step-th entry...
template <class V>
class TableRoots {
 public:
  TableRoots(const FftComplex* table, std::int32_t step, std::int32_t sign)
      : table_(table), step_(step), sign_(sign) {}
  // Roots k .. k + U::kWidth - 1.
  template <class U = V>
  [[gnu::always_inline]] Roots<U> At(std::int32_t k) const {
    return LoadRoots<U>(table_ + k * step_, step_, U::DirectionSigns(sign_));
  }

 private:
  const FftComplex* table_;
  std::int32_t step_;
  std::int32_t sign_;
};

// ... or gathered and prepared beforehand, kWidth roots per entry.
template <class V>
class LocalRoots {
 public:
  explicit LocalRoots(const Roots<V>* roots) : roots_(roots) {}
  template <class U = V>
  [[gnu::always_inline]] Roots<V> At(std::int32_t k) const {
    return roots_[k / V::kWidth];
  }

 private:
  const Roots<V>* roots_;
};

// Calls step.template operator()<U>(k) for k = 0 .. count - 1, kWidth
// columns at a time with U = V where the columns of `base` start on a
// boundary of V's width, one at a time with U = V::One before and after.
// Whole-width accesses across cache lines cost nearly twice as much.
template <class V, class Step>
[[gnu::always_inline]] inline void ForColumns(const FftComplex* base,
                                              std::int32_t count, Step&& step) {
  using One = typename V::One;
  const auto address = reinterpret_cast<std::uintptr_t>(base);
  std::int32_t k = 0;
  if (V::kWidth > 1 && address % sizeof(FftComplex) == 0) {
    const std::int32_t lead = static_cast<std::int32_t>(
        (V::kWidth - address / sizeof(FftComplex) % V::kWidth) % V::kWidth);
    for (; k < lead && k < count; ++k) step.template operator()<One>(k);
  }
  for (; k + V::kWidth <= count; k += V::kWidth) step.template operator()<V>(k);
  for (; k < count; ++k) step.template operator()<One>(k);
}

// The stage of size 2 * half over every block of half-size pairs, from src
// to dst (which may be the same).
template <class V, class Source>
void Radix2Pass(const FftComplex* src, FftComplex* dst, std::int32_t n,
                std::int32_t half, const Source& roots) {
  for (std::int32_t k = 0; k < half; k += V::kWidth) {
    const Roots<V> w = roots.At(k);
    for (std::int32_t j = k; j < n; j += 2 * half) {
      Butterfly<V>(src + j, src + j + half, dst + j, dst + j + half, w);
    }
  }
}

// The stages of sizes 2 * quarter and 4 * quarter over every block.
template <class V, class Source>
void Radix4Pass(const FftComplex* src, FftComplex* dst, std::int32_t n,
                std::int32_t quarter, const Source& halfRoots,
                const Source& fullRoots) {
  for (std::int32_t k = 0; k < quarter; k += V::kWidth) {
    const Roots<V> half = halfRoots.At(k);
    const Roots<V> full0 = fullRoots.At(k);
    const Roots<V> full1 = fullRoots.At(k + quarter);
    for (std::int32_t j = k; j < n; j += 4 * quarter) {
      Radix4<V>(src + j, dst + j, quarter, half, full0, full1);
    }
  }
}

// Three stages on eight values an eighth apart, in place: pairs (0, 1),
// (2, 3), ... with the root of a quarter of the size, then (0, 2), (1, 3),
// ... with the two of half the size, then (0, 4) .. (3, 7) with the four of
// the full size.
template <class U, class Source>
[[gnu::always_inline]] inline void Radix8(FftComplex* p, std::int32_t k,
                                          std::int32_t eighth,
                                          const Source& quarterRoots,
                                          const Source& halfRoots,
                                          const Source& fullRoots) {
  using R = typename U::Reg;
  R x[8];
  const Roots<U> w1 = quarterRoots.template At<U>(k);
  for (int j = 0; j < 8; j += 2) {
    const R a = U::Load(p + j * eighth);
    const R t = Turn(U::Load(p + (j + 1) * eighth), w1);
    x[j] = U::Add(a, t);
    x[j + 1] = U::Sub(a, t);
  }
  for (int j = 0; j < 2; ++j) {
    const Roots<U> w2 = halfRoots.template At<U>(k + j * eighth);
    for (int g = 0; g < 8; g += 4) {
      const R a = x[g + j];
      const R t = Turn(x[g + j + 2], w2);
      x[g + j] = U::Add(a, t);
      x[g + j + 2] = U::Sub(a, t);
    }
  }
  for (int j = 0; j < 4; ++j) {
    const Roots<U> w3 = fullRoots.template At<U>(k + j * eighth);
    const R t = Turn(x[j + 4], w3);
    U::Store(p + j * eighth, U::Add(x[j], t));
    U::Store(p + (j + 4) * eighth, U::Sub(x[j], t));
  }
}

// log2 of a power of two.
inline std::int32_t StageCount(std::int32_t size) {
  std::int32_t count = 0;
  while (size > 1) {
    size /= 2;
    ++count;
  }
  return count;
}

// Counts i up in bit-reversed order over the bits below `top` * 2.
inline void ReversedIncrement(std::int32_t& i, std::int32_t top) {
  std::int32_t bit = top;
  while (i & bit) {
    i ^= bit;
    bit >>= 1;
  }
  i |= bit;
}

// The stages of sizes 2, 4 and 8 straight from the input: outputs
// 8i .. 8i+7 come from inputs r + j*n/8 (times the stride) for j = 0, 4,
// 2, 6, 1, 5, 3, 7, where r is i with its log2(n/8) bits reversed. U::kWidth
// consecutive r at a time, so that the input is read in runs; the outputs
// of each lane are stored together.
template <class U>
void LeafPass(const FftComplex* in, FftComplex* out, std::int32_t n,
              std::int32_t stride, std::int32_t sign, const FftComplex* table,
              std::int32_t span) {
  using R = typename U::Reg;
  static constexpr std::int32_t kOrder[8] = {0, 4, 2, 6, 1, 5, 3, 7};
  const R signs = U::DirectionSigns(sign);
  Roots<U> w4[2];
  Roots<U> w8[4];
  for (std::int32_t k = 0; k < 2; ++k) {
    w4[k] = LoadRoots<U>(table + k * (span / 4), 0, signs);
  }
  for (std::int32_t k = 0; k < 4; ++k) {
    w8[k] = LoadRoots<U>(table + k * (span / 8), 0, signs);
  }
  const std::int32_t eighth = n / 8;
  const std::int32_t runs = eighth / U::kWidth;
  // Lane l reads r + l: its outputs lie l's bits reversed further on.
  std::int32_t laneOffsets[U::kWidth];
  for (std::int32_t lane = 0; lane < U::kWidth; ++lane) {
    laneOffsets[lane] = 0;
    for (std::int32_t b = 1, top = eighth / 2; b < U::kWidth;
         b *= 2, top /= 2) {
      if (lane & b) laneOffsets[lane] |= top;
    }
  }
  const std::int32_t step = eighth * stride;
  std::int32_t run = 0;  // i's bits reversed, over log2(runs) bits
  FftComplex* columns[U::kWidth];
  for (std::int32_t i = 0; i < runs; ++i) {
    const FftComplex* x = in + U::kWidth * run * stride;
    R y[8];
    for (int j = 0; j < 8; j += 2) {
      const FftComplex* a = x + kOrder[j] * step;
      const FftComplex* b = x + kOrder[j + 1] * step;
      const R xa = stride == 1 ? U::Load(a) : U::LoadStrided(a, stride);
      const R xb = stride == 1 ? U::Load(b) : U::LoadStrided(b, stride);
      y[j] = U::Add(xa, xb);
      y[j + 1] = U::Sub(xa, xb);
    }
    for (int g = 0; g < 8; g += 4) {
      for (int j = 0; j < 2; ++j) {
        const R a = y[g + j];
        const R t = Turn(y[g + j + 2], w4[j]);
        y[g + j] = U::Add(a, t);
        y[g + j + 2] = U::Sub(a, t);
      }
    }
    for (int j = 0; j < 4; ++j) {
      const R a = y[j];
      const R t = Turn(y[j + 4], w8[j]);
      y[j] = U::Add(a, t);
      y[j + 4] = U::Sub(a, t);
    }
    for (std::int32_t lane = 0; lane < U::kWidth; ++lane) {
      columns[lane] = out + 8 * (i + laneOffsets[lane]);
    }
    U::StoreColumns(columns, y[0], y[1], y[2], y[3]);
    for (std::int32_t lane = 0; lane < U::kWidth; ++lane) columns[lane] += 4;
    U::StoreColumns(columns, y[4], y[5], y[6], y[7]);
    ReversedIncrement(run, runs / 2);
  }
}

template <class V>
class Transformer {
  using One = typename V::One;

 public:
  Transformer(const FftComplex* table, std::int32_t span, std::int32_t sign,
              std::int32_t n)
      : table_(table),
        span_(span),
        sign_(sign),
        localTop_(n < kBlockSize ? n : kBlockSize) {
    // Every block needs the roots of the sizes 16 .. localTop_: gathered
    // once, ready for use, one size after the other.
    Roots<V>* next = local_;
    for (std::int32_t size = 16; size <= localTop_; size *= 2) {
      const TableRoots<V> roots = RootsInTable(size);
      for (std::int32_t k = 0; k < size / 2; k += V::kWidth) {
        *next++ = roots.At(k);
      }
    }
  }

  void Run(const FftComplex* in, FftComplex* out, std::int32_t n,
           std::int32_t stride) const {
    using R = typename One::Reg;
    if (n == 2) {
      const R x0 = One::Load(in);
      const R x1 = One::Load(in + stride);
      One::Store(out, One::Add(x0, x1));
      One::Store(out + 1, One::Sub(x0, x1));
      return;
    }
    if (n == 4) {
      // Outputs 0 .. 3 from inputs 0, 2, 1, 3.
      const Roots<One> w0 = RootsInTable(4).template At<One>(0);
      const Roots<One> w1 = RootsInTable(4).template At<One>(1);
      const R x0 = One::Load(in);
      const R x1 = One::Load(in + 2 * stride);
      const R x2 = One::Load(in + stride);
      const R x3 = One::Load(in + 3 * stride);
      const R y0 = One::Add(x0, x1);
      const R y1 = One::Sub(x0, x1);
      const R t2 = Turn(One::Add(x2, x3), w0);
      const R t3 = Turn(One::Sub(x2, x3), w1);
      One::Store(out, One::Add(y0, t2));
      One::Store(out + 1, One::Add(y1, t3));
      One::Store(out + 2, One::Sub(y0, t2));
      One::Store(out + 3, One::Sub(y1, t3));
      return;
    }
    if (n / 8 < V::kWidth) {
      LeafPass<One>(in, out, n, stride, sign_, table_, span_);
    } else {
      LeafPass<V>(in, out, n, stride, sign_, table_, span_);
    }
    Stages(out, n);
  }

 private:
  TableRoots<V> RootsInTable(std::int32_t size) const {
    return TableRoots<V>(table_, span_ / size, sign_);
  }

  // The prepared roots of a size from 16 up to localTop_; size / 2 - 8
  // roots of the sizes below come first.
  LocalRoots<V> RootsInBlock(std::int32_t size) const {
    return LocalRoots<V>(local_ + (size / 2 - 8) / V::kWidth);
  }

  // The stages of sizes 16 .. n over out[0 .. n-1], whose sub-transforms
  // of size 8 are done: depth first, as in the plain recursion, down to
  // blocks that stay in the first-level cache.
  void Stages(FftComplex* out, std::int32_t n) const {
    if (n <= kBlockSize) {
      BlockStages(out, n);
    } else if (n == 2 * kBlockSize) {
      for (std::int32_t j = 0; j < 2; ++j) Stages(out + j * (n / 2), n / 2);
      const TableRoots<V> roots = RootsInTable(n);
      const std::int32_t h = n / 2;
      ForColumns<V>(out, h, [&]<class U>(std::int32_t k) {
        Butterfly<U>(out + k, out + k + h, out + k, out + k + h,
                     roots.template At<U>(k));
      });
    } else if (n == 4 * kBlockSize || V::kRegisters < 32) {
      const std::int32_t q = n / 4;
      for (std::int32_t j = 0; j < 4; ++j) Stages(out + j * q, q);
      const TableRoots<V> halfRoots = RootsInTable(n / 2);
      const TableRoots<V> fullRoots = RootsInTable(n);
      ForColumns<V>(out, q, [&]<class U>(std::int32_t k) {
        Radix4<U>(out + k, out + k, q, halfRoots.template At<U>(k),
                  fullRoots.template At<U>(k), fullRoots.template At<U>(k + q));
      });
    } else {
      const std::int32_t e = n / 8;
      for (std::int32_t j = 0; j < 8; ++j) Stages(out + j * e, e);
      const TableRoots<V> quarterRoots = RootsInTable(n / 4);
      const TableRoots<V> halfRoots = RootsInTable(n / 2);
      const TableRoots<V> fullRoots = RootsInTable(n);
      ForColumns<V>(out, e, [&]<class U>(std::int32_t k) {
        Radix8<U>(out + k, k, e, quarterRoots, halfRoots, fullRoots);
      });
    }
  }

  // One block, stage by stage: a single stage first when their count is
  // odd, then two at a time. The passes between the first and the last
  // work on a copy in scratch_, whose vectors never straddle cache lines.
  void BlockStages(FftComplex* out, std::int32_t n) const {
    std::int32_t done = 8;
    const FftComplex* src = out;
    const std::int32_t last = n / 4;  // the last pass's quarter, or half
    auto destination = [&](std::int32_t passDone) {
      return passDone >= last ? out : scratch_;
    };
    if (StageCount(n / done) % 2 == 1) {
      FftComplex* dst = destination(done);
      Radix2Pass<V>(src, dst, n, done, RootsInBlock(2 * done));
      src = dst;
      done *= 2;
    }
    for (; done < n; done *= 4) {
      FftComplex* dst = destination(done);
      Radix4Pass<V>(src, dst, n, done, RootsInBlock(2 * done),
                    RootsInBlock(4 * done));
      src = dst;
    }
  }

  const FftComplex* table_;
  std::int32_t span_;
  std::int32_t sign_;
  std::int32_t localTop_;
  Roots<V> local_[kBlockSize / V::kWidth];
  alignas(64) mutable FftComplex scratch_[kBlockSize];
};

template <class V>
void TransformWith(const FftComplex* in, FftComplex* out, std::int32_t n,
                   std::int32_t stride, std::int32_t sign,
                   const FftComplex* table, std::int32_t span) {
  Transformer<V>(table, span, sign, n).Run(in, out, n, stride);
}

// (a.re*b.re - a.im*b.im, a.im*b.re + a.re*b.im), the difference again as
// a sum with the negated term.
template <class V>
void MultiplyWith(FftComplex* product, const FftComplex* other,
                  std::int32_t n) {
  using R = typename V::Reg;
  const R negateRe = V::DirectionSigns(+1);
  std::int32_t i = 0;
  for (; i + V::kWidth <= n; i += V::kWidth) {
    const R a = V::Load(product + i);
    const R b = V::Load(other + i);
    const R straight = V::Mul(a, V::DuplicateRe(b));
    const R crossed = V::Mul(V::SwapParts(a), V::DuplicateIm(b));
    V::Store(product + i, V::Add(straight, V::Xor(crossed, negateRe)));
  }
  if (i < n) MultiplyWith<typename V::One>(product + i, other + i, n - i);
}

}  // namespace
