// Division through Newton's reciprocal iteration and square roots through
// Heron's, both from a one-digit start and with fixed iteration counts.
#include "arith/newton.h"

#include "arith/additive.h"
#include "fft/fft_multiply.h"
#include "log/log.h"
#include "store/digits.h"
#include "store/work_pool.h"

namespace {

constexpr int kNewtonIterations = 15;
constexpr int kHeronIterations = 15;
// The leading digit of a number with no digits, or none in its top block.
constexpr std::uint32_t kNoLeadingDigit = 10000;
// Index of the start digit for a divisor led at index 0: the estimate lies
// seven places below it (10 / d at weight 10^(z - 4)).
constexpr std::uint32_t kEstimateShift = 7;

const Digit kOne[4] = {1, 0, 0, 0};

}  // namespace

int DecLeadDigit(const DecNumber& n, std::int8_t& digit, std::uint32_t& index) {
  digit = 1;
  index = 1;
  if (n.digitOrder == MostSignificantFirst) return 0;
  Digit* window = TakeBlock(SmallBlock);
  if (window == nullptr) {
    LogFailure(L"LocalAlloc() function fail");
    return 1;
  }
  // Probed only within the top block; a top block of zeros reads like an
  // empty number, as no leading digit.
  digit = 0;
  index = kNoLeadingDigit;
  if (n.length != 0) {
    ReadDigits(n, 0, kWindow - 1, window);
    for (std::uint32_t j = 0; j < kWindow; ++j) {
      const Digit d = window[kWindow - 1 - j];
      if (d != 0) {
        digit = d;
        index = j;
        break;
      }
    }
  }
  GiveBackBlock(window, SmallBlock);
  return 0;
}

int FirstEstimate(const DecNumber& x, DecNumber& r, const Digit* zeros) {
  std::int8_t d = 0;
  std::uint32_t z = 0;
  DecLeadDigit(x, d, z);
  if (d == 0) return 1;
  // Truncating, with d's sign: d = 1 gives the single position value 10.
  const Digit e = static_cast<Digit>(10 / d);
  AppendDigits(r, 0, 0, &e);
  if (z < kEstimateShift) AppendDigits(r, 0, kEstimateShift - 1 - z, zeros);
  return 0;
}

ScopedNumber DivUseNewton(const DecNumber& y, const DecNumber& x) {
  // Held for the whole call; zero-filled, it supplies the estimate's zeros.
  Digit* zeros = TakeBlock(SmallBlock);
  if (zeros == nullptr) {
    LogFailure(L"LocalAlloc() function fail");
    return ScopedNumber();
  }
  ScopedNumber r;
  if (FirstEstimate(x, *r, zeros) != 0) {
    // 10 / 0 has no first digit: hand back the empty estimate.
    LogFailure(L"Error:Divide by zero");
    GiveBackBlock(zeros, SmallBlock);
    return ScopedNumber::Copy(*r);
  }
  // R <- 2R - x R^2, which squares the error 1 - xR every time.
  for (int i = 0; i < kNewtonIterations; ++i) {
    ScopedNumber s = SquareNumber(*r);
    ScopedNumber p = MultiplyNumbers(x, *s);
    ScopedNumber d = DecDouble(*r);
    ScopedNumber difference = DecSub(*d, *p);
    Assign(*r, *difference);
  }
  {
    ScopedNumber quotient = MultiplyNumbers(*r, y);
    Assign(*r, *quotient);
  }
  GiveBackBlock(zeros, SmallBlock);
  return ScopedNumber::Copy(*r);
}

ScopedNumber SqrtUseHeron(const DecNumber& a) {
  ScopedNumber r;
  AppendDigits(*r, 0, 3, kOne);
  // R <- (R + a / R) / 2.
  for (int i = 0; i < kHeronIterations; ++i) {
    ScopedNumber quotient = DivUseNewton(a, *r);
    ScopedNumber sum = DecAdd(*r, *quotient);
    ScopedNumber half = DecHalve(*sum);
    Assign(*r, *half);
  }
  return r;
}
