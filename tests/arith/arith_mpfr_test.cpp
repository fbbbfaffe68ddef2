// The arithmetic against GMP integers and MPFR: quotients and roots of the
// shapes the pi computation takes, then randomized differential tests of
// every operation: random lengths, ordinary and signed digits, operands and
// results held in LargeBlocks, in temporary files or spilled from one into
// the other, and the products through both of their block paths.
//
// Every run draws new random cases. The seed is printed first and in every
// failure; TAVREX_FUZZ_SEED=<seed> replays a run exactly.
#include <gmp.h>
#include <mpfr.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "arith/additive.h"
#include "arith/newton.h"
#include "fft/fft_multiply.h"
#include "fft/fft_tables.h"
#include "tests/arith/arith_support.h"
#include "tests/fft/fft_support.h"

namespace {

using arithtest::Digits;
using arithtest::Read;
using Strings = std::vector<std::string>;

std::uint64_t BaseSeed() {
  static const std::uint64_t seed = [] {
    const char* given = std::getenv("TAVREX_FUZZ_SEED");
    const std::uint64_t s =
        given != nullptr
            ? std::strtoull(given, nullptr, 10)
            : static_cast<std::uint64_t>(
                  std::chrono::system_clock::now().time_since_epoch().count()) %
                  1000000007u;
    std::printf("[ seed     ] TAVREX_FUZZ_SEED=%llu\n", static_cast<unsigned long long>(s));
    return s;
  }();
  return seed;
}

// A stable hash of the test's name, so that each test draws its own cases
// from the one printed seed.
std::uint64_t NameHash(const std::string& name) {
  std::uint64_t h = 1469598103934665603u;
  for (unsigned char c : name) h = (h ^ c) * 1099511628211u;
  return h;
}

// RAII over the oracle's C types.
struct Integer {
  Integer() { mpz_init(z); }
  ~Integer() { mpz_clear(z); }
  Integer(const Integer&) = delete;
  Integer& operator=(const Integer&) = delete;
  mpz_t z;
};

constexpr mpfr_prec_t kBits = 34000;  // about 10235 decimal digits

struct Real {
  Real() { mpfr_init2(x, kBits); }
  ~Real() { mpfr_clear(x); }
  Real(const Real&) = delete;
  Real& operator=(const Real&) = delete;
  mpfr_t x;
};

// sum of digits[j] * 10^(scale - 1 - j): the number as an integer in units
// of its index scale - 1. Digits past the scale must be zero.
void Scaled(const Digits& digits, std::size_t scale, mpz_t out) {
  std::string plus(scale, '0');
  std::string minus(scale, '0');
  for (std::size_t j = 0; j < digits.size(); ++j) {
    if (j >= scale) {
      ASSERT_EQ(digits[j], 0) << "digit past the scale";
      continue;
    }
    if (digits[j] > 0) plus[j] = static_cast<char>('0' + digits[j]);
    if (digits[j] < 0) minus[j] = static_cast<char>('0' - digits[j]);
  }
  Integer negative;
  if (scale == 0) {
    mpz_set_ui(out, 0);
    return;
  }
  mpz_set_str(out, plus.c_str(), 10);
  mpz_set_str(negative.z, minus.c_str(), 10);
  mpz_sub(out, out, negative.z);
}

// The value as a real: digit j weighs 10^(3 - j). At least the four
// integer digits.
void ValueOf(const Digits& digits, mpfr_t out) {
  ASSERT_GE(digits.size(), 4u);
  Integer scaled, power;
  Scaled(digits, digits.size(), scaled.z);
  mpz_ui_pow_ui(power.z, 10, digits.size() - 4);
  Real denominator;
  mpfr_set_z(out, scaled.z, MPFR_RNDN);
  mpfr_set_z(denominator.x, power.z, MPFR_RNDN);
  mpfr_div(out, out, denominator.x, MPFR_RNDN);
}

// value modulo 10^scale, brought into (-10^scale / 2, 10^scale / 2].
void SymmetricMod(mpz_t value, std::size_t scale) {
  Integer modulus, half;
  mpz_ui_pow_ui(modulus.z, 10, scale);
  mpz_mod(value, value, modulus.z);
  mpz_fdiv_q_2exp(half.z, modulus.z, 1);
  if (mpz_cmp(value, half.z) > 0) mpz_sub(value, value, modulus.z);
}

// |result - exact| below one unit of the tenth-last fraction digit.
void ExpectAgrees(const Digits& result, const mpfr_t exact) {
  ASSERT_GT(result.size(), 14u);
  Real got, bound;
  ValueOf(result, got.x);
  mpfr_sub(got.x, got.x, exact, MPFR_RNDN);
  mpfr_abs(got.x, got.x, MPFR_RNDN);
  mpfr_set_ui(bound.x, 10, MPFR_RNDN);
  mpfr_pow_si(bound.x, bound.x, -static_cast<long>(result.size() - 4 - 10), MPFR_RNDN);
  long exponent = 0;
  if (!mpfr_zero_p(got.x)) mpfr_get_d_2exp(&exponent, got.x, MPFR_RNDN);
  EXPECT_LT(mpfr_cmp(got.x, bound.x), 0)
      << "wrong before the last ten of " << result.size() - 4
      << " fraction digits: error about 10^" << static_cast<long>(exponent * 0.30103);
}

void ExpectQuotientAgrees(const Digits& y, const Digits& x, const Digits& quotient) {
  Real exact, divisor;
  ValueOf(y, exact.x);
  ValueOf(x, divisor.x);
  mpfr_div(exact.x, exact.x, divisor.x, MPFR_RNDN);
  ExpectAgrees(quotient, exact.x);
}

void ExpectRootAgrees(const Digits& a, const Digits& root) {
  Real exact;
  ValueOf(a, exact.x);
  mpfr_sqrt(exact.x, exact.x, MPFR_RNDN);
  ExpectAgrees(root, exact.x);
}

// "0012.345" for a short number, its length for a long one.
std::string Show(const Digits& digits) {
  if (digits.size() > 40) return std::to_string(digits.size()) + " digits";
  std::string text;
  for (std::size_t j = 0; j < digits.size(); ++j) {
    if (j == 4) text += '.';
    text += digits[j] < 0 ? "(-" + std::to_string(-digits[j]) + ")" : std::to_string(digits[j]);
  }
  return text;
}

bool InRange(const Digits& digits, int low, int high) {
  return std::all_of(digits.begin(), digits.end(),
                     [=](int d) { return d >= low && d <= high; });
}

std::size_t Rounded(std::size_t length) { return (length + 99) / 100 * 100; }

// Where a number keeps its digits.
enum class Held { InMemory, InFile };

const char* Name(Held held) { return held == Held::InMemory ? "memory" : "file"; }
Held Other(Held held) { return held == Held::InMemory ? Held::InFile : Held::InMemory; }

class ArithFuzzTest : public arithtest::ArithTest {
 protected:
  ArithFuzzTest() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    name_ = std::string(info->test_suite_name()) + "." + info->name();
    random_.seed(BaseSeed() ^ NameHash(name_));
  }

  std::string Replay() const {
    return "replay: TAVREX_FUZZ_SEED=" + std::to_string(BaseSeed()) +
           " --gtest_filter=" + name_;
  }

  int Pick(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random_);
  }
  bool Coin() { return Pick(0, 1) == 1; }

  // Lengths from the block edges and anywhere up to past a LargeBlock.
  std::size_t Length(std::size_t most = 12345) {
    static const std::size_t kEdges[] = {0, 1, 4, 5, 99, 100, 101, 9900, 9997, 9999, 10000, 10001};
    if (Coin()) {
      const std::size_t edge = kEdges[Pick(0, std::size(kEdges) - 1)];
      if (edge <= most) return edge;
    }
    return std::uniform_int_distribution<std::size_t>(1, most)(random_);
  }

  Digits Random(std::size_t length, int low, int high) {
    Digits digits(length);
    for (int& d : digits) d = Pick(low, high);
    return digits;
  }

  Held AnyHeld() { return Coin() ? Held::InMemory : Held::InFile; }

  static ScopedNumber Make(const Digits& digits, Held held) {
    return held == Held::InMemory ? arithtest::Make(digits) : arithtest::MakeInFile(digits);
  }

  // Records other than the pool's for a LargeBlock it did not have, which a
  // number made without one always leaves.
  Strings OwnRecords(std::size_t from) const {
    Strings own;
    const Strings all = Messages();
    for (std::size_t i = from; i < all.size(); ++i) {
      if (all[i] != "LocalAlloc() function fail 2") own.push_back(all[i]);
    }
    return own;
  }

  std::mt19937_64 random_;
  std::string name_;
};

// Sums and differences: the value exact modulo 10^(scale), and the overflow
// recorded exactly when a carry was lost; operands unchanged, wherever
// operands and result live.
TEST_F(ArithFuzzTest, SumsAndDifferencesAreExactModuloTheScale) {
  SCOPED_TRACE(Replay());
  for (int round = 0; round < 16; ++round) {
    // Each operation on each kind of digits in turn.
    const bool subtract = round % 2 == 1, ordinary = round % 4 < 2;
    const Digits a = Random(Length(), ordinary ? 0 : -9, 9);
    const Digits b = Random(Length(), ordinary ? 0 : -9, 9);
    const Held ha = AnyHeld(), hb = AnyHeld();
    const bool resultInFile = !(a.empty() && b.empty()) && Coin();
    SCOPED_TRACE(std::string(subtract ? "difference" : "sum") + " of lengths " +
                 std::to_string(a.size()) + " (" + Name(ha) + "), " +
                 std::to_string(b.size()) + " (" + Name(hb) + "), " +
                 (ordinary ? "ordinary" : "signed") + " digits, result in " +
                 (resultInFile ? "a file" : "a block"));
    auto na = Make(a, ha), nb = Make(b, hb);
    const std::size_t before = Messages().size();
    ScopedNumber result = [&] {
      std::optional<arithtest::LargeBlocksHeld> none;
      if (resultInFile) none.emplace();
      return subtract ? DecSub(*na, *nb) : DecAdd(*na, *nb);
    }();
    if (resultInFile) {
      EXPECT_EQ(result->inMemory, 0);
    }

    const std::size_t scale = Rounded(std::max(a.size(), b.size()));
    const Digits got = Read(*result);
    ASSERT_EQ(got.size(), scale);
    EXPECT_TRUE(InRange(got, ordinary && !subtract ? 0 : -9, 9));
    Integer x, y, exact, value, difference;
    Scaled(a, scale, x.z);
    Scaled(b, scale, y.z);
    (subtract ? mpz_sub : mpz_add)(exact.z, x.z, y.z);
    Scaled(got, scale, value.z);
    mpz_sub(difference.z, exact.z, value.z);
    SymmetricMod(difference.z, scale);
    EXPECT_EQ(mpz_sgn(difference.z), 0) << "not the exact value modulo 10^" << scale;
    const bool carryLost = mpz_cmp(exact.z, value.z) != 0;
    EXPECT_EQ(OwnRecords(before),
              carryLost ? Strings{subtract ? "Error:Data overflow 2" : "Error:Data overflow 1"}
                        : Strings{});
    EXPECT_EQ(Read(*na), a) << "the first operand changed";
    EXPECT_EQ(Read(*nb), b) << "the second operand changed";
  }
}

// Halves: the floor of an ordinary number exactly, a signed one within the
// dropped remainder; doubles: exact modulo 10^(scale), silently, and
// ordinary digits stay ordinary in both.
TEST_F(ArithFuzzTest, HalvesAndDoublesWhereverTheDigitsLive) {
  SCOPED_TRACE(Replay());
  for (int round = 0; round < 16; ++round) {
    const bool ordinary = round % 2 == 0;
    const Digits a = Random(Length(), ordinary ? 0 : -9, 9);
    const Held held = AnyHeld();
    // An empty result built without a block has no file to hand over,
    // which the copy records as a failed copy: not what is tested here.
    const bool resultInFile = !a.empty() && Coin();
    SCOPED_TRACE("length " + std::to_string(a.size()) + " in " + Name(held) + ", " +
                 (ordinary ? "ordinary" : "signed") + " digits, results in " +
                 (resultInFile ? "files" : "blocks"));
    auto na = Make(a, held);
    const std::size_t before = Messages().size();
    std::optional<ScopedNumber> half, twice;
    {
      std::optional<arithtest::LargeBlocksHeld> none;
      if (resultInFile) none.emplace();
      half.emplace(DecHalve(*na));
      twice.emplace(DecDouble(*na));
    }
    if (resultInFile) {
      EXPECT_EQ((*half)->inMemory, 0);
      EXPECT_EQ((*twice)->inMemory, 0);
    }
    const std::size_t scale = Rounded(a.size());
    Integer x, value, expected;
    Scaled(a, scale, x.z);

    const Digits h = Read(**half);
    ASSERT_EQ(h.size(), scale);
    EXPECT_TRUE(InRange(h, ordinary ? 0 : -9, 9));
    Scaled(h, scale, value.z);
    if (ordinary) {
      mpz_fdiv_q_2exp(expected.z, x.z, 1);
      EXPECT_EQ(mpz_cmp(value.z, expected.z), 0) << "not the floor of the half";
    } else {
      mpz_mul_2exp(value.z, value.z, 1);
      mpz_sub(value.z, x.z, value.z);
      EXPECT_LE(mpz_cmpabs_ui(value.z, 1), 0) << "twice the half is off by more than a unit";
    }

    const Digits d = Read(**twice);
    ASSERT_EQ(d.size(), scale);
    EXPECT_TRUE(InRange(d, ordinary ? 0 : -9, 9));
    Scaled(d, scale, value.z);
    mpz_mul_2exp(expected.z, x.z, 1);
    mpz_sub(value.z, expected.z, value.z);
    SymmetricMod(value.z, scale);
    EXPECT_EQ(mpz_sgn(value.z), 0) << "the double is not exact modulo 10^" << scale;

    EXPECT_EQ(OwnRecords(before), Strings{});
    EXPECT_EQ(Read(*na), a) << "the operand changed";
  }
}

// Normalisation of signed digits gives the ordinary digits of the
// magnitude, in place and at the same length, in memory or on file.
TEST_F(ArithFuzzTest, NormalisationGivesTheMagnitude) {
  SCOPED_TRACE(Replay());
  for (int round = 0; round < 16; ++round) {
    Digits a = Random(Length(), -9, 9);
    if (a.empty()) a.push_back(0);
    // The sign is read from the top block: its first non-zero digit must
    // lie there.
    const std::size_t lead = static_cast<std::size_t>(Pick(0, std::min<int>(99, a.size() - 1)));
    std::fill(a.begin(), a.begin() + lead, 0);
    a[lead] = Coin() ? Pick(1, 9) : -Pick(1, 9);
    const Held held = AnyHeld();
    SCOPED_TRACE("length " + std::to_string(a.size()) + " in " + Name(held) +
                 ", leading digit " + std::to_string(a[lead]) + " at " + std::to_string(lead));
    auto n = Make(a, held);
    const std::size_t before = Messages().size();
    ASSERT_EQ(DecNormalize(*n), 0);
    EXPECT_EQ(n->length, a.size());
    const Digits got = Read(*n);
    ASSERT_EQ(got.size(), a.size());
    EXPECT_TRUE(InRange(got, 0, 9));
    Integer exact, value;
    Scaled(a, a.size(), exact.z);
    mpz_abs(exact.z, exact.z);
    Scaled(got, got.size(), value.z);
    EXPECT_EQ(mpz_cmp(value.z, exact.z), 0) << "not the magnitude";
    EXPECT_EQ(OwnRecords(before), Strings{});
  }
}

// Products and squares: the kept positions of the exact product, wherever
// the operands live (in blocks, in files, spilled past a block) and through
// either block path (a working copy of its own, or the result's block
// alone); the two paths and the two homes give the same digits.
class ProductFuzzTest : public ArithFuzzTest {
 protected:
  void SetUp() override { ASSERT_EQ(InitFftTables(), 0); }
  void TearDown() override {
    FreeFftTables();
    ArithFuzzTest::TearDown();
  }

  // The integer of the kept positions, less a carry the cut positions
  // would have sent up, agrees with the digits in their dropped-top scale.
  static void ExpectProduct(const Digits& a, const Digits& b, const Digits& got) {
    const std::size_t positions = a.size() + b.size() - 1;
    const std::size_t kept = std::min<std::size_t>(positions, kLargeBlockBytes);
    ASSERT_EQ(got.size(), kept - 3);
    EXPECT_TRUE(InRange(got, -9, 9));
    Integer x, y, exact, value, power;
    Scaled(a, a.size(), x.z);
    Scaled(b, b.size(), y.z);
    mpz_mul(exact.z, x.z, y.z);
    mpz_ui_pow_ui(power.z, 10, positions - kept);
    mpz_fdiv_q(exact.z, exact.z, power.z);
    Scaled(got, got.size(), value.z);
    mpz_sub(value.z, exact.z, value.z);
    SymmetricMod(value.z, got.size());
    if (positions == kept) {
      EXPECT_EQ(mpz_sgn(value.z), 0) << "not the exact product";
    } else {
      // What the cut positions would have carried: below 81 per position
      // summed over a tenth-decaying tail, for any digits.
      EXPECT_LT(mpz_cmpabs_ui(value.z, 100000), 0) << "not the cut product";
    }
  }
};

TEST_F(ProductFuzzTest, ProductsAndSquaresWhereverTheOperandsLive) {
  SCOPED_TRACE(Replay());
  for (int round = 0; round < 10; ++round) {
    const bool ordinary = Coin();
    const int low = ordinary ? 0 : -9;
    const Digits a = Random(std::max<std::size_t>(4, Length()), low, 9);
    const Digits b = Random(std::max<std::size_t>(4, Length()), low, 9);
    const Held ha = AnyHeld(), hb = AnyHeld();
    SCOPED_TRACE("lengths " + std::to_string(a.size()) + " (" + Name(ha) + "), " +
                 std::to_string(b.size()) + " (" + Name(hb) + "), " +
                 (ordinary ? "ordinary" : "signed") + " digits");
    auto na = Make(a, ha), nb = Make(b, hb);
    const std::size_t before = Messages().size();

    const Digits product = Read(*MultiplyNumbers(*na, *nb));
    ExpectProduct(a, b, product);
    const Digits square = Read(*SquareNumber(*na));
    ExpectProduct(a, a, square);
    EXPECT_EQ(OwnRecords(before), Strings{});

    // The same with only the result's block free: the working copy finds
    // none, and both operands pass through the result's block in turn.
    Digits oneBlock;
    {
      ffttest::BlockHog hog(LargeBlock, 1);
      oneBlock = Read(*MultiplyNumbers(*na, *nb));
    }
    EXPECT_EQ(oneBlock, product) << "the one-block path differs";

    auto ma = Make(a, Other(ha)), mb = Make(b, Other(hb));
    EXPECT_EQ(Read(*MultiplyNumbers(*ma, *mb)), product)
        << "the product depends on where the operands live";
    EXPECT_EQ(Read(*SquareNumber(*ma)), square)
        << "the square depends on where the operand lives";
    EXPECT_EQ(Read(*na), a) << "an operand changed";
    EXPECT_EQ(Read(*nb), b) << "an operand changed";
  }
}

// Quotients and square roots around the range the pi computation uses them
// in: divisors between a tenth and ten whose first estimate starts within a
// half of the reciprocal, and radicands between three tenths and one. All
// but the last ten fraction digits agree with MPFR, and the operands' home
// changes no digit.
class NewtonFuzzTest : public ProductFuzzTest {
 protected:
  // A positive number below 10 with `length` digits, led by a non-zero
  // digit at index `lead`.
  Digits Positive(std::size_t length, std::size_t lead) {
    Digits digits = Random(std::max(length, lead + 1), 0, 9);
    std::fill(digits.begin(), digits.begin() + lead, 0);
    digits[lead] = Pick(1, 9);
    return digits;
  }

  // The divisor's first estimate 10 / d (truncated) at its weight, times the
  // divisor: Newton's iteration reaches full precision in 15 steps only
  // when this starts within about a half of 1.
  static double StartingProduct(const Digits& x) {
    std::size_t z = 0;
    while (x[z] == 0) ++z;
    double top = 0;
    for (std::size_t j = z; j < std::min(x.size(), z + 8); ++j) {
      top += x[j] * std::pow(10.0, -static_cast<double>(j - z));
    }
    return (10 / x[z]) * top / 10;
  }
};

TEST_F(NewtonFuzzTest, QuotientsAgreeWherever) {
  SCOPED_TRACE(Replay());
  for (int round = 0; round < 3; ++round) {
    // Divisors of a tenth and above. Below that the reciprocal reaches the
    // hundreds, where a product of signed digits can carry into the three
    // positions it drops, and the iteration goes astray.
    Digits x;
    do {
      x = Positive(Coin() ? Pick(5, 40) : Length(10000), Pick(3, 4));
    } while (StartingProduct(x) < 0.55 || StartingProduct(x) > 1.45);
    // A dividend of the divisor's magnitude: the quotient lies between a
    // tenth and ten.
    std::size_t z = 0;
    while (x[z] == 0) ++z;
    const Digits y = Positive(Coin() ? Pick(5, 40) : Length(10000), z);
    const Held hx = AnyHeld(), hy = AnyHeld();
    SCOPED_TRACE("dividend " + Show(y) + " (" + Name(hy) + "), divisor " + Show(x) + " (" +
                 Name(hx) + ")");
    auto ny = Make(y, hy), nx = Make(x, hx);
    const std::size_t before = Messages().size();
    const Digits quotient = Read(*DivUseNewton(*ny, *nx));
    EXPECT_EQ(OwnRecords(before), Strings{});
    ExpectQuotientAgrees(y, x, quotient);

    auto my = Make(y, Other(hy)), mx = Make(x, Other(hx));
    EXPECT_EQ(Read(*DivUseNewton(*my, *mx)), quotient)
        << "the quotient depends on where the operands live";
    EXPECT_EQ(Read(*nx), x) << "the divisor changed";
  }
}

TEST_F(NewtonFuzzTest, SquareRootsAgreeFromAFile) {
  SCOPED_TRACE(Replay());
  Digits a;
  do {
    a = Positive(Coin() ? Pick(5, 40) : Length(10000), 4);
  } while (a[4] < 3);
  SCOPED_TRACE("radicand of " + std::to_string(a.size()) + " digits");
  auto na = Make(a, Held::InFile);
  const std::size_t before = Messages().size();
  const Digits root = Read(*SqrtUseHeron(*na));
  EXPECT_EQ(OwnRecords(before), Strings{});
  ExpectRootAgrees(a, root);
  EXPECT_EQ(Read(*na), a) << "the radicand changed";
}

// The same, in memory, for fixed shapes of the pi computation, from digits
// that are random but the same in every run.
class NewtonOracleTest : public NewtonFuzzTest {
 protected:
  NewtonOracleTest() { random_.seed(20240601); }

  // 0 . lead... followed by random digits, `length` digits in all.
  Digits Operand(const std::string& lead, std::size_t length) {
    Digits digits = Positive(length, 4);
    for (std::size_t k = 0; k < lead.size(); ++k) digits[4 + k] = lead[k] - '0';
    return digits;
  }
};

TEST_F(NewtonOracleTest, QuotientsAgreeInAllButTheLastTenDigits) {
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
    auto quotient = DivUseNewton(*arithtest::Make(y), *arithtest::Make(x));
    EXPECT_EQ(quotient->length, 9997u);
    ExpectQuotientAgrees(y, x, Read(*quotient));
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(NewtonOracleTest, SquareRootsAgreeInAllButTheLastTenDigits) {
  // sqrt(0.5) is the first root of the pi computation; the second operand
  // is a full-length number like the products b * y it takes later.
  for (const Digits& a : {arithtest::Parse("0.5"), Operand("85", 9997)}) {
    SCOPED_TRACE("length " + std::to_string(a.size()));
    ExpectRootAgrees(a, Read(*SqrtUseHeron(*arithtest::Make(a))));
  }
  EXPECT_TRUE(Messages().empty());
}

}  // namespace
