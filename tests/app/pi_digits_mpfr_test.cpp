// The digits of the whole computation against pi from MPFR.
#include <gtest/gtest.h>

#include <iostream>
#include <string>

#include "app/program.h"
#include "fft/fft_tables.h"
#include "tests/app/pi_oracle.h"
#include "tests/support/fixtures.h"
#include "tests/support/result_capture.h"

namespace {

using pioracle::kFractionDigits;

TEST(PiDigits, AtLeast9900FractionDigitsAreThoseOfPi) {
  testsupport::ScratchDir dir;
  testsupport::PoolScope pool;
  testsupport::LogCapture log;
  ASSERT_EQ(InitFftTables(), 0);
  testsupport::FlushCapture capture;
  ASSERT_EQ(ComputePi(), 0);
  FreeFftTables();

  const std::string& bytes = testsupport::FlushCapture::captured;
  ASSERT_EQ(bytes.size(), 14998u);
  ASSERT_EQ(std::string(bytes.data(), 4), std::string("\0\0\0\3", 4));
  const int correct = pioracle::CorrectFractionDigits(bytes);
  std::cout << "[ digits   ] " << correct << " of " << kFractionDigits
            << " fraction digits of pi are correct\n";
  RecordProperty("CorrectFractionDigits", correct);
  EXPECT_GE(correct, 9900);
}

// The digits the result check expects, which the main suite shows every
// build computes: pi's up to fraction digit 9982, and not beyond.
TEST(PiDigits, TheCorrectResultHolds9982FractionDigitsOfPi) {
  std::string bytes;
  for (const char c : std::string(kCorrectResultDigits)) bytes += static_cast<char>(c - '0');
  ASSERT_EQ(bytes.size(), kResultDigits);
  EXPECT_EQ(pioracle::CorrectFractionDigits(bytes), 9982);
}

}  // namespace
