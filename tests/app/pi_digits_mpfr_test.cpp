// The digits of the whole computation against pi from MPFR.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cstdint>
#include <iostream>
#include <string>

#include "app/program.h"
#include "fft/fft_tables.h"
#include "tests/support/fixtures.h"
#include "tests/support/result_capture.h"

namespace {

constexpr int kFractionDigits = 9993;

// "31415926..." : the first `count` significant decimal digits of pi,
// truncated.
std::string PiDigits(int count) {
  mpfr_t pi;
  mpfr_init2(pi, static_cast<mpfr_prec_t>(count * 3.33) + 128);
  mpfr_const_pi(pi, MPFR_RNDN);
  mpfr_exp_t exponent = 0;
  char* text = mpfr_get_str(nullptr, &exponent, 10, count, pi, MPFR_RNDZ);
  std::string digits(text);
  mpfr_free_str(text);
  mpfr_clear(pi);
  return digits;
}

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

  const std::string pi = PiDigits(kFractionDigits + 1);
  int correct = 0;
  while (correct < kFractionDigits &&
         bytes[4 + correct] == pi[1 + correct] - '0') {
    ++correct;
  }
  std::cout << "[ digits   ] " << correct << " of " << kFractionDigits
            << " fraction digits of pi are correct\n";
  RecordProperty("CorrectFractionDigits", correct);
  EXPECT_GE(correct, 9900);
}

}  // namespace
