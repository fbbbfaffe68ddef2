// The one structure of every vector kernel, instantiated per instruction
// set with a vector type V that holds V::kWidth complex values, each as its
// (re, im) pair, the layout of FftComplex arrays.
//
// The transform performs exactly the radix-2 butterflies of the plain
// recursion, each on the same operands with the same operations; only the
// order in which they run differs. A first pass reads the input in
// bit-reversed order and does the stages of sizes 2, 4 and 8, its vector
// lanes feeding kWidth blocks of kBlockSize points at once; each block does
// its stages in a scratch copy in the first-level cache and its last pass
// stores it into the output. The larger stages follow depth first, as in
// the plain recursion, three at a time in one pass over the data.
//
// Each translation unit that includes this compiles it for its own
// instruction set; internal linkage keeps one unit's code from standing in
// for another's.
#pragma once

#include <cstdint>

#include "fft/fft_kernels.h"

namespace {

// The first pass does the stages up to kLeafRadix; blocks of kBlockSize
// points then do theirs with roots gathered once per transform: 8 KiB of
// values and 16 KiB of roots fit the 32 KiB first-level cache.
inline constexpr std::int32_t kLeafRadix = 8;
inline constexpr std::int32_t kBlockSize = 512;

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
  const typename V::Reg w =
      step == 1 ? V::Load(first) : V::LoadStrided(first, step);
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

// ... or gathered beforehand and kept ready for use: c twice, then s with
// the direction folded in twice, in two arrays of pairs.
template <class V>
class LocalRoots {
 public:
  LocalRoots(const FftComplex* c, const FftComplex* s) : c_(c), s_(s) {}
  template <class U = V>
  [[gnu::always_inline]] Roots<U> At(std::int32_t k) const {
    return {U::Load(c_ + k), U::Load(s_ + k)};
  }

 private:
  const FftComplex* c_;
  const FftComplex* s_;
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
constexpr std::int32_t StageCount(std::int32_t size) {
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

// The stages of sizes kSize .. kRadix on kRadix values in registers,
// those of each size with its roots from roots + kSize / 2 - 2 on.
template <class U, int kSize, int kRadix>
[[gnu::always_inline]] inline void LeafStages(typename U::Reg (&y)[kRadix],
                                              const Roots<U>* roots) {
  for (int g = 0; g < kRadix; g += kSize) {
    for (int k = 0; k < kSize / 2; ++k) {
      const typename U::Reg a = y[g + k];
      const typename U::Reg t =
          Turn(y[g + k + kSize / 2], roots[kSize / 2 - 2 + k]);
      y[g + k] = U::Add(a, t);
      y[g + k + kSize / 2] = U::Sub(a, t);
    }
  }
  if constexpr (kSize < kRadix) LeafStages<U, 2 * kSize>(y, roots);
}

// value with its lowest `bits` bits in reverse order.
constexpr std::int32_t BitsReversed(std::int32_t value, std::int32_t bits) {
  std::int32_t reversed = 0;
  for (std::int32_t b = 0; b < bits; ++b) {
    reversed = (reversed << 1) | ((value >> b) & 1);
  }
  return reversed;
}

// Where lane l of a leaf pass over all of an n-point transform puts its
// outputs: lane l reads r + l, whose reversed bits are r's with l's
// reversed added at the top.
template <int kWidth>
inline std::int32_t LaneStart(std::int32_t n, std::int32_t lane) {
  return BitsReversed(lane, StageCount(kWidth)) * (n / kWidth);
}

// 0 .. kCount - 1, each with its log2(kCount) bits reversed.
template <int kCount>
struct ReversedOrder {
  constexpr ReversedOrder() : index() {
    for (int j = 0; j < kCount; ++j) {
      index[j] = BitsReversed(j, StageCount(kCount));
    }
  }
  int index[kCount];
};

// The first log2(kRadix) stages, straight from the input: outputs
// kRadix*i + j come from inputs r + j'*n/kRadix (times the stride), where r
// is i with its log2(n/kRadix) bits reversed and j' is j reversed. U::kWidth
// consecutive r at a time, so that the input is read in runs; each lane's
// outputs are stored together.
template <class U, int kRadix>
void LeafPass(const FftComplex* in, std::int32_t n, std::int32_t stride,
              std::int32_t sign, const FftComplex* table, std::int32_t span,
              std::int32_t first, std::int32_t count,
              FftComplex* const* laneOut) {
  using R = typename U::Reg;
  const R signs = U::DirectionSigns(sign);
  // The roots of sizes 4 .. kRadix, those of `size` from size / 2 - 2 on.
  Roots<U> roots[kRadix - 2];
  for (std::int32_t size = 4; size <= kRadix; size *= 2) {
    for (std::int32_t k = 0; k < size / 2; ++k) {
      roots[size / 2 - 2 + k] =
          LoadRoots<U>(table + k * (span / size), 0, signs);
    }
  }
  static constexpr ReversedOrder<kRadix> kOrder{};
  const std::int32_t part = n / kRadix;
  const std::int32_t runs = part / U::kWidth;
  const std::int32_t step = part * stride;
  std::int32_t run = BitsReversed(first, StageCount(runs));
  FftComplex* columns[U::kWidth];
  for (std::int32_t i = 0; i < count; ++i) {
    const FftComplex* x = in + U::kWidth * run * stride;
    R y[kRadix];
    for (int j = 0; j < kRadix; j += 2) {
      const FftComplex* a = x + kOrder.index[j] * step;
      const FftComplex* b = x + kOrder.index[j + 1] * step;
      const R xa = stride == 1 ? U::Load(a) : U::LoadStrided(a, stride);
      const R xb = stride == 1 ? U::Load(b) : U::LoadStrided(b, stride);
      y[j] = U::Add(xa, xb);
      y[j + 1] = U::Sub(xa, xb);
    }
    LeafStages<U, 4>(y, roots);
    for (std::int32_t lane = 0; lane < U::kWidth; ++lane) {
      columns[lane] = laneOut[lane] + kRadix * i;
    }
    for (int j = 0; j < kRadix; j += 4) {
      U::StoreColumns(columns, y[j], y[j + 1], y[j + 2], y[j + 3]);
      for (std::int32_t lane = 0; lane < U::kWidth; ++lane) columns[lane] += 4;
    }
    ReversedIncrement(run, runs / 2);
  }
}

template <class V>
class Transformer {
  using One = typename V::One;

 public:
  Transformer(const FftComplex* table, std::int32_t span, std::int32_t sign,
              std::int32_t n)
      : table_(table), span_(span), sign_(sign) {
    // The roots of the sizes above the leaf's up to kBlockSize, which every
    // block reads over again: gathered once, one size after the other.
    const std::int32_t top = n < kBlockSize ? n : kBlockSize;
    for (std::int32_t size = 2 * kLeafRadix; size <= top; size *= 2) {
      const TableRoots<V> roots = RootsInTable(size);
      const std::int32_t first = size / 2 - kLeafRadix;
      for (std::int32_t k = 0; k < size / 2; k += V::kWidth) {
        const Roots<V> w = roots.At(k);
        V::Store(localC_ + first + k, w.c);
        V::Store(localS_ + first + k, w.s);
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
    // Below the leaf's own size the leaf alone is the transform.
    if (n == 4) return Leaf<One, 4>(in, out, n, stride);
    if (n / kLeafRadix < V::kWidth) {
      Leaf<One, kLeafRadix>(in, out, n, stride);
      Stages(out, n, false);
    } else if (n < V::kWidth * kBlockSize) {
      Leaf<V, kLeafRadix>(in, out, n, stride);
      Stages(out, n, false);
    } else {
      // The leaf pass's lanes feed kWidth blocks at a time; those are
      // finished in scratch_ and stored into out by their last pass.
      constexpr std::int32_t kRunsPerBlock = kBlockSize / kLeafRadix;
      FftComplex* lanes[V::kWidth];
      for (std::int32_t lane = 0; lane < V::kWidth; ++lane) {
        lanes[lane] = scratch_ + lane * kBlockSize;
      }
      for (std::int32_t part = 0; part < n / V::kWidth / kBlockSize; ++part) {
        LeafPass<V, kLeafRadix>(in, n, stride, sign_, table_, span_,
                                part * kRunsPerBlock, kRunsPerBlock, lanes);
        for (std::int32_t lane = 0; lane < V::kWidth; ++lane) {
          FftComplex* block =
              out + LaneStart<V::kWidth>(n, lane) + part * kBlockSize;
          BlockStages(lanes[lane], lanes[lane], block, kBlockSize);
        }
      }
      Stages(out, n, true);
    }
  }

 private:
  // The leaf pass over all of an n-point transform.
  template <class U, int kRadix>
  void Leaf(const FftComplex* in, FftComplex* out, std::int32_t n,
            std::int32_t stride) const {
    FftComplex* lanes[U::kWidth];
    for (std::int32_t lane = 0; lane < U::kWidth; ++lane) {
      lanes[lane] = out + LaneStart<U::kWidth>(n, lane);
    }
    LeafPass<U, kRadix>(in, n, stride, sign_, table_, span_, 0,
                        n / kRadix / U::kWidth, lanes);
  }

  TableRoots<V> RootsInTable(std::int32_t size) const {
    return TableRoots<V>(table_, span_ / size, sign_);
  }

  // The gathered roots of a size above the leaf's up to kBlockSize;
  // size / 2 - kLeafRadix roots of the sizes below come first.
  LocalRoots<V> RootsInBlock(std::int32_t size) const {
    const std::int32_t first = size / 2 - kLeafRadix;
    return LocalRoots<V>(localC_ + first, localS_ + first);
  }

  // The stages of sizes 16 .. n over out[0 .. n-1], whose sub-transforms
  // of size 8 are done: depth first, as in the plain recursion, down to
  // blocks that stay in the first-level cache (done already when
  // blocksDone); above them three stages per pass, or what is left.
  void Stages(FftComplex* out, std::int32_t n, bool blocksDone) const {
    if (n <= kBlockSize) {
      if (!blocksDone) BlockStages(out, scratch_, out, n);
    } else if (n == 2 * kBlockSize) {
      const std::int32_t h = n / 2;
      for (std::int32_t j = 0; j < 2; ++j) Stages(out + j * h, h, blocksDone);
      const TableRoots<V> roots = RootsInTable(n);
      ForColumns<V>(out, h, [&]<class U>(std::int32_t k) {
        Butterfly<U>(out + k, out + k + h, out + k, out + k + h,
                     roots.template At<U>(k));
      });
    } else if (n == 4 * kBlockSize) {
      const std::int32_t q = n / 4;
      for (std::int32_t j = 0; j < 4; ++j) Stages(out + j * q, q, blocksDone);
      const TableRoots<V> halfRoots = RootsInTable(n / 2);
      const TableRoots<V> fullRoots = RootsInTable(n);
      ForColumns<V>(out, q, [&]<class U>(std::int32_t k) {
        Radix4<U>(out + k, out + k, q, halfRoots.template At<U>(k),
                  fullRoots.template At<U>(k), fullRoots.template At<U>(k + q));
      });
    } else {
      const std::int32_t e = n / 8;
      for (std::int32_t j = 0; j < 8; ++j) Stages(out + j * e, e, blocksDone);
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
  void BlockStages(const FftComplex* src, FftComplex* work, FftComplex* dst,
                   std::int32_t n) const {
    std::int32_t done = kLeafRadix;
    const std::int32_t last = n / 4;  // the last pass's quarter, or half
    auto destination = [&](std::int32_t passDone) {
      return passDone >= last ? dst : work;
    };
    if (StageCount(n / done) % 2 == 1) {
      FftComplex* to = destination(done);
      Radix2Pass<V>(src, to, n, done, RootsInBlock(2 * done));
      src = to;
      done *= 2;
    }
    for (; done < n; done *= 4) {
      FftComplex* to = destination(done);
      Radix4Pass<V>(src, to, n, done, RootsInBlock(2 * done),
                    RootsInBlock(4 * done));
      src = to;
    }
  }

  const FftComplex* table_;
  std::int32_t span_;
  std::int32_t sign_;
  FftComplex localC_[kBlockSize];
  FftComplex localS_[kBlockSize];
  alignas(64) mutable FftComplex scratch_[V::kWidth * kBlockSize];
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
