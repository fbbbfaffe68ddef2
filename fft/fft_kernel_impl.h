// The one structure of every vector kernel, instantiated per instruction
// set with a vector type V that holds V::kWidth complex values, each as its
// (re, im) pair, the layout of FftComplex arrays, and has V::kRegisters
// vector registers.
//
// The transform performs exactly the radix-2 butterflies of the plain
// recursion, each on the same operands with the same operations; only the
// order in which they run differs. A first pass reads the input in
// bit-reversed order and does the first stages in registers, its vector
// lanes feeding kWidth blocks of kBlockSize points at once; each block does
// its stages in a scratch copy in the first-level cache and its last pass
// stores it into the output. The larger stages follow depth first, as in
// the plain recursion. Every pass does three stages, so that the values go
// through memory as seldom as the registers allow; where eight registers
// cannot hold a column's values and the work beside them (32-bit x86), the
// few that wait go to the stack, which stays in the first-level cache and
// costs less than a further pass over all the values.
//
// Each translation unit that includes this compiles it for its own
// instruction set; internal linkage keeps one unit's code from standing in
// for another's.
#pragma once

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "fft/fft_kernels.h"

namespace {

// Offsets in units of FftComplex, as wide as pointers, so that addresses
// need no widening.
using Index = std::ptrdiff_t;

// The first pass does the stages up to the leaf's radix; blocks of
// kBlockSize points then do theirs in the first-level cache: kWidth blocks
// of 8 KiB each, beside the prepared roots they read.
inline constexpr std::int32_t kBlockSize = 512;
static_assert(kPreparedSpan == kBlockSize, "the blocks read prepared roots");

// log2 of a power of two.
constexpr std::int32_t StageCount(std::int32_t size) {
  std::int32_t count = 0;
  while (size > 1) {
    size /= 2;
    ++count;
  }
  return count;
}

// body(i) for i = 0, kStep, 2 kStep .. below kEnd, written out whole: the
// loops over a column's registers, whose counts are constants.
template <int kEnd, int kStep = 1, class Body>
[[gnu::always_inline]] inline void Unrolled(const Body& body) {
  [&]<int... kI>(std::integer_sequence<int, kI...>) __attribute__((always_inline)) {
    (body(kI * kStep), ...);
  }(std::make_integer_sequence<int, (kEnd + kStep - 1) / kStep>());
}

// A root of unity prepared for butterflies: c in both parts of each complex,
// s in both parts with the direction folded in, (-sign * s, sign * s).
template <class V>
struct Roots {
  typename V::Reg c;
  typename V::Reg s;
};

// The roots in w = (c, s) pairs, one per complex, prepared.
template <class V>
[[gnu::always_inline]] inline Roots<V> Prepare(typename V::Reg w,
                                               std::int32_t sign) {
  return {V::DuplicateRe(w), V::Xor(V::DuplicateIm(w), V::DirectionSigns(sign))};
}

// b times the root. Forward: (b.re*c + b.im*(-s), b.im*c + b.re*s), which
// are the plain recursion's b.re*c - s*b.im and s*b.re + c*b.im exactly:
// products and sums commute, and x - y is by definition x + (-y).
template <class V>
[[gnu::always_inline]] inline typename V::Reg Turn(typename V::Reg b,
                                                   const Roots<V>& w) {
  return V::Add(V::Mul(b, w.c), V::Mul(V::SwapParts(b), w.s));
}

// The roots of one size as a pass reads them, root k at At(k): ready in
// the prepared arrays up to kPreparedSpan, which a block reads over and
// over...
template <class V>
class PreparedRoots {
 public:
  PreparedRoots() = default;
  PreparedRoots(const FftRoots& roots, std::int32_t size, std::int32_t)
      : c_(roots.cosines + size / 2 - 2), s_(roots.sines + size / 2 - 2) {
    assert(size >= 4 && size <= kPreparedSpan);
  }
  // Roots k .. k + U::kWidth - 1.
  template <class U = V>
  [[gnu::always_inline]] Roots<U> At(Index k) const {
    return {U::Load(c_ + k), U::Load(s_ + k)};
  }

 private:
  const FftComplex* c_ = nullptr;
  const FftComplex* s_ = nullptr;
};

// ... side by side up to 32768 points, half the bytes to fetch, prepared
// as they are read...
template <class V>
class AdjacentRoots {
 public:
  AdjacentRoots() = default;
  AdjacentRoots(const FftRoots& roots, std::int32_t size, std::int32_t sign)
      : first_(roots.first[StageCount(size)]), sign_(sign) {
    assert(roots.step[StageCount(size)] == 1);
  }
  template <class U = V>
  [[gnu::always_inline]] Roots<U> At(Index k) const {
    return Prepare<U>(U::Load(first_ + k), sign_);
  }

 private:
  const FftComplex* first_ = nullptr;
  std::int32_t sign_ = 1;
};

// ... and above, every step-th entry of the twiddle table.
template <class V>
class SpacedRoots {
 public:
  SpacedRoots() = default;
  SpacedRoots(const FftRoots& roots, std::int32_t size, std::int32_t sign)
      : first_(roots.first[StageCount(size)]),
        step_(roots.step[StageCount(size)]),
        sign_(sign) {}
  template <class U = V>
  [[gnu::always_inline]] Roots<U> At(Index k) const {
    return Prepare<U>(U::LoadStrided(first_ + k * step_, step_), sign_);
  }

 private:
  const FftComplex* first_ = nullptr;
  Index step_ = 1;
  std::int32_t sign_ = 1;
};

// The roots that column k of a pass over the stages of sizes 2q .. kRadix*q
// reads, each fetched where a butterfly needs it: root i of the stage of
// size 2 * half * q is entry k + i*q of that size's roots.
template <class U, class Source>
class FetchedRoots {
 public:
  FetchedRoots(const Source* sizes, Index k, Index q)
      : sizes_(sizes), k_(k), q_(q) {}
  [[gnu::always_inline]] Roots<U> operator()(int half, int i) const {
    return sizes_[StageCount(half)].template At<U>(k_ + i * q_);
  }

 private:
  const Source* sizes_;
  Index k_;
  Index q_;
};

// The same roots fetched once into registers, for a column that several
// blocks share, where the registers hold them beside the values.
template <class U, int kRadix>
class HeldRoots {
 public:
  template <class Fetch>
  [[gnu::always_inline]] explicit HeldRoots(const Fetch& fetch) {
    Hold<1>(fetch);
  }
  [[gnu::always_inline]] Roots<U> operator()(int half, int i) const {
    return {c_[half - 1 + i], s_[half - 1 + i]};
  }

 private:
  template <int kHalf, class Fetch>
  [[gnu::always_inline]] void Hold(const Fetch& fetch) {
    if constexpr (kHalf < kRadix) {
      Unrolled<kHalf>([&](int i) __attribute__((always_inline)) {
        const Roots<U> w = fetch(kHalf, i);
        c_[kHalf - 1 + i] = w.c;
        s_[kHalf - 1 + i] = w.s;
      });
      Hold<2 * kHalf>(fetch);
    }
  }

  // Vectors apart, not pairs of them: the compiler keeps an array of
  // vectors in registers, but takes an array of pairs apart through memory.
  typename U::Reg c_[kRadix - 1];
  typename U::Reg s_[kRadix - 1];
};

// The stage of size 2 * kHalf * q and those above it on kRadix values in
// registers: the pairs (0, 1), (2, 3), ... first, then (0, 2), (1, 3), ...
// and so on.
template <class U, int kRadix, int kHalf = 1, class RootsOf>
[[gnu::always_inline]] inline void ColumnStages(typename U::Reg (&x)[kRadix],
                                                const RootsOf& roots) {
  if constexpr (kHalf < kRadix) {
    Unrolled<kHalf>([&](int i) __attribute__((always_inline)) {
      const Roots<U> w = roots(kHalf, i);
      Unrolled<kRadix, 2 * kHalf>([&](int from) __attribute__((always_inline)) {
        const int g = from + i;
        const typename U::Reg a = x[g];
        const typename U::Reg t = Turn(x[g + kHalf], w);
        x[g] = U::Add(a, t);
        x[g + kHalf] = U::Sub(a, t);
      });
    });
    ColumnStages<U, kRadix, 2 * kHalf>(x, roots);
  }
}

// The stages of sizes 2q .. kRadix*q on the values src[i*q], i < kRadix,
// into dst[i*q].
template <class U, int kRadix, class RootsOf>
[[gnu::always_inline]] inline void Column(const FftComplex* src,
                                          FftComplex* dst, Index q,
                                          const RootsOf& roots) {
  typename U::Reg x[kRadix];
  Unrolled<kRadix>([&](int i) __attribute__((always_inline)) {
    x[i] = U::Load(src + i * q);
  });
  ColumnStages<U, kRadix>(x, roots);
  Unrolled<kRadix>([&](int i) __attribute__((always_inline)) {
    U::Store(dst + i * q, x[i]);
  });
}

// The columns of every block of src[0 .. n-1] into dst, their roots fetched
// from memory, as where the registers cannot hold them beside the values:
// block by block, the columns of each in turn, one short stride through
// the values and the roots.
template <class V, int kRadix, class Source, class Stride>
void FetchedColumns(const FftComplex* src, FftComplex* dst, Index n, Stride q,
                    const Source* sizes) {
  const Index block = kRadix * q;
  for (Index j = 0; j < n; j += block) {
    for (Index k = 0; k < q; k += V::kWidth) {
      Column<V, kRadix>(src + j + k, dst + j + k, q, FetchedRoots<V, Source>(sizes, k, q));
    }
  }
}

// The stages of sizes 2q .. kRadix*q over every block of src[0 .. n-1]
// into dst (which may be src): column by column, each column's roots held
// in registers for all blocks where they fit beside the values.
template <class V, int kRadix, class Source>
void ColumnPass(const FftComplex* src, FftComplex* dst, Index n, Index q,
                const Source* given) {
  // A copy of one's own, which no store can reach: the stores may alias
  // anything, and the compiler would fetch the given roots anew after each.
  Source sizes[StageCount(kRadix)];
  for (int t = 0; t < StageCount(kRadix); ++t) sizes[t] = given[t];
  if constexpr (3 * kRadix - 2 <= V::kRegisters) {
    const Index block = kRadix * q;
    for (Index k = 0; k < q; k += V::kWidth) {
      const HeldRoots<V, kRadix> held(FetchedRoots<V, Source>(sizes, k, q));
      for (Index j = k; j < n; j += block) {
        Column<V, kRadix>(src + j, dst + j, q, held);
      }
    }
  } else {
    // The strides of the passes within a block, 8 .. kBlockSize / 2, known
    // to the compiler: a column's values and roots then stand at constant
    // distances from one address each, which leaves the few general
    // registers of 32-bit code to the loops.
    const bool known = [&]<Index... kT>(std::integer_sequence<Index, kT...>) {
      return ((q == (Index{8} << kT) &&
               (FetchedColumns<V, kRadix>(src, dst, n, std::integral_constant<Index, (Index{8} << kT)>{}, sizes),
                true)) ||
              ...);
    }(std::make_integer_sequence<Index, StageCount(kBlockSize / 8)>());
    if (!known) FetchedColumns<V, kRadix>(src, dst, n, q, sizes);
  }
}

// Calls step.template operator()<U>(k) for k = 0 .. count - 1, kWidth
// columns at a time with U = V where the columns of `base` start on a
// boundary of V's width, one at a time with U = V::One before and after.
// Whole-width accesses across cache lines cost nearly twice as much.
template <class V, class Step>
[[gnu::always_inline]] inline void ForColumns(const FftComplex* base,
                                              Index count, Step&& step) {
  using One = typename V::One;
  const auto address = reinterpret_cast<std::uintptr_t>(base);
  Index k = 0;
  if (V::kWidth > 1 && address % sizeof(FftComplex) == 0) {
    const auto lead = static_cast<Index>(
        (V::kWidth - address / sizeof(FftComplex) % V::kWidth) % V::kWidth);
    for (; k < lead && k < count; ++k) step.template operator()<One>(k);
  }
  for (; k + V::kWidth <= count; k += V::kWidth) step.template operator()<V>(k);
  for (; k < count; ++k) step.template operator()<One>(k);
}

// Turns `reversed`, the `bits` bits of count reversed, into those of
// count + 1, without a branch: counting up flips count's trailing ones and
// the zero above them, the reversal flips as many top bits.
inline void ReversedIncrement(Index& reversed, Index count, std::int32_t bits) {
  // At the width of a pointer: 32-bit code has no 64-bit count of its own
  // and would call a helper for each.
  const int flipped = std::countr_one(static_cast<std::size_t>(count)) + 1;
  const Index top = Index{1} << bits;
  reversed ^= top - (top >> flipped);
}

// The stages of sizes kSize .. kRadix on kRadix values in registers,
// those of each size with its roots from roots + kSize / 2 - 2 on.
template <class U, int kSize, int kRadix>
[[gnu::always_inline]] inline void LeafStages(typename U::Reg (&y)[kRadix],
                                              const Roots<U>* roots) {
  Unrolled<kRadix, kSize>([&](int g) __attribute__((always_inline)) {
    Unrolled<kSize / 2>([&](int k) __attribute__((always_inline)) {
      const typename U::Reg a = y[g + k];
      const typename U::Reg t =
          Turn(y[g + k + kSize / 2], roots[kSize / 2 - 2 + k]);
      y[g + k] = U::Add(a, t);
      y[g + k + kSize / 2] = U::Sub(a, t);
    });
  });
  if constexpr (2 * kSize <= kRadix) LeafStages<U, 2 * kSize>(y, roots);
}

// value with its lowest `bits` bits in reverse order.
constexpr Index BitsReversed(Index value, std::int32_t bits) {
  Index reversed = 0;
  for (std::int32_t b = 0; b < bits; ++b) {
    reversed = (reversed << 1) | ((value >> b) & 1);
  }
  return reversed;
}

// Where lane l of a leaf pass over all of an n-point transform puts its
// outputs: lane l reads r + l, whose reversed bits are r's with l's
// reversed added at the top.
template <int kWidth>
inline Index LaneStart(Index n, Index lane) {
  return BitsReversed(lane, StageCount(kWidth)) * (n / kWidth);
}

// 0 .. kCount - 1, each with its log2(kCount) bits reversed.
template <int kCount>
struct ReversedOrder {
  constexpr ReversedOrder() : index() {
    for (int j = 0; j < kCount; ++j) {
      index[j] = static_cast<int>(BitsReversed(j, StageCount(kCount)));
    }
  }
  int index[kCount];
};

// The input of a transform: complex values every stride-th...
class ComplexInput {
 public:
  ComplexInput(const FftComplex* in, Index stride) : in_(in), stride_(stride) {}
  // Inputs p .. p + U::kWidth - 1.
  template <class U>
  [[gnu::always_inline]] typename U::Reg Load(Index p) const {
    return stride_ == 1 ? U::Load(in_ + p)
                        : U::LoadStrided(in_ + p * stride_, stride_);
  }

 private:
  const FftComplex* in_;
  Index stride_;
};

// ... or decimal digits, each the real part of a complex value, zeros past
// the last: the very values a staged copy would hold, +0.0 for the zeros.
class DigitInput {
 public:
  DigitInput(const Digit* digits, Index count)
      : digits_(digits), count_(count) {}
  template <class U>
  [[gnu::always_inline]] typename U::Reg Load(Index p) const {
    if (p + U::kWidth <= count_) return U::FromDigits(digits_ + p);
    Digit some[U::kWidth] = {};
    for (Index l = 0; l < U::kWidth && p + l < count_; ++l) some[l] = digits_[p + l];
    return U::FromDigits(some);
  }

 private:
  const Digit* digits_;
  Index count_;
};

// The first log2(kRadix) stages, straight from the input: outputs
// kRadix*i + j come from inputs r + j'*n/kRadix (times the stride), where r
// is i with its log2(n/kRadix) bits reversed and j' is j reversed. U::kWidth
// consecutive r at a time, so that the input is read in runs; each lane's
// outputs are stored together: those of i = first .. first + count - 1
// (count a power of two dividing first) from laneOut[lane] on. The runs
// are taken in the order of r, at one stride through the input, which the
// processor fetches ahead; their outputs go where they belong in the
// lanes, which are in the first-level cache.
template <class U, int kRadix, class Input>
void LeafPass(const Input& in, Index n, const FftRoots& table, Index first,
              Index count, FftComplex* const* laneOut) {
  using R = typename U::Reg;
  // The roots of sizes 4 .. kRadix, prepared, each the same in every lane:
  // those of `size` from size / 2 - 2 on, as in the prepared arrays.
  Roots<U> roots[kRadix - 2];
  for (std::int32_t k = 0; k < kRadix - 2; ++k) {
    roots[k] = {U::Broadcast(table.cosines + k), U::Broadcast(table.sines + k)};
  }
  static constexpr ReversedOrder<kRadix> kOrder{};
  // Copied for the reason ColumnPass copies its roots.
  FftComplex* lanes[U::kWidth];
  for (Index lane = 0; lane < U::kWidth; ++lane) lanes[lane] = laneOut[lane];
  const Index part = n / kRadix;
  const std::int32_t bits = StageCount(static_cast<std::int32_t>(count));
  // i = first + t has r = (t reversed) << high | (first / count reversed):
  // r steps by 1 << high as t's reversal counts up.
  const std::int32_t high =
      StageCount(static_cast<std::int32_t>(part / U::kWidth)) - bits;
  const Index step = U::kWidth << high;
  Index x = U::kWidth * BitsReversed(first >> bits, high);
  Index t = 0;  // the run's place among the count, reversed as it goes
  for (Index u = 0; u < count; ++u, x += step) {
    R y[kRadix];
    Unrolled<kRadix, 2>([&](int j) __attribute__((always_inline)) {
      const R xa = in.template Load<U>(x + kOrder.index[j] * part);
      const R xb = in.template Load<U>(x + kOrder.index[j + 1] * part);
      y[j] = U::Add(xa, xb);
      y[j + 1] = U::Sub(xa, xb);
    });
    if constexpr (kRadix >= 4) LeafStages<U, 4>(y, roots);
    Unrolled<kRadix, 4>([&](int j) __attribute__((always_inline)) {
      U::StoreColumns(lanes, kRadix * t + j, y[j], y[j + 1], y[j + 2], y[j + 3]);
    });
    ReversedIncrement(t, u, bits);
  }
}

// How many of `stages` stages pass `pass` of `passes` does, counted from
// the first: as even a share as possible, the larger shares last.
constexpr std::int32_t PassShare(std::int32_t stages, std::int32_t passes,
                                 std::int32_t pass) {
  return stages / passes + (pass >= passes - stages % passes ? 1 : 0);
}

template <class V>
class Transformer {
  using One = typename V::One;
  // Stages per pass: eight values a column, in registers where they fit.
  static constexpr std::int32_t kPassStages = 3;
  static constexpr std::int32_t kLeafRadix = 1 << kPassStages;

 public:
  Transformer(const FftRoots& roots, std::int32_t sign)
      : roots_(roots), sign_(sign) {}

  template <class Input>
  void Run(const Input& in, FftComplex* out, Index n) {
    using R = typename One::Reg;
    if (n == 2) {
      const R x0 = in.template Load<One>(0);
      const R x1 = in.template Load<One>(1);
      One::Store(out, One::Add(x0, x1));
      One::Store(out + 1, One::Sub(x0, x1));
      return;
    }
    // Up to the leaf's own size the leaf alone is the transform.
    if (n < kLeafRadix) return Leaf<One, 4>(in, out, n);
    if (n == kLeafRadix) return Leaf<One, kLeafRadix>(in, out, n);
    if (n < V::kWidth * kBlockSize) {
      // Small enough for the first-level cache as a whole: the leaf and
      // every pass but the last in scratch_, the last into out.
      if (n / kLeafRadix < V::kWidth) {
        Leaf<One, kLeafRadix>(in, scratch_, n);
      } else {
        Leaf<V, kLeafRadix>(in, scratch_, n);
      }
      Passes(scratch_, scratch_, out, n, kLeafRadix);
      return;
    }
    // The leaf pass's lanes feed kWidth blocks at a time; those are
    // finished in scratch_ and stored into out by their last pass.
    constexpr Index kRunsPerBlock = kBlockSize / kLeafRadix;
    FftComplex* lanes[V::kWidth];
    for (Index lane = 0; lane < V::kWidth; ++lane) {
      lanes[lane] = scratch_ + lane * kBlockSize;
    }
    for (Index part = 0; part < n / V::kWidth / kBlockSize; ++part) {
      LeafPass<V, kLeafRadix>(in, n, roots_, part * kRunsPerBlock,
                              kRunsPerBlock, lanes);
      for (Index lane = 0; lane < V::kWidth; ++lane) {
        FftComplex* block =
            out + LaneStart<V::kWidth>(n, lane) + part * kBlockSize;
        Passes(lanes[lane], lanes[lane], block, kBlockSize, kLeafRadix);
      }
    }
    Stages(out, n);
  }

 private:
  // The leaf pass over all of an n-point transform.
  template <class U, int kRadix, class Input>
  void Leaf(const Input& in, FftComplex* out, Index n) const {
    FftComplex* lanes[U::kWidth];
    for (Index lane = 0; lane < U::kWidth; ++lane) {
      lanes[lane] = out + LaneStart<U::kWidth>(n, lane);
    }
    LeafPass<U, kRadix>(in, n, roots_, 0, n / kRadix / U::kWidth, lanes);
  }

  // The stages of sizes 2*done .. n over src[0 .. n-1], whose
  // sub-transforms of size `done` are done, in as few passes as the
  // registers allow: the first from src, the others in work, the last
  // into dst. n is below kAdjacentSpan.
  void Passes(const FftComplex* src, FftComplex* work, FftComplex* dst,
              Index n, Index done) const {
    const std::int32_t stages = StageCount(static_cast<std::int32_t>(n / done));
    const std::int32_t passes = (stages + kPassStages - 1) / kPassStages;
    for (std::int32_t pass = 0; pass < passes; ++pass) {
      const std::int32_t radix = 1 << PassShare(stages, passes, pass);
      FftComplex* to = pass == passes - 1 ? dst : work;
      if (radix * done <= kPreparedSpan) {
        Pass<PreparedRoots<V>>(src, to, n, done, radix);
      } else {
        Pass<AdjacentRoots<V>>(src, to, n, done, radix);
      }
      src = to;
      done *= radix;
    }
  }

  // One pass of the stages of sizes 2q .. radix*q over n values.
  template <class Source>
  void Pass(const FftComplex* src, FftComplex* dst, Index n, Index q,
            std::int32_t radix) const {
    Source sizes[kPassStages];
    for (std::int32_t t = 0; (2 << t) <= radix; ++t) {
      sizes[t] = Source(roots_, static_cast<std::int32_t>((2 << t) * q), sign_);
    }
    switch (radix) {
      case 2:
        return ColumnPass<V, 2>(src, dst, n, q, sizes);
      case 4:
        return ColumnPass<V, 4>(src, dst, n, q, sizes);
      default:
        assert(radix == 8);
        return ColumnPass<V, 8>(src, dst, n, q, sizes);
    }
  }

  // The stages of sizes 2 * kBlockSize .. n over out[0 .. n-1], whose
  // blocks are done: depth first, as in the plain recursion, the last
  // stages of n in one pass over it after those of its parts. (Across all
  // parts at once, a column's values would stand a multiple of 4 KiB apart
  // in more places than a first-level cache set holds.)
  void Stages(FftComplex* out, Index n) const {
    if (n <= kBlockSize) return;
    const std::int32_t stages = StageCount(static_cast<std::int32_t>(n / kBlockSize));
    const std::int32_t passes = (stages + kPassStages - 1) / kPassStages;
    const std::int32_t radix = 1 << PassShare(stages, passes, passes - 1);
    const Index q = n / radix;
    for (std::int32_t j = 0; j < radix; ++j) Stages(out + j * q, q);
    // The pass reads all its roots as its largest size has them.
    if (n <= kAdjacentSpan) return Over<AdjacentRoots<V>>(out, q, radix);
    Over<SpacedRoots<V>>(out, q, radix);
  }

  template <class Source>
  void Over(FftComplex* out, Index q, std::int32_t radix) const {
    switch (radix) {
      case 2:
        return Over<Source, 2>(out, q);
      case 4:
        return Over<Source, 4>(out, q);
      default:
        assert(radix == 8);
        return Over<Source, 8>(out, q);
    }
  }

  // The stages of sizes 2q .. kRadix*q over out[0 .. kRadix*q - 1], in
  // place, each column in the width its alignment allows.
  template <class Source, int kRadix>
  void Over(FftComplex* out, Index q) const {
    Source sizes[kPassStages];
    for (std::int32_t t = 0; (2 << t) <= kRadix; ++t) {
      sizes[t] = Source(roots_, static_cast<std::int32_t>((2 << t) * q), sign_);
    }
    ForColumns<V>(out, q, [&]<class U>(Index k) __attribute__((always_inline)) {
      Column<U, kRadix>(out + k, out + k, q, FetchedRoots<U, Source>(sizes, k, q));
    });
  }

  const FftRoots& roots_;
  std::int32_t sign_;
  alignas(64) FftComplex scratch_[V::kWidth * kBlockSize];
};

template <class V>
void TransformWith(const FftComplex* in, FftComplex* out, std::int32_t n,
                   std::int32_t stride, std::int32_t sign,
                   const FftRoots& roots) {
  Transformer<V>(roots, sign).Run(ComplexInput(in, stride), out, n);
}

// The forward transform of the digits, read where they are rather than
// from a staged copy, which would have to be written first.
template <class V>
void TransformDigitsWith(const Digit* digits, std::int32_t count,
                         std::int32_t n, FftComplex* out,
                         const FftRoots& roots) {
  Transformer<V>(roots, +1).Run(DigitInput(digits, count), out, n);
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

// The rounding of PlainRound, kLanes values at a time in the widest
// vectors of the instruction set, without a branch: NaN goes to the lower
// bound as std::max(-bound, NaN) sends it, and a NaN distance is kept apart
// from the maximum.
template <int kLanes>
struct LaneVectors;  // kLanes doubles, kLanes 32-bit integers
template <>
struct LaneVectors<2> {
  typedef double D __attribute__((vector_size(16)));
  typedef std::int32_t I __attribute__((vector_size(8)));
};
template <>
struct LaneVectors<4> {
  typedef double D __attribute__((vector_size(32)));
  typedef std::int32_t I __attribute__((vector_size(16)));
};
template <>
struct LaneVectors<8> {
  typedef double D __attribute__((vector_size(64)));
  typedef std::int32_t I __attribute__((vector_size(32)));
};

template <int kLanes>
void RoundWith(const FftComplex* values, std::int32_t count, double scale,
               std::int32_t* rounded, FftRoundOff& off) {
  using D = typename LaneVectors<kLanes>::D;
  using I = typename LaneVectors<kLanes>::I;
  constexpr double kBound = kValueBound;
  const D half = D{} + 0.5, one = D{} + 1.0;
  const D low = D{} - kBound, high = D{} + kBound;
  D largest = D{} + off.largest;
  D unordered = D{};  // one where a distance was NaN
  auto round = [&](const FftComplex* at) __attribute__((always_inline)) {
    // The real parts of kLanes values: two loads, one shuffle.
    D first, second;
    std::memcpy(&first, at, sizeof first);
    std::memcpy(&second, at + kLanes / 2, sizeof second);
    const D v = [&]<std::size_t... kI>(std::index_sequence<kI...>) {
      return __builtin_shufflevector(first, second, (2 * kI)...);
    }(std::make_index_sequence<kLanes>()) * scale;
    D y = v + half;
    y = y > low ? y : low;
    y = y < high ? y : high;
    const D below = __builtin_convertvector(__builtin_convertvector(y, I), D);
    const D nearest = below > y ? below - one : below;
    // The larger of the two differences, as PlainRound takes it.
    const D distance = v - nearest > nearest - v ? v - nearest : nearest - v;
    largest = distance > largest ? distance : largest;
    unordered = distance != distance ? one : unordered;
    return __builtin_convertvector(nearest, I);
  };
  std::int32_t j = 0;
  for (; j + kLanes <= count; j += kLanes) {
    const I x = round(values + j);
    std::memcpy(rounded + j, &x, sizeof x);
  }
  if (j < count) {
    // The last values again in the lanes past the end.
    FftComplex tail[kLanes];
    for (int l = 0; l < kLanes; ++l) tail[l] = values[j + std::min(l, count - j - 1)];
    const I x = round(tail);
    std::memcpy(rounded + j, &x, sizeof(std::int32_t) * (count - j));
  }
  for (int l = 0; l < kLanes; ++l) {
    off.largest = std::max(off.largest, largest[l]);
    off.unordered = off.unordered || unordered[l] != 0.0;
  }
}

}  // namespace
