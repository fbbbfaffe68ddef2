#include "arith/additive.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/arith/arith_support.h"

namespace {

using arithtest::ArithTest;
using arithtest::Digits;
using arithtest::Make;
using arithtest::MakeInFile;
using arithtest::Padded;
using arithtest::Parse;
using arithtest::Read;

using Strings = std::vector<std::string>;

class DecAddSubTest : public ArithTest {};

TEST_F(DecAddSubTest, OnePlusOneFillsAWholeWindow) {
  auto one = Make("1");
  auto sum = DecAdd(*one, *one);
  EXPECT_EQ(sum->length, 100u);
  EXPECT_EQ(sum->digitOrder, LeastSignificantFirst);
  EXPECT_EQ(Read(*sum), Padded({0, 0, 0, 2}, 100));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecAddSubTest, CarryOutOfTheThousandsIsReportedAndDropped) {
  auto big = Make("9999");
  auto one = Make("1");
  auto sum = DecAdd(*big, *one);
  EXPECT_EQ(Read(*sum), Digits(100, 0));
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(testsupport::Narrow(records[0].message), "Error:Data overflow 1");
  EXPECT_EQ(records[0].comCode, 0u);
  EXPECT_EQ(records[0].externalCode, 1u);
}

TEST_F(DecAddSubTest, BorrowOutOfTheThousandsHasItsOwnRecord) {
  // -5000 - 5000 carries -1 out of the top position.
  auto a = Make(Digits{-5, 0, 0, 0});
  auto b = Make("5000");
  auto difference = DecSub(*a, *b);
  EXPECT_EQ(Read(*difference), Digits(100, 0));
  EXPECT_EQ(Messages(), Strings{"Error:Data overflow 2"});
}

TEST_F(DecAddSubTest, LengthIsTheLongerOperandRoundedToWholeWindows) {
  auto a = Make(Digits(150, 1));
  auto b = Make(Digits(30, 2));
  Digits expected(200, 0);
  for (int j = 0; j < 150; ++j) expected[j] = j < 30 ? 3 : 1;
  auto sum = DecAdd(*a, *b);
  EXPECT_EQ(Read(*sum), expected);
  auto reversed = DecAdd(*b, *a);
  EXPECT_EQ(Read(*reversed), expected);
}

TEST_F(DecAddSubTest, CarryRunsAcrossWindowBoundaries) {
  // 0.00...0999...9 (nines at 50..249) plus one unit in the last place.
  Digits nines(250, 0);
  for (int j = 50; j < 250; ++j) nines[j] = 9;
  Digits unit(250, 0);
  unit[249] = 1;
  auto a = Make(nines);
  auto b = Make(unit);
  auto sum = DecAdd(*a, *b);
  Digits expected(300, 0);
  expected[49] = 1;
  EXPECT_EQ(Read(*sum), expected);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecAddSubTest, SmallerMinusLargerLeavesSignedDigitsWithoutRecord) {
  auto quarter = Make("0.25");
  auto half = Make("0.5");
  auto difference = DecSub(*quarter, *half);
  EXPECT_EQ(difference->length, 100u);
  EXPECT_EQ(Read(*difference), Padded({0, 0, 0, 0, -3, 5}, 100));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecAddSubTest, SubtractionNeverBorrowsBetweenPositions) {
  auto one = Make("1");
  auto tiny = Make("0.0001");
  auto difference = DecSub(*one, *tiny);
  EXPECT_EQ(Read(*difference), Padded({0, 0, 0, 1, 0, 0, 0, -1}, 100));
}

TEST_F(DecAddSubTest, SignedDigitsCarryByTruncation) {
  // -7 + -6 = -13: digit -3, carry -1 into the position above.
  auto a = Make(Digits{0, 0, 0, 0, 0, -7});
  auto b = Make(Digits{0, 0, 0, 0, 2, -6});
  auto sum = DecAdd(*a, *b);
  EXPECT_EQ(Read(*sum), Padded({0, 0, 0, 0, 1, -3}, 100));
}

TEST_F(DecAddSubTest, EmptyOperands) {
  ScopedNumber empty;
  auto one = Make("1");
  EXPECT_EQ(DecAdd(*empty, *empty)->length, 0u);
  EXPECT_EQ(DecSub(*empty, *empty)->length, 0u);
  auto sum = DecAdd(*empty, *one);
  EXPECT_EQ(Read(*sum), Padded({0, 0, 0, 1}, 100));
  auto difference = DecSub(*empty, *one);
  EXPECT_EQ(Read(*difference), Padded({0, 0, 0, -1}, 100));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecAddSubTest, OperandsAreLeftUnchanged) {
  auto a = Make("12.75");
  auto b = Make("0.5");
  auto sum = DecAdd(*a, *b);
  auto difference = DecSub(*a, *b);
  EXPECT_EQ(a->length, 6u);
  EXPECT_EQ(Read(*a), Parse("12.75"));
  EXPECT_EQ(Read(*b), Parse("0.5"));
  EXPECT_EQ(Read(*sum), Padded(Parse("13.25"), 100));
  EXPECT_EQ(Read(*difference), Padded({0, 0, 1, 2, 2, 5}, 100));
}

class DecHalveDoubleTest : public ArithTest {};

TEST_F(DecHalveDoubleTest, HalvingOneGivesAHalf) {
  auto one = Make("1");
  auto half = DecHalve(*one);
  EXPECT_EQ(half->length, 100u);
  EXPECT_EQ(half->digitOrder, LeastSignificantFirst);
  EXPECT_EQ(Read(*half), Padded(Parse("0.5"), 100));
}

TEST_F(DecHalveDoubleTest, RemainderAfterTheLastDigitIsDropped) {
  Digits lone(100, 0);
  lone[99] = 1;
  auto a = Make(lone);
  auto half = DecHalve(*a);
  EXPECT_EQ(Read(*half), Digits(100, 0));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecHalveDoubleTest, RemainderRunsIntoTheNextWindow) {
  Digits lone(200, 0);
  lone[99] = 1;
  lone[3] = 3;
  auto a = Make(lone);
  auto half = DecHalve(*a);
  Digits expected(200, 0);
  expected[3] = 1;
  expected[4] = 5;
  expected[100] = 5;
  EXPECT_EQ(Read(*half), expected);
}

TEST_F(DecHalveDoubleTest, HalvingNegativeDigitsTruncatesTowardZero) {
  // -1 / 2: quotient 0 with remainder -1, then -10 / 2 = -5.
  auto a = Make(Digits{0, 0, 0, -1});
  auto half = DecHalve(*a);
  EXPECT_EQ(Read(*half), Padded({0, 0, 0, 0, -5}, 100));
}

TEST_F(DecHalveDoubleTest, DoublingPastTheThousandsDropsTheCarrySilently) {
  auto a = Make("5000");
  auto twice = DecDouble(*a);
  EXPECT_EQ(twice->length, 100u);
  EXPECT_EQ(Read(*twice), Digits(100, 0));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecHalveDoubleTest, DoublingCarriesAcrossPositionsAndWindows) {
  Digits a(150, 0);
  a[2] = 9;
  a[3] = 9;
  a[4] = 9;
  a[99] = 5;
  a[100] = 6;
  auto n = Make(a);
  auto twice = DecDouble(*n);
  Digits expected(200, 0);
  expected[1] = 1;  // 99.9 * 2 = 199.8
  expected[2] = 9;
  expected[3] = 9;
  expected[4] = 8;
  expected[98] = 1;  // ...5 6 * 2 = ...1 1 2
  expected[99] = 1;
  expected[100] = 2;
  EXPECT_EQ(Read(*twice), expected);
}

TEST_F(DecHalveDoubleTest, DoublingNegativeDigitsKeepsThemSigned) {
  // -0.6 * 2 = -1.2, written as -1 and -2.
  auto a = Make(Digits{0, 0, 0, 0, -6});
  auto twice = DecDouble(*a);
  EXPECT_EQ(Read(*twice), Padded({0, 0, 0, -1, -2}, 100));
}

TEST_F(DecHalveDoubleTest, HalvingUndoesDoubling) {
  std::mt19937 random(7);
  Digits a(1234);
  for (int& d : a) d = static_cast<int>(random() % 10);
  a[0] = a[0] % 5;  // keep the double below 10^4
  auto n = Make(a);
  auto twice = DecDouble(*n);
  auto back = DecHalve(*twice);
  EXPECT_EQ(Read(*back), Padded(a, 1300));
}

TEST_F(DecHalveDoubleTest, EmptyOperands) {
  ScopedNumber empty;
  EXPECT_EQ(DecHalve(*empty)->length, 0u);
  EXPECT_EQ(DecDouble(*empty)->length, 0u);
  EXPECT_TRUE(Messages().empty());
}

class DecNormalizeTest : public ArithTest {};

TEST_F(DecNormalizeTest, NegativeNumberBecomesItsMagnitude) {
  auto quarter = Make("0.25");
  auto half = Make("0.5");
  auto difference = DecSub(*quarter, *half);
  std::uint8_t sign = 7;
  EXPECT_EQ(DecTopSign(*difference, sign), 0);
  EXPECT_EQ(sign, 0);
  EXPECT_EQ(DecNormalize(*difference), 0);
  EXPECT_EQ(difference->length, 100u);
  EXPECT_EQ(Read(*difference), Padded(Parse("0.25"), 100));
}

TEST_F(DecNormalizeTest, NegativeDigitsBorrowFromAbove) {
  auto one = Make("1");
  auto tiny = Make("0.0001");
  auto difference = DecSub(*one, *tiny);
  EXPECT_EQ(DecNormalize(*difference), 0);
  EXPECT_EQ(Read(*difference), Padded(Parse("0.9999"), 100));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecNormalizeTest, BorrowRunsAcrossWindows) {
  Digits a(250, 0);
  a[3] = 1;
  a[249] = -1;
  auto n = Make(a);
  EXPECT_EQ(DecNormalize(*n), 0);
  Digits expected(250, 9);
  expected[0] = expected[1] = expected[2] = expected[3] = 0;
  EXPECT_EQ(Read(*n), expected);
}

TEST_F(DecNormalizeTest, NegativeWithMixedSignsBorrowsInTheMagnitude) {
  // -(0.1) + 0.01 = -0.09.
  auto n = Make(Digits{0, 0, 0, 0, -1, 1});
  EXPECT_EQ(DecNormalize(*n), 0);
  EXPECT_EQ(Read(*n), Parse("0.09"));
}

TEST_F(DecNormalizeTest, KeepsAPartialLastWindowAndItsLength) {
  // Length 150: the window 100..199 is only half stored, and the borrow of
  // the stored half must still reach index 3.
  Digits a(150, 0);
  a[3] = 2;
  a[120] = -3;
  a[149] = 4;
  auto n = Make(a);
  EXPECT_EQ(DecNormalize(*n), 0);
  EXPECT_EQ(n->length, 150u);
  Digits expected(150, 9);
  expected[0] = expected[1] = expected[2] = 0;
  expected[3] = 1;
  expected[120] = 7;
  for (int j = 121; j < 149; ++j) expected[j] = 0;
  expected[149] = 4;
  EXPECT_EQ(Read(*n), expected);
}

TEST_F(DecNormalizeTest, OrdinaryDigitsStayAsTheyAre) {
  const Digits pi = Parse("3.14159265358979");
  auto n = Make(pi);
  EXPECT_EQ(DecNormalize(*n), 0);
  EXPECT_EQ(Read(*n), pi);
}

TEST_F(DecNormalizeTest, MostSignificantFirstIsLeftAlone) {
  auto n = Make(Digits{0, 0, 0, 1, -1});
  ASSERT_EQ(ReverseDigits(*n), 0);
  ASSERT_EQ(n->digitOrder, MostSignificantFirst);
  EXPECT_EQ(DecNormalize(*n), 0);
  EXPECT_EQ(n->digitOrder, MostSignificantFirst);
  EXPECT_EQ(Read(*n), (Digits{0, 0, 0, 1, -1}));

  Digit window[100] = {};
  window[0] = -4;
  std::int8_t carry = 1;
  EXPECT_EQ(NormalizeBlock(window, *n, 1, carry), 0);
  EXPECT_EQ(window[0], -4);
  EXPECT_EQ(carry, 1);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecNormalizeTest, NormalizeBlockFloorsAndHandsOnTheCarry) {
  ScopedNumber n;
  Digit window[100] = {};
  window[0] = -13;  // least significant position
  window[1] = 4;
  std::int8_t carry = 0;
  EXPECT_EQ(NormalizeBlock(window, *n, 1, carry), 0);
  EXPECT_EQ(window[0], 7);  // -13 = -2 * 10 + 7
  EXPECT_EQ(window[1], 2);  // 4 - 2
  EXPECT_EQ(carry, 0);

  Digit negative[100] = {};
  negative[99] = 3;  // the top position of a negative number: -(3) + 0
  carry = 0;
  EXPECT_EQ(NormalizeBlock(negative, *n, 0, carry), 0);
  EXPECT_EQ(negative[99], 7);
  EXPECT_EQ(carry, -1);
}

TEST_F(DecNormalizeTest, EmptyNumbers) {
  ScopedNumber empty;
  std::uint8_t sign = 0;
  EXPECT_EQ(DecTopSign(*empty, sign), 0);
  EXPECT_EQ(sign, 1);
  EXPECT_EQ(DecNormalize(*empty), 0);
  EXPECT_EQ(empty->length, 0u);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(DecNormalizeTest, TopSignLooksOnlyAtTheTopWindow) {
  std::uint8_t sign = 9;
  auto positive = Make(Digits{0, 0, 0, 0, 2, -9});
  EXPECT_EQ(DecTopSign(*positive, sign), 0);
  EXPECT_EQ(sign, 1);

  Digits deep(200, 0);
  deep[150] = -1;
  auto zeroTop = Make(deep);
  sign = 0;
  EXPECT_EQ(DecTopSign(*zeroTop, sign), 0);
  EXPECT_EQ(sign, 1);

  deep[99] = -2;
  auto negative = Make(deep);
  EXPECT_EQ(DecTopSign(*negative, sign), 0);
  EXPECT_EQ(sign, 0);
}

// The same operations on operands held in temporary files, and on results
// that must be built in files, give the digits of the in-memory run.
class DecFileOperandTest : public ArithTest {
 protected:
  static Digits Random(std::mt19937& random, std::size_t length, int low,
                       int high) {
    Digits digits(length);
    std::uniform_int_distribution<int> pick(low, high);
    for (int& d : digits) d = pick(random);
    digits[0] = 0;
    return digits;
  }
};

TEST_F(DecFileOperandTest, FileHeldOperandsGiveTheInMemoryDigits) {
  std::mt19937 random(11);
  const Digits a = Random(random, 250, 0, 9);
  const Digits b = Random(random, 180, -9, 9);
  auto memA = Make(a);
  auto memB = Make(b);
  auto fileA = MakeInFile(a);
  auto fileB = MakeInFile(b);
  ASSERT_EQ(fileA->inMemory, 0);
  ASSERT_EQ(fileB->inMemory, 0);

  EXPECT_EQ(Read(*DecAdd(*fileA, *fileB)), Read(*DecAdd(*memA, *memB)));
  EXPECT_EQ(Read(*DecSub(*fileA, *fileB)), Read(*DecSub(*memA, *memB)));
  EXPECT_EQ(Read(*DecSub(*memA, *fileB)), Read(*DecSub(*memA, *memB)));
  EXPECT_EQ(Read(*DecHalve(*fileB)), Read(*DecHalve(*memB)));
  EXPECT_EQ(Read(*DecDouble(*fileB)), Read(*DecDouble(*memB)));

  std::uint8_t fileSign = 5, memSign = 6;
  EXPECT_EQ(DecTopSign(*fileB, fileSign), 0);
  EXPECT_EQ(DecTopSign(*memB, memSign), 0);
  EXPECT_EQ(fileSign, memSign);
  EXPECT_EQ(DecNormalize(*fileB), 0);
  EXPECT_EQ(DecNormalize(*memB), 0);
  EXPECT_EQ(Read(*fileB), Read(*memB));
  EXPECT_EQ(fileB->length, 180u);
}

TEST_F(DecFileOperandTest, ResultsBuiltInFilesMatchResultsBuiltInMemory) {
  std::mt19937 random(12);
  const Digits a = Random(random, 420, -9, 9);
  const Digits b = Random(random, 301, 0, 9);
  auto memA = Make(a);
  auto memB = Make(b);
  const Digits sum = Read(*DecAdd(*memA, *memB));
  const Digits difference = Read(*DecSub(*memA, *memB));
  const Digits half = Read(*DecHalve(*memA));
  const Digits twice = Read(*DecDouble(*memA));

  arithtest::LargeBlocksHeld noLargeBlock;
  auto fileSum = DecAdd(*memA, *memB);
  auto fileDifference = DecSub(*memA, *memB);
  auto fileHalf = DecHalve(*memA);
  auto fileTwice = DecDouble(*memA);
  EXPECT_EQ(fileSum->inMemory, 0);
  EXPECT_EQ(fileHalf->inMemory, 0);
  EXPECT_EQ(Read(*fileSum), sum);
  EXPECT_EQ(Read(*fileDifference), difference);
  EXPECT_EQ(Read(*fileHalf), half);
  EXPECT_EQ(fileHalf->digitOrder, LeastSignificantFirst);
  EXPECT_EQ(Read(*fileTwice), twice);
}

TEST_F(DecFileOperandTest, ResultsThatOutgrowALargeBlockSpillIntoTheirFile) {
  std::mt19937 random(13);
  const Digits a = Random(random, 10050, 0, 9);
  const Digits b = Random(random, 10001, 0, 9);
  auto fileA = MakeInFile(a);
  auto spilledB = Make(b);
  ASSERT_EQ(spilledB->inMemory, 0);  // spilled while being loaded

  auto sum = DecAdd(*fileA, *spilledB);
  EXPECT_EQ(sum->length, 10100u);
  EXPECT_EQ(sum->inMemory, 0);
  // Long addition by hand, from the least significant digit.
  Digits expected(10100, 0);
  int carry = 0;
  for (int j = 10099; j >= 0; --j) {
    const int s = (j < 10050 ? a[j] : 0) + (j < 10001 ? b[j] : 0) + carry;
    expected[j] = s % 10;
    carry = s / 10;
  }
  EXPECT_EQ(Read(*sum), expected);

  // The halves of a number of 10001 digits need one digit more, so
  // halving and doubling again is exact, across the spill.
  auto half = DecHalve(*spilledB);
  EXPECT_EQ(half->length, 10100u);
  EXPECT_EQ(half->inMemory, 0);
  auto twice = DecDouble(*half);
  EXPECT_EQ(Read(*twice), Padded(b, 10100));
}

// Without SmallBlocks every operation writes the pool's record and its own,
// gives back what it took and hands back an empty number.
class DecNoSmallBlockTest : public ArithTest {
 protected:
  struct Case {
    const char* name;
    ScopedNumber (*run)(const DecNumber&, const DecNumber&);
    const char* message;
  };
  static std::vector<Case> Cases() {
    return {
        {"add", [](const DecNumber& a, const DecNumber& b) { return DecAdd(a, b); },
         "LocalAlloc() funcion fail 3"},
        {"subtract",
         [](const DecNumber& a, const DecNumber& b) { return DecSub(a, b); },
         "LocalAlloc() function fail 3"},
        {"halve", [](const DecNumber& a, const DecNumber&) { return DecHalve(a); },
         "LocalAlloc() function fail"},
        {"double",
         [](const DecNumber& a, const DecNumber&) { return DecDouble(a); },
         "LocalAlloc() function fail"},
    };
  }

  void ExpectCodes() const {
    for (const LogRecord& record : Records()) {
      EXPECT_EQ(record.comCode, 0u);
      EXPECT_EQ(record.externalCode, 1u);
    }
  }

  void RunWithSpare(std::uint32_t spare) {
    auto a = Make("12.5");
    auto b = Make("0.25");
    for (const Case& c : Cases()) {
      SCOPED_TRACE(c.name);
      const std::size_t before = Messages().size();
      const std::uint32_t large = testsupport::PoolScope::Held(LargeBlock);
      {
        arithtest::SmallBlocksHeld busy(spare);
        {
          auto result = c.run(*a, *b);
          EXPECT_EQ(result->length, 0u);
        }
        EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock),
                  kSmallBlockCount - spare);
        EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), large);
      }
      const Strings messages = Messages();
      EXPECT_EQ(Strings(messages.begin() + before, messages.end()),
                (Strings{"LocalAlloc() function fail 1", c.message}));
      EXPECT_EQ(Read(*a), Parse("12.5"));
    }
    ExpectCodes();
  }
};

TEST_F(DecNoSmallBlockTest, ValueOperationsWithNoneFree) { RunWithSpare(0); }

TEST_F(DecNoSmallBlockTest, ValueOperationsGiveBackTheOneTheyGot) {
  RunWithSpare(1);
}

TEST_F(DecNoSmallBlockTest, TopSignAndNormalize) {
  auto n = Make(Digits{0, 0, 0, 1, -5});
  arithtest::SmallBlocksHeld busy;
  std::uint8_t sign = 7;
  EXPECT_EQ(DecTopSign(*n, sign), 1);
  EXPECT_EQ(sign, 7);
  EXPECT_EQ(Messages(), (Strings{"LocalAlloc() function fail 1",
                                 "LocalAlloc() function fail"}));
  EXPECT_EQ(DecNormalize(*n), 1);
  EXPECT_EQ(Read(*n), (Digits{0, 0, 0, 1, -5}));
  EXPECT_EQ(Messages(),
            (Strings{"LocalAlloc() function fail 1", "LocalAlloc() function fail",
                     "LocalAlloc() function fail 1", "LocalAlloc() function fail",
                     "LocalAlloc() function fail 1",
                     "LocalAlloc() function fail"}));
  EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), kSmallBlockCount);
  ExpectCodes();
}

}  // namespace
