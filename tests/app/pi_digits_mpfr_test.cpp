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

}  // namespace
