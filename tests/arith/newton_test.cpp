#include "arith/newton.h"

#include <gtest/gtest.h>

#include "arith/additive.h"
#include "fft/fft_tables.h"
#include "tests/arith/arith_support.h"

namespace {

using arithtest::ArithTest;
using arithtest::Digits;
using arithtest::Make;
using arithtest::Padded;
using arithtest::Parse;
using arithtest::Read;
using arithtest::Sparse;

using Strings = std::vector<std::string>;

// The FFT tables on top of the arithmetic fixture.
class NewtonTest : public ArithTest {
 protected:
  void SetUp() override { ASSERT_EQ(InitFftTables(), 0); }
  void TearDown() override {
    FreeFftTables();
    ArithTest::TearDown();
  }

  // p / q by schoolbook long division: four integer digits, then `fraction`
  // fraction digits, truncated.
  static Digits LongDivision(int p, int q, std::size_t fraction) {
    Digits digits;
    int whole = p / q;
    for (int weight = 1000; weight > 0; weight /= 10) {
      digits.push_back(whole / weight % 10);
    }
    int remainder = p % q;
    for (std::size_t k = 0; k < fraction; ++k) {
      remainder *= 10;
      digits.push_back(remainder / q);
      remainder %= q;
    }
    return digits;
  }

  // Index of the leading digit of |a - b|, or -1 when they are equal.
  static int LeadingDifference(const DecNumber& a, const DecNumber& b) {
    auto difference = DecSub(a, b);
    EXPECT_EQ(DecNormalize(*difference), 0);
    const Digits digits = Read(*difference);
    for (std::size_t j = 0; j < digits.size(); ++j) {
      if (digits[j] != 0) return static_cast<int>(j);
    }
    return -1;
  }

  // The normalised digits of a positive result.
  static Digits Normalized(DecNumber& n) {
    EXPECT_EQ(DecNormalize(n), 0);
    return Read(n);
  }

  static Digits Head(const Digits& digits, std::size_t count) {
    return Digits(digits.begin(), digits.begin() + std::min(count, digits.size()));
  }
};

class DecLeadDigitTest : public NewtonTest {};

TEST_F(DecLeadDigitTest, FindsTheFirstNonZeroDigitOfTheTopWindowOnly) {
  struct Case {
    Digits n;
    std::int8_t digit;
    std::uint32_t index;
  };
  const Case cases[] = {
      {Parse("0.007"), 7, 6},
      {{0, 0, 0, 0, -3, 9}, -3, 4},
      {Sparse(100, {{99, 4}}), 4, 99},
      // Nothing to find, or nothing in the top window: no leading digit.
      {{}, 0, 10000},
      {Sparse(200, {{100, 1}}), 0, 10000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.n));
    std::int8_t d = 5;
    std::uint32_t z = 5;
    EXPECT_EQ(DecLeadDigit(*Make(c.n), d, z), 0);
    EXPECT_EQ(d, c.digit);
    EXPECT_EQ(z, c.index);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecLeadDigitTest, PresetsWhenMostSignificantFirstOrNoSmallBlock) {
  std::int8_t d = 0;
  std::uint32_t z = 0;
  auto n = Make("0.007");
  ASSERT_EQ(ReverseDigits(*n), 0);
  EXPECT_EQ(DecLeadDigit(*n, d, z), 0);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(z, 1u);
  EXPECT_TRUE(Messages().empty());
  ASSERT_EQ(ReverseDigits(*n), 0);

  arithtest::SmallBlocksHeld busy;
  d = 0;
  z = 0;
  EXPECT_EQ(DecLeadDigit(*n, d, z), 1);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(z, 1u);
  EXPECT_EQ(Messages(), (Strings{"LocalAlloc() function fail 1",
                                 "LocalAlloc() function fail"}));
}

class DivFirstEstimateTest : public NewtonTest {
 protected:
  // The estimate's digits by index, or nothing when there is none.
  Digits Estimate(const DecNumber& x, int expectedResult = 0) {
    ScopedNumber r;
    EXPECT_EQ(FirstEstimate(x, *r, zeros_), expectedResult);
    EXPECT_EQ(r->digitOrder, LeastSignificantFirst);
    return Read(*r);
  }

 private:
  const Digit zeros_[100] = {};
};

TEST_F(DivFirstEstimateTest, OneDigitTimesAPowerOfTen) {
  // 8 - z digits, e = 10 / d truncated with d's sign at index 7 - z; one
  // digit once d leads at index 7 or below; none for a zero divisor.
  struct Case {
    Digits x;
    int result;
    Digits estimate;
  };
  const Case cases[] = {
      {Parse("1"), 0, {0, 0, 0, 0, 10}},
      {Parse("0.5"), 0, {0, 0, 0, 2}},
      {Parse("3"), 0, {0, 0, 0, 0, 3}},
      {Parse("0.007"), 0, {0, 1}},
      {Parse("0.25"), 0, {0, 0, 0, 5}},
      {Parse("0.4"), 0, {0, 0, 0, 2}},
      {Parse("0.6"), 0, {0, 0, 0, 1}},
      {Parse("1.99"), 0, {0, 0, 0, 0, 10}},
      {Parse("42"), 0, {0, 0, 0, 0, 0, 2}},
      {Parse("0.0001"), 0, {10}},
      {Parse("0.00002"), 0, {5}},
      {{0, 0, 0, 0, -4, 7}, 0, {0, 0, 0, -2}},
      {{}, 1, {}},
      {Sparse(150, {{120, 3}}), 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.x));
    EXPECT_EQ(Estimate(*Make(c.x), c.result), c.estimate);
  }
}

TEST_F(DivFirstEstimateTest, ProbeWithoutSmallBlockStartsFromAHundredth) {
  auto x = Make("0.5");
  arithtest::SmallBlocksHeld busy;
  EXPECT_EQ(Estimate(*x), (Digits{0, 0, 0, 0, 0, 0, 10}));
  EXPECT_EQ(Messages(), (Strings{"LocalAlloc() function fail 1",
                                 "LocalAlloc() function fail"}));
}

class DivUseNewtonTest : public NewtonTest {};

TEST_F(DivUseNewtonTest, QuotientsToAllButTheLastTenDigits) {
  for (const auto& [p, q] : {std::pair{1, 3}, std::pair{22, 7}}) {
    SCOPED_TRACE(std::to_string(p) + " / " + std::to_string(q));
    auto y = Make(std::to_string(p));
    auto x = Make(std::to_string(q));
    auto quotient = DivUseNewton(*y, *x);
    EXPECT_EQ(quotient->length, 9997u);
    EXPECT_EQ(quotient->digitOrder, LeastSignificantFirst);
    EXPECT_EQ(Head(Normalized(*quotient), 4 + 9983), LongDivision(p, q, 9983));
    EXPECT_EQ(Read(*y), Parse(std::to_string(p)));
    EXPECT_EQ(Read(*x), Parse(std::to_string(q)));
  }
  EXPECT_TRUE(Messages().empty());
}

// Results handed out by copy construction hold their LargeBlock alone once
// the operation has returned, so assigning into one, a copy into that
// block, reaches no other number.
TEST_F(DivUseNewtonTest, ResultsHoldTheirBlocksAlone) {
  auto y = Make("22");
  auto x = Make("7");
  ScopedNumber results[] = {DecAdd(*y, *x), DecSub(*y, *x), DecHalve(*y),
                            DecDouble(*y), DivUseNewton(*y, *x)};
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), 2u + 5u);
  for (ScopedNumber& r : results) {
    Assign(*r, *x);
    EXPECT_EQ(Read(*r), Parse("7"));
  }
  EXPECT_EQ(Read(*y), Parse("22"));
}

TEST_F(DivUseNewtonTest, RunsExactlyFifteenIterations) {
  // From R = 1 the error 1 - 1.99 R = -0.99 is squared by every iteration,
  // so after 15 of them R = (1 - 0.99^32768) / 1.99, short of 100/199 by
  // 4.7e-144: the difference leads at index 3 + 144. Fourteen iterations
  // would leave it at index 75, sixteen at index 290.
  auto one = Make("1");
  auto x = Make("1.99");
  auto quotient = DivUseNewton(*one, *x);
  auto exact = Make(LongDivision(100, 199, 9993));
  EXPECT_EQ(LeadingDifference(*exact, *quotient), 147);
}

TEST_F(DivUseNewtonTest, FileHeldOperandsGiveTheInMemoryQuotient) {
  const Digits y = Parse("0.9713");
  const Digits x = Parse("0.2347");
  auto memY = Make(y), memX = Make(x);
  auto fileY = arithtest::MakeInFile(y), fileX = arithtest::MakeInFile(x);
  ASSERT_EQ(fileX->inMemory, 0);
  auto inMemory = DivUseNewton(*memY, *memX);
  auto fromFiles = DivUseNewton(*fileY, *fileX);
  EXPECT_EQ(fromFiles->length, 9997u);
  EXPECT_EQ(Read(*fromFiles), Read(*inMemory));
  EXPECT_EQ(Head(Normalized(*fromFiles), 4 + 9983),
            LongDivision(9713, 2347, 9983));
}

TEST_F(DivUseNewtonTest, ZeroDivisorGivesAnEmptyNumberAndARecord) {
  auto one = Make("1");
  ScopedNumber empty;
  const std::uint32_t large = testsupport::PoolScope::Held(LargeBlock);
  EXPECT_EQ(DivUseNewton(*one, *empty)->length, 0u);
  auto zeroTop = Make(Sparse(300, {{200, 7}}));
  EXPECT_EQ(DivUseNewton(*one, *zeroTop)->length, 0u);
  EXPECT_EQ(Messages(), (Strings{"Error:Divide by zero", "Error:Divide by zero"}));
  for (const LogRecord& record : Records()) {
    EXPECT_EQ(record.comCode, 0u);
    EXPECT_EQ(record.externalCode, 1u);
  }
  EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), 0u);
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), large + 1);
}

TEST_F(DivUseNewtonTest, WithoutSmallBlockGivesAnEmptyNumber) {
  auto one = Make("1");
  auto three = Make("3");
  arithtest::SmallBlocksHeld busy;
  const std::uint32_t large = testsupport::PoolScope::Held(LargeBlock);
  EXPECT_EQ(DivUseNewton(*one, *three)->length, 0u);
  EXPECT_EQ(Messages(), (Strings{"LocalAlloc() function fail 1",
                                 "LocalAlloc() function fail"}));
  EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), large);
}

class SqrtUseHeronTest : public NewtonTest {};

TEST_F(SqrtUseHeronTest, RootOfOneStaysExactlyOne) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  auto one = Make("1");
  auto root = SqrtUseHeron(*one);
  EXPECT_EQ(root->digitOrder, LeastSignificantFirst);
  const Digits digits = Read(*root);
  ASSERT_GE(digits.size(), 4u);
  EXPECT_EQ(digits, Padded({0, 0, 0, 1}, digits.size()));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(SqrtUseHeronTest, RunsExactlyFifteenIterations) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  // From 1 towards 0.2 Heron's iteration first nearly halves, then doubles
  // the correct digits: after 15 iterations R - 0.2 = 2.8e-5771, leading at
  // index 3 + 5771. Fourteen iterations would leave 3.3e-2886; a sixteenth
  // would reach the precision of the divisions.
  auto a = Make("0.04");
  auto root = SqrtUseHeron(*a);
  auto exact = Make("0.2");
  EXPECT_EQ(LeadingDifference(*root, *exact), 5774);
  EXPECT_EQ(Read(*a), Parse("0.04"));
}

}  // namespace
