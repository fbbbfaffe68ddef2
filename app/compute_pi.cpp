// Pi by the Gauss-Legendre iteration on decimal fixed-point numbers, padded
// with zero digits so that it spills into a temporary file, forced to disk,
// checked against the digits of a correct run and deleted again.
#include <algorithm>
#include <cstdint>

#include "app/program.h"
#include "arith/additive.h"
#include "arith/newton.h"
#include "fft/fft_multiply.h"
#include "log/log.h"
#include "platform/platform.h"
#include "store/dec_number.h"
#include "store/digits.h"

namespace {

// Constants in storage order, least significant digit first.
const Digit kOne[] = {1, 0, 0, 0};
const Digit kHalf[] = {5, 0, 0, 0, 0};
const Digit kQuarter[] = {5, 2, 0, 0, 0, 0};

// The iteration count is fixed: each iteration roughly doubles the correct
// digits, and 14 cover the 9993 fraction digits a LargeBlock leaves.
constexpr int kIterations = 14;
// kResultDigits plus kFillerDigits pass a LargeBlock, which moves the
// result into its temporary file.
static_assert(kResultDigits + kFillerDigits > kLargeBlockBytes);
constexpr std::uint32_t kPaddedDigits = kResultDigits + kFillerDigits;
constexpr std::uint32_t kIntegerPositions = 4;

void Load(DecNumber& n, const Digit* digits, std::uint32_t count) {
  AppendDigits(n, 0, count - 1, digits);
}

// One Gauss-Legendre step; every temporary dies right after its assignment,
// the most recent first, so its LargeBlock is free for the next step.
void Iterate(DecNumber& a, DecNumber& b, DecNumber& t, DecNumber& p,
             DecNumber& y) {
  Assign(y, a);
  {
    ScopedNumber sum = DecAdd(a, b);
    ScopedNumber mean = DecHalve(*sum);
    Assign(a, *mean);
  }
  {
    ScopedNumber product = MultiplyNumbers(b, y);
    ScopedNumber root = SqrtUseHeron(*product);
    Assign(b, *root);
  }
  {
    ScopedNumber difference = DecSub(y, a);
    ScopedNumber square = SquareNumber(*difference);
    ScopedNumber correction = MultiplyNumbers(*square, p);
    Assign(y, *correction);
  }
  {
    ScopedNumber reduced = DecSub(t, y);
    Assign(t, *reduced);
  }
  {
    ScopedNumber doubled = DecDouble(p);
    Assign(p, *doubled);
  }
}

// pi = (a + b)^2 / (4t), left in a.
void FinalFormula(DecNumber& a, DecNumber& b, DecNumber& t) {
  {
    ScopedNumber sum = DecAdd(a, b);
    ScopedNumber square = SquareNumber(*sum);
    Assign(a, *square);
  }
  {
    ScopedNumber half = DecHalve(a);
    ScopedNumber quarter = DecHalve(*half);
    ScopedNumber quotient = DivUseNewton(*quarter, t);
    Assign(a, *quotient);
  }
}

// Pads the result with zero digits, which moves it into its temporary file,
// and forces that file to disk.
void SpillToDisk(DecNumber& result, const Digit* filler) {
  if (result.inMemory != 1) return;
  AppendDigits(result, 0, kFillerDigits - 1, filler);
  // A spill that failed has said so and left the digits in memory; there is
  // nothing on disk to flush.
  if (result.inMemory != 0 || !HasOpenFile(result)) return;
  if (!platform::FlushFileBuffers(result.file)) {
    WriteLog(L"FlushFileBuffers() function fail", platform::GetLastError(), 1);
  }
}

Digit CorrectDigit(std::uint32_t index) {
  return index < kResultDigits
             ? static_cast<Digit>(kCorrectResultDigits[index] - '0')
             : 0;
}

// Index of the first digit of the padded result that differs from a correct
// run's, read `width` digits at a time into `window`; kPaddedDigits when
// none does.
std::uint32_t FirstWrongDigit(const DecNumber& result, Digit* window,
                              std::uint32_t width) {
  for (std::uint32_t low = 0; low < kPaddedDigits; low += width) {
    const std::uint32_t count = std::min(width, kPaddedDigits - low);
    // Digits that cannot be read back cannot be vouched for either.
    if (ReadInIndexOrder(result, low, low + count - 1, window) != 0) return low;
    for (std::uint32_t j = 0; j < count; ++j) {
      if (window[j] != CorrectDigit(low + j)) return low + j;
    }
  }
  return kPaddedDigits;
}

}  // namespace

void (*computePiStepHook)(int, DecNumber&, DecNumber&, DecNumber&,
                          DecNumber&) = nullptr;

void CheckPiResult(const DecNumber& result) {
  // A SmallBlock holds a window; without one (the pool has said so) the
  // digits come one at a time through a byte of the check's own, slower
  // but to the same verdict.
  Digit* block = TakeBlock(SmallBlock);
  Digit single = 0;
  const std::uint32_t wrong =
      block != nullptr ? FirstWrongDigit(result, block, kSmallBlockBytes)
                       : FirstWrongDigit(result, &single, 1);
  GiveBackBlock(block, SmallBlock);
  if (wrong == kPaddedDigits) return;
  const std::uint32_t digit =
      wrong < kIntegerPositions ? 0 : wrong - (kIntegerPositions - 1);
  wchar_t text[platform::kPathUnits];
  FormatToBuffer(text, L"Error:Pi result check fail at digit %u",
                 static_cast<unsigned>(digit));
  WriteLog(text, 0, 1);
}

std::int32_t ComputePi() {
  ResetRoundOffCheck();
  auto* filler = static_cast<Digit*>(
      platform::LocalAlloc(platform::kAllocZeroInit, kFillerDigits));
  if (filler == nullptr) return 3;

  // Declared in construction order, so they are destroyed y, p, t, b, a.
  ScopedNumber a;
  Load(*a, kOne, sizeof kOne);
  ScopedNumber b;
  Load(*b, kHalf, sizeof kHalf);
  ScopedNumber t;
  Load(*t, kQuarter, sizeof kQuarter);
  ScopedNumber p;
  Load(*p, kOne, sizeof kOne);
  ScopedNumber y;

  {
    ScopedNumber root = SqrtUseHeron(*b);
    Assign(*b, *root);
  }
  for (int i = 1; i <= kIterations; ++i) {
    Iterate(*a, *b, *t, *p, *y);
    if (computePiStepHook != nullptr) computePiStepHook(i, *a, *b, *t, *p);
  }
  FinalFormula(*a, *b, *t);

  DecNormalize(*a);
  ReverseDigits(*a);
  SpillToDisk(*a, filler);
  // Before the file is deleted, and wherever a failed spill left the digits.
  CheckPiResult(*a);
  platform::LocalFree(filler);
  return 0;
}
