#include "arith/additive.h"

#include <gtest/gtest.h>

#include <algorithm>
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
using arithtest::Sparse;

using Strings = std::vector<std::string>;

enum class Op { Add, Subtract, Halve, Double };
const char* const kOpNames[] = {"add", "subtract", "halve", "double"};

ScopedNumber Apply(Op op, const DecNumber& a, const DecNumber& b) {
  switch (op) {
    case Op::Add: return DecAdd(a, b);
    case Op::Subtract: return DecSub(a, b);
    case Op::Halve: return DecHalve(a);
    case Op::Double: return DecDouble(a);
  }
  return ScopedNumber();
}

class AdditiveTest : public ArithTest {
 protected:
  // Messages written since `from`, each with the codes of an arithmetic
  // failure.
  Strings MessagesSince(std::size_t from) const {
    const std::vector<LogRecord> records = Records();
    Strings messages;
    for (std::size_t i = from; i < records.size(); ++i) {
      EXPECT_EQ(records[i].comCode, 0u);
      EXPECT_EQ(records[i].externalCode, 1u);
      messages.push_back(testsupport::Narrow(records[i].message));
    }
    return messages;
  }
};

// Results a whole window long at least, least significant first, and the
// operands left as they were.
TEST_F(AdditiveTest, ValuesAtTheEdges) {
  struct Case {
    const char* name;
    Op op;
    Digits a, b, expected;
    Strings messages;
  };
  Digits longSum = Padded(Digits(150, 1), 200);
  std::fill_n(longSum.begin(), 30, 3);
  Digits nines(250, 9);
  std::fill_n(nines.begin(), 50, 0);
  const Case cases[] = {
      {"1 + 1", Op::Add, Parse("1"), Parse("1"), Padded({0, 0, 0, 2}, 100), {}},
      {"9999 + 1 loses its carry", Op::Add, Parse("9999"), Parse("1"), Digits(100, 0),
       {"Error:Data overflow 1"}},
      {"-5000 - 5000 loses its borrow", Op::Subtract, {-5, 0, 0, 0}, Parse("5000"),
       Digits(100, 0), {"Error:Data overflow 2"}},
      {"150 digits + 30", Op::Add, Digits(150, 1), Digits(30, 2), longSum, {}},
      {"30 digits + 150", Op::Add, Digits(30, 2), Digits(150, 1), longSum, {}},
      {"carry across windows", Op::Add, nines, Sparse(250, {{249, 1}}),
       Sparse(300, {{49, 1}}), {}},
      {"12.75 + 0.5", Op::Add, Parse("12.75"), Parse("0.5"), Padded(Parse("13.25"), 100), {}},
      {"12.75 - 0.5", Op::Subtract, Parse("12.75"), Parse("0.5"),
       Padded(Parse("12.25"), 100), {}},
      // Subtraction leaves signed digits, never borrowing between positions.
      {"0.25 - 0.5", Op::Subtract, Parse("0.25"), Parse("0.5"),
       Padded({0, 0, 0, 0, -3, 5}, 100), {}},
      {"1 - 0.0001", Op::Subtract, Parse("1"), Parse("0.0001"),
       Padded({0, 0, 0, 1, 0, 0, 0, -1}, 100), {}},
      // -7 + -6 = -13: digit -3, carry -1 into the position above.
      {"signed carry truncates", Op::Add, {0, 0, 0, 0, 0, -7}, {0, 0, 0, 0, 2, -6},
       Padded({0, 0, 0, 0, 1, -3}, 100), {}},
      {"a sum of 19 and a carry carries 2", Op::Add, {0, 0, 10, 5}, {0, 0, 9, 5},
       Padded({0, 2, 0, 0}, 100), {}},
      {"empty + empty", Op::Add, {}, {}, {}, {}},
      {"empty - empty", Op::Subtract, {}, {}, {}, {}},
      {"empty + 1", Op::Add, {}, Parse("1"), Padded({0, 0, 0, 1}, 100), {}},
      {"empty - 1", Op::Subtract, {}, Parse("1"), Padded({0, 0, 0, -1}, 100), {}},
      {"half of 1", Op::Halve, Parse("1"), {}, Padded(Parse("0.5"), 100), {}},
      {"half of a lone last digit", Op::Halve, Sparse(100, {{99, 1}}), {}, Digits(100, 0), {}},
      {"remainder runs into the next window", Op::Halve, Sparse(200, {{3, 3}, {99, 1}}), {},
       Sparse(200, {{3, 1}, {4, 5}, {100, 5}}), {}},
      // -1 / 2: quotient 0 with remainder -1, then -10 / 2 = -5.
      {"half of -1", Op::Halve, {0, 0, 0, -1}, {}, Padded({0, 0, 0, 0, -5}, 100), {}},
      {"double of 5000 drops its carry silently", Op::Double, Parse("5000"), {},
       Digits(100, 0), {}},
      // 99.9 * 2 = 199.8 and ...5 6 * 2 = ...1 1 2.
      {"double carries across positions and windows", Op::Double,
       Sparse(150, {{2, 9}, {3, 9}, {4, 9}, {99, 5}, {100, 6}}), {},
       Sparse(200, {{1, 1}, {2, 9}, {3, 9}, {4, 8}, {98, 1}, {99, 1}, {100, 2}}), {}},
      {"double of -0.6", Op::Double, {0, 0, 0, 0, -6}, {}, Padded({0, 0, 0, -1, -2}, 100), {}},
      {"half of empty", Op::Halve, {}, {}, {}, {}},
      {"double of empty", Op::Double, {}, {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto a = Make(c.a), b = Make(c.b);
    const std::size_t before = Records().size();
    auto result = Apply(c.op, *a, *b);
    EXPECT_EQ(result->digitOrder, LeastSignificantFirst);
    EXPECT_EQ(Read(*result), c.expected);
    EXPECT_EQ(MessagesSince(before), c.messages);
    EXPECT_EQ(Read(*a), c.a);
    EXPECT_EQ(Read(*b), c.b);
  }
}

// Every position's sum, read as signed 8 bits, keeps its truncating
// remainder by 10 and carries its quotient on, whatever the digits: runs of
// ordinary, negative, mixed-sign and out-of-range bytes, and runs long
// enough to carry from window to window.
TEST_F(AdditiveTest, CarriesPositionByPositionWhateverTheDigits) {
  std::mt19937 random(21);
  const std::pair<int, int> ranges[] = {{0, 9}, {9, 9}, {-9, 0}, {-9, 9}, {-128, 127}, {0, 31}};
  auto operand = [&](std::size_t length) {
    Digits digits;
    while (digits.size() < length) {
      const auto [low, high] = ranges[random() % std::size(ranges)];
      std::uniform_int_distribution<int> pick(low, high);
      for (int i = 0; i < 23; ++i) digits.push_back(pick(random));
    }
    digits.resize(length);
    return digits;
  };
  for (int trial = 0; trial < 40; ++trial) {
    const Digits a = operand(100 + random() % 300), b = operand(100 + random() % 300);
    for (const Op op : {Op::Add, Op::Subtract, Op::Double}) {
      SCOPED_TRACE(::testing::Message() << "trial " << trial << ", " << kOpNames[int(op)]);
      const Digits& second = op == Op::Double ? a : b;
      const int sign = op == Op::Subtract ? -1 : 1;
      Digits expected((std::max(a.size(), second.size()) + 99) / 100 * 100, 0);
      int carry = 0;
      for (std::size_t i = expected.size(); i-- > 0;) {
        const int x = i < a.size() ? a[i] : 0, y = i < second.size() ? second[i] : 0;
        const auto s = static_cast<std::int8_t>(x + sign * y + carry);
        expected[i] = s % 10;
        carry = s / 10;
      }
      auto result = Apply(op, *Make(a), *Make(b));
      EXPECT_EQ(Read(*result), expected);
    }
  }
}

// Signed digits become the ordinary digits of the magnitude, in place.
TEST_F(AdditiveTest, NormalizeGivesTheMagnitude) {
  const std::pair<Digits, Digits> cases[] = {
      {Padded({0, 0, 0, 0, -3, 5}, 100), Padded(Parse("0.25"), 100)},  // 0.25 - 0.5
      {Padded({0, 0, 0, 1, 0, 0, 0, -1}, 100), Padded(Parse("0.9999"), 100)},  // 1 - 0.0001
      // Borrow across windows.
      {Sparse(250, {{3, 1}, {249, -1}}), [] {
         Digits d(250, 9);
         std::fill_n(d.begin(), 4, 0);
         return d;
       }()},
      // -(0.1) + 0.01 = -0.09.
      {{0, 0, 0, 0, -1, 1}, Parse("0.09")},
      // Length 150: the window 100..199 is only half stored, and the borrow
      // of the stored half must still reach index 3.
      {Sparse(150, {{3, 2}, {120, -3}, {149, 4}}), [] {
         Digits d(150, 9);
         std::fill_n(d.begin(), 3, 0);
         d[3] = 1;
         d[120] = 7;
         std::fill(d.begin() + 121, d.begin() + 149, 0);
         d[149] = 4;
         return d;
       }()},
      {Parse("3.14159265358979"), Parse("3.14159265358979")},
      {{}, {}},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(::testing::PrintToString(input));
    auto n = Make(input);
    EXPECT_EQ(DecNormalize(*n), 0);
    EXPECT_EQ(Read(*n), expected);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(AdditiveTest, TopSignLooksOnlyAtTheTopWindow) {
  const std::pair<Digits, int> cases[] = {
      {Padded({0, 0, 0, 0, -3, 5}, 100), 0},  // 0.25 - 0.5
      {{0, 0, 0, 0, 2, -9}, 1},
      {Sparse(200, {{150, -1}}), 1},
      {Sparse(200, {{99, -2}, {150, -1}}), 0},
      {{}, 1},
  };
  for (const auto& [digits, expected] : cases) {
    SCOPED_TRACE(::testing::PrintToString(digits));
    std::uint8_t sign = 7;
    EXPECT_EQ(DecTopSign(*Make(digits), sign), 0);
    EXPECT_EQ(sign, expected);
  }
  EXPECT_TRUE(Messages().empty());
}

TEST_F(AdditiveTest, MostSignificantFirstIsLeftAlone) {
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

TEST_F(AdditiveTest, NormalizeBlockFloorsAndHandsOnTheCarry) {
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

// The same operations on operands held in temporary files, and on results
// that must be built in files, give the digits of the in-memory run.
class DecFileOperandTest : public AdditiveTest {
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
  EXPECT_EQ(Read(*DecHalve(*DecDouble(*memA))), Padded(a, 300));

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

  // Its two windows taken, no SmallBlock is left to reverse the half in its
  // file: that is recorded, and the half is empty rather than its digits
  // the wrong way round.
  const std::size_t before = Records().size();
  arithtest::SmallBlocksHeld busy(2);
  EXPECT_EQ(DecHalve(*memA)->length, 0u);
  const Strings records = MessagesSince(before);
  EXPECT_EQ(std::count(records.begin(), records.end(), "LocalAlloc() funcion fail 3"), 1);
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
class DecNoSmallBlockTest : public AdditiveTest {
 protected:
  void RunWithSpare(std::uint32_t spare) {
    const std::pair<Op, const char*> cases[] = {
        {Op::Add, "LocalAlloc() funcion fail 3"},
        {Op::Subtract, "LocalAlloc() function fail 3"},
        {Op::Halve, "LocalAlloc() function fail"},
        {Op::Double, "LocalAlloc() function fail"},
    };
    auto a = Make("12.5");
    auto b = Make("0.25");
    for (const auto& [op, message] : cases) {
      SCOPED_TRACE(kOpNames[static_cast<int>(op)]);
      const std::size_t before = Records().size();
      const std::uint32_t large = testsupport::PoolScope::Held(LargeBlock);
      {
        arithtest::SmallBlocksHeld busy(spare);
        EXPECT_EQ(Apply(op, *a, *b)->length, 0u);
        EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock),
                  kSmallBlockCount - spare);
        EXPECT_EQ(testsupport::PoolScope::Held(LargeBlock), large);
      }
      EXPECT_EQ(MessagesSince(before), (Strings{"LocalAlloc() function fail 1", message}));
      EXPECT_EQ(Read(*a), Parse("12.5"));
    }
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
  EXPECT_EQ(MessagesSince(0), (Strings{"LocalAlloc() function fail 1",
                                       "LocalAlloc() function fail"}));
  EXPECT_EQ(DecNormalize(*n), 1);
  EXPECT_EQ(Read(*n), (Digits{0, 0, 0, 1, -5}));
  EXPECT_EQ(MessagesSince(2),
            (Strings{"LocalAlloc() function fail 1", "LocalAlloc() function fail",
                     "LocalAlloc() function fail 1", "LocalAlloc() function fail"}));
  EXPECT_EQ(testsupport::PoolScope::Held(SmallBlock), kSmallBlockCount);
}

}  // namespace
