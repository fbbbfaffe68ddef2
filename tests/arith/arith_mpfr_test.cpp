// The arithmetic against GMP and MPFR: sums, differences, halves and doubles
// digit for digit, quotients and square roots in all but their last ten
// fraction digits.
#include <gmp.h>
#include <mpfr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <random>
#include <iterator>
#include <string>

#include "arith/additive.h"
#include "arith/newton.h"
#include "fft/fft_tables.h"
#include "tests/arith/arith_support.h"

namespace {

using arithtest::ArithTest;
using arithtest::Digits;
using arithtest::Make;
using arithtest::Read;

constexpr mpfr_prec_t kBits = 34000;  // about 10235 decimal digits

// An mpz that cleans up after itself.
struct Integer {
  Integer() { mpz_init(z); }
  ~Integer() { mpz_clear(z); }
  Integer(const Integer&) = delete;
  Integer& operator=(const Integer&) = delete;
  mpz_t z;
};

struct Real {
  Real() { mpfr_init2(x, kBits); }
  ~Real() { mpfr_clear(x); }
  Real(const Real&) = delete;
  Real& operator=(const Real&) = delete;
  mpfr_t x;
};

// The value of signed digits times 10^(scale - 4): the integer whose
// decimal digits are the number's, padded or cut to `scale` digits.
void Scaled(const Digits& digits, std::size_t scale, mpz_t out) {
  std::string positive(scale, '0');
  std::string negative(scale, '0');
  for (std::size_t j = 0; j < digits.size(); ++j) {
    EXPECT_TRUE(j < scale || digits[j] == 0) << "digit beyond the scale";
    if (j >= scale) continue;
    if (digits[j] > 0) positive[j] = static_cast<char>('0' + digits[j]);
    if (digits[j] < 0) negative[j] = static_cast<char>('0' - digits[j]);
  }
  Integer minus;
  mpz_set_str(out, positive.c_str(), 10);
  mpz_set_str(minus.z, negative.c_str(), 10);
  mpz_sub(out, out, minus.z);
}

// The ordinary digits of a non-negative integer below 10^scale.
Digits DigitsOf(const mpz_t value, std::size_t scale) {
  EXPECT_GE(mpz_sgn(value), 0);
  std::string text(mpz_sizeinbase(value, 10) + 2, '\0');
  mpz_get_str(text.data(), 10, value);
  text.resize(std::char_traits<char>::length(text.c_str()));
  if (text == "0") text.clear();
  EXPECT_LE(text.size(), scale);
  Digits digits(scale - text.size(), 0);
  for (char c : text) digits.push_back(c - '0');
  return digits;
}

// The number's value as a real.
void ValueOf(const Digits& digits, mpfr_t out) {
  Integer scaled, power;
  Scaled(digits, digits.size(), scaled.z);
  mpz_ui_pow_ui(power.z, 10, digits.size() - 4);
  Real denominator;
  mpfr_set_z(out, scaled.z, MPFR_RNDN);
  mpfr_set_z(denominator.x, power.z, MPFR_RNDN);
  mpfr_div(out, out, denominator.x, MPFR_RNDN);
}

bool InDigitRange(const Digits& digits, int low, int high) {
  for (int d : digits) {
    if (d < low || d > high) return false;
  }
  return true;
}

std::size_t Rounded(std::size_t length) { return (length + 99) / 100 * 100; }

class ArithOracleTest : public ArithTest {
 protected:
  Digits Random(std::size_t length, int low, int high, int top = 9) {
    Digits digits(length);
    std::uniform_int_distribution<int> pick(low, high);
    for (int& d : digits) d = pick(random_);
    // Keep sums and doubles inside the four integer digits when asked.
    digits[0] = std::uniform_int_distribution<int>(std::max(low, -top),
                                                   std::min(high, top))(random_);
    return digits;
  }
  std::size_t Length() {
    static const std::size_t kLengths[] = {1, 4, 99, 100, 101, 777, 5000,
                                           9997, 10000, 10001, 12345};
    return kLengths[std::uniform_int_distribution<std::size_t>(
        0, std::size(kLengths) - 1)(random_)];
  }

  std::mt19937 random_{20240601};
};

TEST_F(ArithOracleTest, SumsOfOrdinaryDigitsDigitForDigit) {
  for (int round = 0; round < 12; ++round) {
    const Digits a = Random(Length(), 0, 9), b = Random(Length(), 0, 9);
    SCOPED_TRACE("lengths " + std::to_string(a.size()) + ", " +
                 std::to_string(b.size()));
    auto na = Make(a), nb = Make(b);
    const std::size_t scale = Rounded(std::max(a.size(), b.size()));
    const std::size_t before = Messages().size();
    auto sum = DecAdd(*na, *nb);
    Integer x, y, expected, modulus;
    Scaled(a, scale, x.z);
    Scaled(b, scale, y.z);
    mpz_add(expected.z, x.z, y.z);
    // A carry out of the thousands is dropped and reported.
    mpz_ui_pow_ui(modulus.z, 10, scale);
    const bool overflow = mpz_cmp(expected.z, modulus.z) >= 0;
    mpz_mod(expected.z, expected.z, modulus.z);
    EXPECT_EQ(Read(*sum), DigitsOf(expected.z, scale));
    EXPECT_EQ(Messages().size() - before, overflow ? 1u : 0u);
  }
}

TEST_F(ArithOracleTest, DifferencesAreExactAndNormaliseToTheMagnitude) {
  for (int round = 0; round < 12; ++round) {
    const Digits a = Random(Length(), 0, 9), b = Random(Length(), 0, 9);
    SCOPED_TRACE("lengths " + std::to_string(a.size()) + ", " +
                 std::to_string(b.size()));
    auto na = Make(a), nb = Make(b);
    const std::size_t scale = Rounded(std::max(a.size(), b.size()));
    auto difference = DecSub(*na, *nb);
    const Digits raw = Read(*difference);
    EXPECT_TRUE(InDigitRange(raw, -9, 9));
    Integer x, y, expected, got;
    Scaled(a, scale, x.z);
    Scaled(b, scale, y.z);
    mpz_sub(expected.z, x.z, y.z);
    Scaled(raw, scale, got.z);
    EXPECT_EQ(mpz_cmp(got.z, expected.z), 0);
    ASSERT_EQ(DecNormalize(*difference), 0);
    mpz_abs(expected.z, expected.z);
    EXPECT_EQ(Read(*difference), DigitsOf(expected.z, scale));
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ArithOracleTest, SignedDigitSumsAndDifferencesAreExact) {
  for (int round = 0; round < 12; ++round) {
    const Digits a = Random(Length(), -9, 9, 4), b = Random(Length(), -9, 9, 4);
    SCOPED_TRACE("lengths " + std::to_string(a.size()) + ", " +
                 std::to_string(b.size()));
    auto na = Make(a), nb = Make(b);
    const std::size_t scale = Rounded(std::max(a.size(), b.size()));
    Integer x, y, expected, got;
    Scaled(a, scale, x.z);
    Scaled(b, scale, y.z);

    const Digits sum = Read(*DecAdd(*na, *nb));
    EXPECT_TRUE(InDigitRange(sum, -9, 9));
    mpz_add(expected.z, x.z, y.z);
    Scaled(sum, scale, got.z);
    EXPECT_EQ(mpz_cmp(got.z, expected.z), 0);

    const Digits difference = Read(*DecSub(*na, *nb));
    EXPECT_TRUE(InDigitRange(difference, -9, 9));
    mpz_sub(expected.z, x.z, y.z);
    Scaled(difference, scale, got.z);
    EXPECT_EQ(mpz_cmp(got.z, expected.z), 0);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ArithOracleTest, HalvesAndDoublesDigitForDigit) {
  for (int round = 0; round < 12; ++round) {
    const Digits a = Random(Length(), 0, 9);
    SCOPED_TRACE("length " + std::to_string(a.size()));
    auto na = Make(a);
    const std::size_t scale = Rounded(a.size());
    Integer x, expected, modulus;
    Scaled(a, scale, x.z);

    mpz_fdiv_q_2exp(expected.z, x.z, 1);
    EXPECT_EQ(Read(*DecHalve(*na)), DigitsOf(expected.z, scale));

    mpz_mul_2exp(expected.z, x.z, 1);
    mpz_ui_pow_ui(modulus.z, 10, scale);
    mpz_mod(expected.z, expected.z, modulus.z);
    EXPECT_EQ(Read(*DecDouble(*na)), DigitsOf(expected.z, scale));
  }
  // Doubling drops its carry without a record.
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ArithOracleTest, HalvesAndDoublesOfSignedDigits) {
  for (int round = 0; round < 12; ++round) {
    const Digits a = Random(Length(), -9, 9, 4);
    SCOPED_TRACE("length " + std::to_string(a.size()));
    auto na = Make(a);
    const std::size_t scale = Rounded(a.size());
    Integer x, got, error;
    Scaled(a, scale, x.z);

    const Digits twice = Read(*DecDouble(*na));
    EXPECT_TRUE(InDigitRange(twice, -9, 9));
    Scaled(twice, scale, got.z);
    mpz_mul_2exp(error.z, x.z, 1);
    EXPECT_EQ(mpz_cmp(got.z, error.z), 0);

    // Twice the half misses the number by the dropped remainder, at most
    // one unit of the last place.
    const Digits half = Read(*DecHalve(*na));
    EXPECT_TRUE(InDigitRange(half, -9, 9));
    Scaled(half, scale, got.z);
    mpz_mul_2exp(got.z, got.z, 1);
    mpz_sub(error.z, x.z, got.z);
    EXPECT_LE(mpz_cmpabs_ui(error.z, 1), 0);
  }
}

// Quotients and roots in the range of the pi computation, against MPFR.
class ArithOracleNewtonTest : public ArithOracleTest {
 protected:
  void SetUp() override { ASSERT_EQ(InitFftTables(), 0); }
  void TearDown() override {
    FreeFftTables();
    ArithOracleTest::TearDown();
  }

  // A number of `length` digits in [low, low + 10^-k) for the given leading
  // fraction digits: 0 . lead... followed by random digits.
  Digits Operand(const std::string& lead, std::size_t length) {
    Digits digits = Random(length, 0, 9);
    for (std::size_t j = 0; j < 4; ++j) digits[j] = 0;
    for (std::size_t k = 0; k < lead.size(); ++k) digits[4 + k] = lead[k] - '0';
    return digits;
  }

  // |result - exact| below one unit of the tenth-last fraction digit.
  static void ExpectAgrees(const Digits& result, const mpfr_t exact) {
    ASSERT_GT(result.size(), 14u);
    Real got, bound;
    ValueOf(result, got.x);
    mpfr_sub(got.x, got.x, exact, MPFR_RNDN);
    mpfr_abs(got.x, got.x, MPFR_RNDN);
    mpfr_set_ui(bound.x, 10, MPFR_RNDN);
    mpfr_pow_si(bound.x, bound.x,
                -static_cast<long>(result.size() - 4 - 10), MPFR_RNDN);
    long exponent = 0;
    if (!mpfr_zero_p(got.x)) mpfr_get_d_2exp(&exponent, got.x, MPFR_RNDN);
    EXPECT_LT(mpfr_cmp(got.x, bound.x), 0)
        << "error about 10^" << static_cast<long>(exponent * 0.30103);
    std::printf("  error about 10^%ld over %zu fraction digits\n",
                static_cast<long>(exponent * 0.30103), result.size() - 4);
  }

  // Wall and processor time since construction, for the report.
  struct Stopwatch {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    std::clock_t cpu = std::clock();
    void Print(const char* what) const {
      std::printf("  %s took %.2f s (%.2f s processor)\n", what,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() -
                                                wall)
                      .count(),
                  double(std::clock() - cpu) / CLOCKS_PER_SEC);
    }
  };
};

TEST_F(ArithOracleNewtonTest, QuotientsAgreeInAllButTheLastTenDigits) {
  struct Case {
    std::string dividendLead, divisorLead;
    std::size_t dividendLength, divisorLength;
  };
  // Divisors led by each of 2..9 below one, like the Heron estimates and
  // the final t, and dividends between 0.5 and 1.
  const Case cases[] = {
      {"9", "23", 9997, 9997},  // the final quotient of pi: (a+b)^2/4 by t
      {"5", "7", 9997, 10000},
      {"8", "39", 10000, 9997},
      {"71", "9", 6, 9997},
      {"6", "45", 9997, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("0." + c.dividendLead + "... / 0." + c.divisorLead + "...");
    const Digits y = Operand(c.dividendLead, c.dividendLength);
    const Digits x = Operand(c.divisorLead, c.divisorLength);
    auto ny = Make(y), nx = Make(x);
    const Stopwatch watch;
    auto quotient = DivUseNewton(*ny, *nx);
    watch.Print("division");
    EXPECT_EQ(quotient->length, 9997u);
    Real exact, divisor;
    ValueOf(y, exact.x);
    ValueOf(x, divisor.x);
    mpfr_div(exact.x, exact.x, divisor.x, MPFR_RNDN);
    ExpectAgrees(Read(*quotient), exact.x);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ArithOracleNewtonTest, SquareRootsAgreeInAllButTheLastTenDigits) {
  // sqrt(0.5) is the first root of the pi computation; the second operand
  // is a full-length number like the products b * y it takes later.
  const Digits cases[] = {arithtest::Parse("0.5"), Operand("85", 9997)};
  for (const Digits& a : cases) {
    SCOPED_TRACE("length " + std::to_string(a.size()));
    auto na = Make(a);
    const Stopwatch watch;
    auto root = SqrtUseHeron(*na);
    watch.Print("square root");
    Real exact;
    ValueOf(a, exact.x);
    mpfr_sqrt(exact.x, exact.x, MPFR_RNDN);
    ExpectAgrees(Read(*root), exact.x);
  }
  EXPECT_TRUE(Messages().empty());
}

}  // namespace
