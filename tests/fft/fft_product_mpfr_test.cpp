// Products and squares of numbers against an independent oracle: GNU MPFR
// for the exact product, GMP integers for the cut one.
#include <gmp.h>
#include <mpfr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fft/fft_multiply.h"
#include "fft/fft_tables.h"
#include "tests/fft/fft_support.h"
#include "tests/support/fixtures.h"

namespace {

using ffttest::Digits;

constexpr std::int64_t kCapacity = 10000;

// RAII over the C types of the oracle.
struct Integer {
  Integer() { mpz_init(v); }
  ~Integer() { mpz_clear(v); }
  Integer(const Integer&) = delete;
  Integer& operator=(const Integer&) = delete;
  mpz_t v;
};

// out = 10 out + d, for a digit of either sign.
void AppendDigit(mpz_t out, int d) {
  mpz_mul_ui(out, out, 10);
  if (d >= 0) {
    mpz_add_ui(out, out, d);
  } else {
    mpz_sub_ui(out, out, -d);
  }
}

// The integer whose decimal digits (most significant first, any sign) are
// the first `count` of `digits` (zeros past the end).
void ValueOf(const Digits& digits, std::size_t count, mpz_t out) {
  mpz_set_ui(out, 0);
  for (std::size_t i = 0; i < count; ++i) {
    AppendDigit(out, i < digits.size() ? digits[i] : 0);
  }
}

// a x b exactly, through MPFR at a precision that holds every bit.
void ExactProduct(const mpz_t a, const mpz_t b, mpz_t out) {
  const mpfr_prec_t bits = static_cast<mpfr_prec_t>(mpz_sizeinbase(a, 2) +
                                                    mpz_sizeinbase(b, 2) + 2);
  mpfr_t x, y, p;
  mpfr_inits2(bits, x, y, p, static_cast<mpfr_ptr>(nullptr));
  EXPECT_EQ(mpfr_set_z(x, a, MPFR_RNDN), 0);
  EXPECT_EQ(mpfr_set_z(y, b, MPFR_RNDN), 0);
  EXPECT_EQ(mpfr_mul(p, x, y, MPFR_RNDN), 0) << "product not exact";
  mpfr_get_z(out, p, MPFR_RNDN);
  mpfr_clears(x, y, p, static_cast<mpfr_ptr>(nullptr));
}

// The value of the first `kept` convolution positions with nothing carried
// in from the positions beyond: sum over i of a[i] times the integer of
// b's first kept - i digits, since digit i of a meets digit j of b in
// position i + j.
void KeptConvolution(const Digits& a, const Digits& b, std::int64_t kept,
                     mpz_t out) {
  mpz_set_ui(out, 0);
  const std::int64_t last = std::min<std::int64_t>(a.size(), kept) - 1;
  Integer prefix;  // b's first (kept - i) digits, grown as i falls
  ValueOf(b, kept - last, prefix.v);
  for (std::int64_t i = last; i >= 0; --i) {
    if (a[i] >= 0) {
      mpz_addmul_ui(out, prefix.v, a[i]);
    } else {
      mpz_submul_ui(out, prefix.v, -a[i]);
    }
    const std::int64_t next = kept - i;  // index of b's next digit
    if (i > 0) {
      AppendDigit(prefix.v, next < static_cast<std::int64_t>(b.size()) ? b[next] : 0);
    }
  }
}

struct Expected {
  Digits digits;      // ordinary digits only: the exact result
  Integer value;      // the kept positions' value, for signed digits
  std::int64_t length = 0;
  bool cutChanged = false;  // the cut dropped a carry a floor would keep
};

void Oracle(const Digits& a, const Digits& b, Expected& e) {
  const std::int64_t positions = static_cast<std::int64_t>(a.size() + b.size()) - 1;
  const std::int64_t kept = std::min(positions, kCapacity);
  e.length = kept - 3;
  KeptConvolution(a, b, kept, e.value.v);

  Integer x, y, product;
  ValueOf(a, a.size(), x.v);
  ValueOf(b, b.size(), y.v);
  ExactProduct(x.v, y.v, product.v);
  if (positions == kept) {
    EXPECT_EQ(mpz_cmp(product.v, e.value.v), 0) << "oracles disagree";
  } else {
    // Cut: the kept value is the exact product's leading part less the
    // carry that the cut positions would have sent up.
    Integer power, floorPart, carry;
    mpz_ui_pow_ui(power.v, 10, positions - kept);
    mpz_tdiv_q(floorPart.v, product.v, power.v);
    mpz_sub(carry.v, floorPart.v, e.value.v);
    if (mpz_sgn(x.v) >= 0 && mpz_sgn(y.v) >= 0) {
      EXPECT_GE(mpz_sgn(carry.v), 0);
      EXPECT_LT(mpz_cmp_ui(carry.v, 90000), 0);
    }
    e.cutChanged = mpz_sgn(carry.v) != 0;
  }

  // The digits: the kept value modulo 10^kept (the carry out of the top
  // is lost), written in `kept` places, the first three dropped.
  Integer modulus, rest;
  mpz_ui_pow_ui(modulus.v, 10, kept);
  mpz_mod(rest.v, e.value.v, modulus.v);
  std::vector<char> text(mpz_sizeinbase(rest.v, 10) + 2);
  mpz_get_str(text.data(), 10, rest.v);
  const std::string s(text.data());
  const std::string padded = std::string(kept - s.size(), '0') + s;
  for (std::size_t i = 3; i < padded.size(); ++i) {
    e.digits.push_back(static_cast<Digit>(padded[i] - '0'));
  }
}

class ProductOracleTest : public ::testing::Test {
 protected:
  static ScopedNumber Make(const Digits& msf) {
    ScopedNumber n;
    ffttest::Fill(*n, msf);
    return n;
  }

  testsupport::ScratchDir scratch_;
  testsupport::LogCapture log_;
  testsupport::PoolScope pool_;
  ffttest::TablesScope tables_;
};

// Each first factor is also squared.
TEST_F(ProductOracleTest, ProductsAndSquaresOfOrdinaryDigitsAreTheExactOnesTruncated) {
  std::mt19937 random(314159);
  std::vector<std::pair<std::size_t, std::size_t>> lengths = {
      {4, 4},       {4, 5},       {5, 7},       {13, 100},    {99, 4},
      {1000, 4},    {1234, 4321}, {4999, 2},    {5000, 5000}, {5000, 5001},
      {5001, 5001}, {2, 9999},    {3, 9999},    {7777, 8},    {9999, 9999},
      {10000, 4},   {10000, 10000}};
  std::uniform_int_distribution<std::size_t> any(4, 10000);
  for (int i = 0; i < 12; ++i) lengths.emplace_back(any(random), any(random));

  int cutsThatDropACarry = 0;
  for (const auto& [la, lb] : lengths) {
    SCOPED_TRACE(std::to_string(la) + " x " + std::to_string(lb));
    const Digits a = ffttest::RandomDigits(random, la, 0, 9);
    const Digits b = ffttest::RandomDigits(random, lb, 0, 9);
    Expected expected;
    Oracle(a, b, expected);
    if (expected.cutChanged) ++cutsThatDropACarry;

    ScopedNumber x = Make(a);
    ScopedNumber y = Make(b);
    ScopedNumber product = MultiplyNumbers(*x, *y);
    ASSERT_EQ(product->length, expected.length);
    EXPECT_EQ(ffttest::DigitsOf(*product), expected.digits);
    Expected square;
    Oracle(a, a, square);
    ScopedNumber squared = SquareNumber(*x);
    ASSERT_EQ(squared->length, square.length);
    EXPECT_EQ(ffttest::DigitsOf(*squared), square.digits);
  }
  // The cut cases really tell truncation from rounding down the exact
  // product.
  EXPECT_GT(cutsThatDropACarry, 0);
  EXPECT_TRUE(log_.Records().empty());
}

// Signed digits have many spellings of one value: a product must keep its
// digits in -9..9 and agree with the kept value below the dropped top.
void ExpectSameValueBelowTheTop(const Digits& got, const Expected& expected) {
  ASSERT_EQ(static_cast<std::int64_t>(got.size()), expected.length);
  for (Digit d : got) ASSERT_TRUE(d >= -9 && d <= 9) << int{d};
  Integer value, difference, modulus;
  ValueOf(got, got.size(), value.v);
  mpz_sub(difference.v, value.v, expected.value.v);
  mpz_ui_pow_ui(modulus.v, 10, expected.length);
  EXPECT_TRUE(mpz_divisible_p(difference.v, modulus.v));
}

TEST_F(ProductOracleTest, SignedDigitsKeepTheValueBelowTheDroppedPositions) {
  std::mt19937 random(161803);
  const std::pair<std::size_t, std::size_t> lengths[] = {
      {4, 6}, {300, 200}, {5000, 5000}, {6000, 7000}, {10000, 10000}};
  for (const auto& [la, lb] : lengths) {
    SCOPED_TRACE(std::to_string(la) + " x " + std::to_string(lb));
    const Digits a = ffttest::RandomDigits(random, la, -9, 9);
    const Digits b = ffttest::RandomDigits(random, lb, -9, 9);
    ScopedNumber x = Make(a);
    ScopedNumber y = Make(b);
    Expected product, square;
    Oracle(a, b, product);
    Oracle(a, a, square);
    ExpectSameValueBelowTheTop(ffttest::DigitsOf(*MultiplyNumbers(*x, *y)), product);
    ExpectSameValueBelowTheTop(ffttest::DigitsOf(*SquareNumber(*x)), square);
  }
}

// The sine and cosine that fill the twiddle table where the runtime's own
// fall short: correctly rounded at every table angle and at random angles
// across the half circle, those near pi / 2 and pi included.
TEST(AccurateSineCosineOracle, IsCorrectlyRoundedOverTheHalfCircle) {
  std::vector<double> angles;
  for (int k = 0; k < 65536; ++k) angles.push_back(k * (3.141592653589793 / 65536));
  std::mt19937_64 random(577);
  std::uniform_real_distribution<double> anywhere(0.0, 3.141592653589793);
  std::uniform_real_distribution<double> near(-1e-6, 1e-6);
  for (int i = 0; i < 20000; ++i) angles.push_back(anywhere(random));
  for (int i = 0; i < 2000; ++i) {
    angles.push_back(1.5707963267948966 + near(random));
    angles.push_back(std::min(3.141592653589793 - std::abs(near(random)),
                              std::nextafter(3.141592653589793, 0.0)));
  }
  mpfr_t x, y;
  mpfr_inits2(53, x, y, static_cast<mpfr_ptr>(nullptr));
  int wrong = 0;
  for (double theta : angles) {
    double sine, cosine;
    CorrectlyRoundedSinCos(theta, sine, cosine);
    mpfr_set_d(x, theta, MPFR_RNDN);
    mpfr_sin(y, x, MPFR_RNDN);
    const double trueSine = mpfr_get_d(y, MPFR_RNDN);
    mpfr_cos(y, x, MPFR_RNDN);
    const double trueCosine = mpfr_get_d(y, MPFR_RNDN);
    if (sine != trueSine || cosine != trueCosine) {
      if (++wrong <= 5) ADD_FAILURE() << std::hexfloat << theta;
    }
  }
  mpfr_clears(x, y, static_cast<mpfr_ptr>(nullptr));
  EXPECT_EQ(wrong, 0);
}

}  // namespace
