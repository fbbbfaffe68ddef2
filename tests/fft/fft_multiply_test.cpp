// Multiplying and squaring digit arrays and fixed-point numbers by FFT.
#include "fft/fft_multiply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "fft/fft_transform.h"
#include "store/digits.h"
#include "tests/fft/fft_support.h"
#include "tests/fft/reference_fft.h"
#include "tests/support/fault.h"
#include "tests/support/fixtures.h"

namespace {

using ffttest::CarriedConvolution;
using ffttest::Digits;
using ffttest::DigitsOf;
using ffttest::FixedPointProduct;
using ffttest::FromText;
using ffttest::RandomDigits;

const char kTooBig[] = "Error:FFT Size is too big in MulUseFFT";

void ExpectRefusals(const testsupport::LogCapture& log, std::size_t count) {
  const std::vector<LogRecord> records = log.Records();
  ASSERT_EQ(records.size(), count);
  for (const LogRecord& record : records) {
    EXPECT_EQ(testsupport::Narrow(record.message), kTooBig);
    EXPECT_EQ(record.comCode, 0u);
    EXPECT_EQ(record.apiCode, 0u);
    EXPECT_EQ(record.externalCode, 1u);
  }
}

std::int32_t Len(const Digits& d) { return static_cast<std::int32_t>(d.size()); }

// ---- Digit arrays -------------------------------------------------------

class MulUseFftTest : public ::testing::Test {
 protected:
  testsupport::ScratchDir scratch_;
  testsupport::LogCapture log_;
  ffttest::TablesScope tables_;
};

TEST_F(MulUseFftTest, ProductsOfShortArraysAreTheCarriedConvolution) {
  std::mt19937 random(1);
  std::uniform_int_distribution<int> length(1, 60);
  for (int round = 0; round < 200; ++round) {
    const int low = round % 2 == 0 ? 0 : -9;  // ordinary and signed digits
    const Digits a = RandomDigits(random, length(random), low, 9);
    const Digits b = RandomDigits(random, length(random), low, 9);
    Digits out(a.size() + b.size(), 55);
    ASSERT_EQ(MulUseFFT(a.data(), Len(a), b.data(), Len(b), out.data(), 100000), 0);
    const std::int64_t m = Len(a) + Len(b) - 1;
    EXPECT_EQ(Digits(out.begin(), out.begin() + m), CarriedConvolution(a, b, m))
        << "round " << round;
    EXPECT_EQ(out[m], 55) << "wrote past the product";
  }
  EXPECT_TRUE(log_.Records().empty());
}

TEST_F(MulUseFftTest, ACutProductIsTruncatedWithoutTheCarriesOfTheCutPositions) {
  // 99 x 99: convolution 81 162 81, carried in full 8 0 1 (9 dropped).
  const Digits nines = {9, 9};
  Digits out = {55, 55, 55};
  ASSERT_EQ(MulUseFFT(nines.data(), 2, nines.data(), 2, out.data(), 3), 0);
  EXPECT_EQ(out, (Digits{8, 0, 1}));
  // Cut to two positions, the 8 carried out of the last one is lost.
  out = {55, 55, 55};
  ASSERT_EQ(MulUseFFT(nines.data(), 2, nines.data(), 2, out.data(), 2), 0);
  EXPECT_EQ(out, (Digits{7, 2, 55}));
  // No room at all writes nothing, and succeeds.
  out = {55, 55, 55};
  ASSERT_EQ(MulUseFFT(nines.data(), 2, nines.data(), 2, out.data(), 0), 0);
  ASSERT_EQ(MulUseFFT(nines.data(), 2, nines.data(), 2, out.data(), -4), 0);
  EXPECT_EQ(out, (Digits{55, 55, 55}));
}

// One NaN among a product's converted positions, wherever it lies, is
// recorded (once a run) and stays the largest distance through the sound
// products after it; a position past those converted is not looked at.
TEST_F(MulUseFftTest, TheRoundOffCheckKeepsANaNAtAnyConvertedPosition) {
  const Digits a(20, 7);
  Digits out(39);
  ffttest::unspoiled = ReplaceFftKernelOps(&ffttest::kSpoiling);
  for (std::int32_t k = 0; k < 64; ++k) {
    ResetRoundOffCheck();
    ffttest::spoiledAt = k;
    MulUseFFT(a.data(), 20, a.data(), 20, out.data(), 39);
    ffttest::spoiledAt = -1;
    MulUseFFT(a.data(), 20, a.data(), 20, out.data(), 39);
    EXPECT_EQ(std::isnan(LargestRoundOff()), k < 39) << k << ": " << LargestRoundOff();
  }
  ReplaceFftKernelOps(ffttest::unspoiled);
  ResetRoundOffCheck();
  EXPECT_EQ(log_.Messages(),
            std::vector<std::string>(39, "Error:FFT round-off error too large"));
}

TEST_F(MulUseFftTest, MultipliesInPlaceOverEitherOperand) {
  std::mt19937 random(2);
  const Digits a = RandomDigits(random, 700, 0, 9);
  const Digits b = RandomDigits(random, 300, 0, 9);
  const Digits expected = CarriedConvolution(a, b, 999);

  Digits overA = a;
  overA.resize(1000);
  ASSERT_EQ(MulUseFFT(overA.data(), 700, b.data(), 300, overA.data(), 999), 0);
  EXPECT_EQ(Digits(overA.begin(), overA.begin() + 999), expected);

  Digits overB = b;
  overB.resize(1000);
  ASSERT_EQ(MulUseFFT(a.data(), 700, overB.data(), 300, overB.data(), 999), 0);
  EXPECT_EQ(Digits(overB.begin(), overB.begin() + 999), expected);

  Digits square = a;
  square.resize(1400);
  ASSERT_EQ(SquareUseFFT(square.data(), 700, square.data(), 1399), 0);
  EXPECT_EQ(Digits(square.begin(), square.begin() + 1399),
            CarriedConvolution(a, a, 1399));
}

// Operands whose product is known without a convolution: a random array
// times a pair of spikes is two shifted copies of it.
Digits SpikedProduct(const Digits& a, std::size_t lenB, std::size_t spike) {
  std::vector<std::int64_t> sums(a.size() + lenB - 1, 0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    sums[i] += a[i];
    sums[i + spike] += 2 * a[i];
  }
  return ffttest::CarryDigits(sums);
}

TEST_F(MulUseFftTest, EverySizeUpToTheTablesIsAcceptedAndTheNextRefused) {
  std::mt19937 random(4);
  for (std::int32_t n = 2; n <= kMaxFftSize; n *= 2) {
    // lenA + lenB = n exactly: the largest product of this size.
    const std::int32_t lenB = n / 2;
    const std::int32_t lenA = n - lenB;
    const Digits a = RandomDigits(random, lenA, 0, 9);
    Digits b(lenB, 0);
    const std::size_t spike = lenB / 2;
    b[0] = 1;
    b[spike] += 2;
    Digits out(n, 55);
    ASSERT_EQ(MulUseFFT(a.data(), lenA, b.data(), lenB, out.data(), n), 0) << n;
    const Digits expected = SpikedProduct(a, lenB, spike);
    ASSERT_EQ(Digits(out.begin(), out.begin() + n - 1), expected) << n;
    EXPECT_EQ(out[n - 1], 55);
  }
  EXPECT_TRUE(log_.Records().empty());

  // One position more needs 262144.
  const Digits a(65537, 1);
  const Digits b(65536, 1);
  Digits out(8, 55);
  EXPECT_EQ(MulUseFFT(a.data(), 65537, b.data(), 65536, out.data(), 8), 1);
  EXPECT_EQ(out, Digits(8, 55)) << "a refused product wrote digits";
  ExpectRefusals(log_, 1);
}

TEST_F(MulUseFftTest, SquaringAcceptsHalfTheLargestSizeAndRefusesMore) {
  const Digits ones(65537, 1);
  Digits out(131072, 55);
  ASSERT_EQ(SquareUseFFT(ones.data(), 65536, out.data(), 131072), 0);
  // 11...1 squared: position p sums min(p + 1, 131071 - p) ones.
  std::vector<std::int64_t> sums(131071);
  for (std::int64_t p = 0; p < 131071; ++p) sums[p] = std::min(p + 1, 131071 - p);
  EXPECT_EQ(Digits(out.begin(), out.end() - 1), ffttest::CarryDigits(sums));
  EXPECT_EQ(out[131071], 55);
  EXPECT_TRUE(log_.Records().empty());

  out.assign(8, 55);
  EXPECT_EQ(SquareUseFFT(ones.data(), 65537, out.data(), 8), 1);
  EXPECT_EQ(out, Digits(8, 55));
  ExpectRefusals(log_, 1);
}

// What the digit-array products leave in the buffers is what the plain
// recursion computes at the smallest size holding lenA + lenB positions; a
// square is also what multiplying by a copy gives.
TEST_F(MulUseFftTest, BuffersHoldTheRecursionsResultsAtTheChosenSize) {
  std::mt19937 random(8);
  const std::int32_t lengths[][2] = {{1, 1}, {2, 1}, {3, 2}, {4, 4}, {5, 4},
                                     {100, 28}, {100, 29}, {5000, 5000},
                                     {10000, 6385}};
  for (const auto& pair : lengths) {
    const Digits a = RandomDigits(random, pair[0], -9, 9);
    const Digits b = RandomDigits(random, pair[1], 0, 9);
    std::int32_t n = 2;
    while (n < pair[0] + pair[1]) n *= 2;
    const auto spectrumA = ffttest::ReferenceSpectrum(a.data(), pair[0], n);
    const auto spectrumB = ffttest::ReferenceSpectrum(b.data(), pair[1], n);
    const auto product = ffttest::ReferenceProduct(spectrumA, spectrumB);
    const std::int32_t m = pair[0] + pair[1] - 1;
    const auto expected = ffttest::ReferenceToDigits(product, m);

    Digits out(m + 1, 55);
    ASSERT_EQ(MulUseFFT(a.data(), pair[0], b.data(), pair[1], out.data(), m), 0);
    SCOPED_TRACE(std::to_string(pair[0]) + " x " + std::to_string(pair[1]));
    EXPECT_TRUE(ffttest::SameBits(fftTables.spectrumB, spectrumB.data(), n));
    EXPECT_TRUE(ffttest::SameBits(fftTables.spectrumA, product.data(), n));
    EXPECT_TRUE(ffttest::SameBits(fftTables.stagingBuffer, expected.inverse.data(), n));
    EXPECT_EQ(Digits(out.begin(), out.begin() + m), expected.digits);

    // Squaring transforms once and leaves spectrumB alone.
    fftTables.spectrumB[0] = {-3.0, -3.0};
    std::int32_t sn = 2;
    while (sn < 2 * pair[0]) sn *= 2;
    const auto squareSpectrum = ffttest::ReferenceSpectrum(a.data(), pair[0], sn);
    const auto squared =
        ffttest::ReferenceToDigits(ffttest::ReferenceProduct(squareSpectrum, squareSpectrum),
                                   2 * pair[0] - 1);
    Digits sq(2 * pair[0], 55);
    ASSERT_EQ(SquareUseFFT(a.data(), pair[0], sq.data(), 2 * pair[0] - 1), 0);
    EXPECT_TRUE(ffttest::SameBits(fftTables.stagingBuffer, squared.inverse.data(), sn));
    EXPECT_EQ(Digits(sq.begin(), sq.end() - 1), squared.digits);
    EXPECT_EQ(fftTables.spectrumB[0].re, -3.0);
    const Digits copy = a;
    Digits multiplied(2 * pair[0], 55);
    ASSERT_EQ(MulUseFFT(a.data(), pair[0], copy.data(), pair[0], multiplied.data(),
                        2 * pair[0] - 1), 0);
    EXPECT_EQ(multiplied, sq);
  }
}

// Digit arrays and numbers alike, each refusal with its record.
TEST(FftProductUnset, EveryProductIsRefusedBeforeSetUpAndAfterRelease) {
  testsupport::ScratchDir scratch;
  testsupport::PoolScope pool;
  ScopedNumber x;
  ffttest::Fill(*x, FromText("0002"));
  const Digits one = {1};
  Digits out = {55, 55};
  for (bool released : {false, true}) {
    SCOPED_TRACE(released ? "after release" : "before set-up");
    if (released) {
      ASSERT_EQ(InitFftTables(), 0);
      FreeFftTables();
    }
    testsupport::LogCapture log;
    EXPECT_EQ(MulUseFFT(one.data(), 1, one.data(), 1, out.data(), 2), 1);
    EXPECT_EQ(SquareUseFFT(one.data(), 1, out.data(), 2), 1);
    EXPECT_EQ(MultiplyNumbers(*x, *x)->length, 0u);
    EXPECT_EQ(SquareNumber(*x)->length, 0u);
    ExpectRefusals(log, 4);
  }
  EXPECT_EQ(out, (Digits{55, 55}));
}

// ---- Fixed-point numbers ------------------------------------------------

class NumberProductTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& name : scratch_.Files()) {
      EXPECT_NE(name.rfind("Temp", 0), 0u) << "left behind: " << name;
    }
  }

  static ScopedNumber Make(const Digits& msf) {
    ScopedNumber n;
    ffttest::Fill(*n, msf);
    return n;
  }

  // A number whose digits live in its temporary file from the start.
  static ScopedNumber MakeInFile(const Digits& msf) {
    ScopedNumber n = [] {
      ffttest::BlockHog hog(LargeBlock, 0);
      return ScopedNumber();
    }();
    EXPECT_EQ(n->block, nullptr);
    ffttest::Fill(*n, msf);
    EXPECT_EQ(n->inMemory, 0);
    return n;
  }

  static void ExpectNumber(const DecNumber& n, const Digits& msf) {
    EXPECT_EQ(n.length, msf.size());
    EXPECT_EQ(n.digitOrder, LeastSignificantFirst);
    EXPECT_EQ(n.inMemory, 1);
    EXPECT_EQ(DigitsOf(n), msf);
  }

  std::vector<std::string> MessagesSince(std::size_t mark) const {
    const std::vector<std::string> all = log_.Messages();
    return std::vector<std::string>(all.begin() + std::min(mark, all.size()),
                                    all.end());
  }

  static void ExpectEmpty(const DecNumber& n) {
    EXPECT_EQ(n.length, 0u);
    EXPECT_EQ(n.digitOrder, LeastSignificantFirst);
  }

  testsupport::ScratchDir scratch_;
  testsupport::LogCapture log_;
  testsupport::PoolScope pool_;
  ffttest::TablesScope tables_;
};

// Equal factors are also multiplied as one number twice and squared.
TEST_F(NumberProductTest, SmallProductsAndASilentlyDroppedIntegerOverflow) {
  const char* const cases[][3] = {
      {"0001", "0001", "0001"},
      {"0000.5", "0000.5", "0000.25"},
      {"0100", "0100", "0000"},
      {"0031.25", "0400", "2500.00"},  // 12500: the ten-thousands are lost
  };
  for (const auto& [a, b, product] : cases) {
    SCOPED_TRACE(std::string(a) + " x " + b);
    ScopedNumber x = Make(FromText(a));
    ScopedNumber y = Make(FromText(b));
    ExpectNumber(*MultiplyNumbers(*x, *y), FromText(product));
    if (std::string(a) == b) {
      ExpectNumber(*MultiplyNumbers(*x, *x), FromText(product));
      ExpectNumber(*SquareNumber(*x), FromText(product));
    }
  }
  EXPECT_TRUE(log_.Records().empty());
}

TEST_F(NumberProductTest, ProductsKeepEveryPositionButTheTopThreeUpToTheCapacity) {
  std::mt19937 random(12);
  const std::size_t lengths[][2] = {{4, 4},     {4, 9},      {17, 230},
                                    {5000, 5000}, {5000, 5001}, {5001, 5001},
                                    {9999, 2},  {10000, 10000}};
  for (const auto& pair : lengths) {
    SCOPED_TRACE(std::to_string(pair[0]) + " x " + std::to_string(pair[1]));
    const Digits a = RandomDigits(random, pair[0], 0, 9);
    const Digits b = RandomDigits(random, pair[1], 0, 9);
    ScopedNumber x = Make(a);
    ScopedNumber y = Make(b);
    ScopedNumber product = MultiplyNumbers(*x, *y);
    const Digits expected = FixedPointProduct(a, b);
    const std::size_t length =
        std::min<std::size_t>(pair[0] + pair[1] - 1, 10000) - 3;
    ASSERT_EQ(expected.size(), length);
    ExpectNumber(*product, expected);
    // The operands are left as they were.
    EXPECT_EQ(DigitsOf(*x), a);
    EXPECT_EQ(DigitsOf(*y), b);
    EXPECT_EQ(x->digitOrder, LeastSignificantFirst);
  }
  EXPECT_TRUE(log_.Records().empty());
}

TEST_F(NumberProductTest, FiveThousandAndTenThousandNinesGiveTheirLengths) {
  for (std::size_t len : {5000u, 10000u}) {
    const Digits nines(len, 9);
    ScopedNumber x = Make(nines);
    // Ten thousand are cut at the capacity, without the carries of the cut
    // positions.
    const Digits expected = FixedPointProduct(nines, nines);
    ASSERT_EQ(expected.size(), len == 5000 ? 9996u : 9997u);
    ExpectNumber(*MultiplyNumbers(*x, *x), expected);
    ExpectNumber(*SquareNumber(*x), expected);
  }
}

TEST_F(NumberProductTest, SquaringEqualsMultiplyingByACopy) {
  std::mt19937 random(13);
  for (std::size_t len : {4u, 5u, 37u, 100u, 4999u, 5001u, 10000u}) {
    for (int low : {0, -9}) {
      const Digits digits = RandomDigits(random, len, low, 9);
      ScopedNumber x = Make(digits);
      ScopedNumber copy = Make(digits);
      ScopedNumber square = SquareNumber(*x);
      ScopedNumber product = MultiplyNumbers(*x, *copy);
      EXPECT_EQ(square->length, product->length) << len;
      EXPECT_EQ(DigitsOf(*square), DigitsOf(*product)) << len << " " << low;
      // Signed digits stay signed digits.
      for (Digit d : DigitsOf(*square)) ASSERT_TRUE(d >= -9 && d <= 9);
    }
  }
}

TEST_F(NumberProductTest, SignedDigitsGiveTheCarriedSignedConvolution) {
  ScopedNumber a = Make(Digits{0, 0, 0, 1, -5});   // 0.5
  ScopedNumber b = Make(Digits{0, 0, 0, 2, 3, -1});  // 2.29
  // Convolution 0 0 0 0 0 0 2 -7 -16 5 carries from the bottom to
  // 0 0 0 0 0 0 2 -8 -6 5: 1.145 with its signed digits kept.
  ExpectNumber(*MultiplyNumbers(*a, *b), Digits{0, 0, 0, 2, -8, -6, 5});
  ScopedNumber c = Make(Digits{0, 0, 0, 0, -3});  // -0.3
  ExpectNumber(*SquareNumber(*c), Digits{0, 0, 0, 0, 0, 9});
  ScopedNumber d = Make(Digits{0, 0, 0, 0, 3});
  ExpectNumber(*MultiplyNumbers(*c, *d), Digits{0, 0, 0, 0, 0, -9});
}

TEST_F(NumberProductTest, TooShortForTheThreeDroppedPositionsGivesEmpty) {
  ScopedNumber empty;
  ScopedNumber one = Make({1});
  ScopedNumber two = Make({1, 2});
  ScopedNumber three = Make({1, 2, 3});
  // Two by two digits is three positions, all dropped.
  for (const auto& [x, y] : {std::pair{&empty, &empty}, {&one, &one}, {&two, &one},
                             {&empty, &three}, {&two, &two}}) {
    ExpectEmpty(*MultiplyNumbers(**x, **y));
  }
  for (ScopedNumber* x : {&empty, &one, &two}) ExpectEmpty(*SquareNumber(**x));
  // Four positions leave one digit: 12 x 123 = 1476, of which 6 stays.
  ExpectNumber(*MultiplyNumbers(*two, *three), Digits{6});
  ExpectNumber(*SquareNumber(*three), Digits{2, 9});  // 15129
  // An empty operand makes a product of zeros as long as the other allows.
  ScopedNumber long1 = Make(Digits(600, 7));
  ExpectNumber(*MultiplyNumbers(*empty, *long1), Digits(596, 0));
  EXPECT_TRUE(log_.Records().empty());
}

TEST_F(NumberProductTest, NoFreeBlockGivesAnEmptyResultAndThePoolsRecord) {
  ScopedNumber x = Make(FromText("0002.5"));
  {
    ffttest::BlockHog hog(LargeBlock, 0);
    ScopedNumber product = MultiplyNumbers(*x, *x);
    ExpectEmpty(*product);
    EXPECT_EQ(product->block, nullptr);
    ScopedNumber square = SquareNumber(*x);
    ExpectEmpty(*square);
  }
  const std::vector<LogRecord> records = log_.Records();
  ASSERT_EQ(records.size(), 2u);
  for (const LogRecord& record : records) {
    EXPECT_EQ(testsupport::Narrow(record.message), "LocalAlloc() function fail 2");
    EXPECT_EQ(record.externalCode, 1u);
  }
  EXPECT_EQ(DigitsOf(*x), FromText("0002.5"));
}

// Operands in temporary files, or a single free block for everything (the
// working copy then finds none), change no digit: uncut and cut products.
TEST_F(NumberProductTest, OperandsInFilesOrOneFreeBlockGiveTheSameProduct) {
  std::mt19937 random(15);
  for (const auto& [la, lb] : {std::pair<std::size_t, std::size_t>{3000, 450}, {7000, 6000}}) {
    SCOPED_TRACE(std::to_string(la) + " x " + std::to_string(lb));
    const Digits a = RandomDigits(random, la, 0, 9);
    const Digits b = RandomDigits(random, lb, 0, 9);
    ScopedNumber fileA = MakeInFile(a);
    ScopedNumber fileB = MakeInFile(b);
    ScopedNumber memA = Make(a);
    ScopedNumber memB = Make(b);
    const Digits expected = FixedPointProduct(a, b);
    const std::size_t mark = log_.Records().size();
    ExpectNumber(*MultiplyNumbers(*memA, *memB), expected);
    ExpectNumber(*MultiplyNumbers(*fileA, *memB), expected);
    ExpectNumber(*MultiplyNumbers(*memB, *fileA), FixedPointProduct(b, a));
    ExpectNumber(*MultiplyNumbers(*fileA, *fileB), expected);
    ExpectNumber(*SquareNumber(*fileA), FixedPointProduct(a, a));
    {
      ffttest::BlockHog hog(LargeBlock, 1);
      ExpectNumber(*MultiplyNumbers(*memA, *memB), expected);
      ExpectNumber(*MultiplyNumbers(*fileA, *fileB), expected);
    }
    // Only the pool's records of the working copies that found no block.
    EXPECT_EQ(MessagesSince(mark),
              std::vector<std::string>(2, "LocalAlloc() function fail 2"));
  }
}

TEST_F(NumberProductTest, OnlyTheTopTenThousandDigitsOfASpilledOperandCount) {
  std::mt19937 random(16);
  const Digits a = RandomDigits(random, 10250, 0, 9);
  const Digits top(a.begin(), a.begin() + 10000);
  const Digits b = RandomDigits(random, 20, 0, 9);
  ScopedNumber spilled = Make(a);
  ASSERT_EQ(spilled->inMemory, 0);
  ASSERT_EQ(spilled->length, 10250u);
  ScopedNumber cut = Make(top);
  ScopedNumber other = Make(b);
  ScopedNumber expected = MultiplyNumbers(*cut, *other);
  ASSERT_EQ(expected->length, 9997u);
  ExpectNumber(*MultiplyNumbers(*spilled, *other), DigitsOf(*expected));
  ExpectNumber(*MultiplyNumbers(*other, *spilled), DigitsOf(*expected));
  ExpectNumber(*SquareNumber(*spilled), DigitsOf(*SquareNumber(*cut)));
  // Times an empty number: zeros all the way to the capacity.
  ScopedNumber empty;
  ExpectNumber(*MultiplyNumbers(*spilled, *empty), Digits(9997, 0));
  EXPECT_TRUE(log_.Records().empty());
}

TEST_F(NumberProductTest, AnOperandThatCannotBeReadGivesAnEmptyResult) {
  ScopedNumber inFile = MakeInFile(FromText("0003.14159"));
  ScopedNumber one = Make(FromText("0001"));
  const std::size_t mark = log_.Records().size();
  platform::FaultInjector injector;
  platform::Fault fault;
  fault.call = platform::Call::ReadFile;
  fault.persistent = true;
  fault.errorCode = 23;
  injector.Arm(fault);
  ExpectEmpty(*MultiplyNumbers(*inFile, *one));
  ExpectEmpty(*MultiplyNumbers(*one, *inFile));
  ExpectEmpty(*SquareNumber(*inFile));
  injector.DisarmAll();
  const std::vector<LogRecord> records = log_.Records();
  ASSERT_EQ(records.size(), mark + 3);
  for (std::size_t i = mark; i < records.size(); ++i) {
    const LogRecord& record = records[i];
    EXPECT_EQ(testsupport::Narrow(record.message), "ReadFile() function fail");
    EXPECT_EQ(record.comCode, 23u);
  }
  ExpectNumber(*MultiplyNumbers(*inFile, *one), FromText("0003.14159"));
}

}  // namespace
