// Pi from MPFR, to check the digits of a result file against.
#pragma once

#include <mpfr.h>

#include <string>

namespace pioracle {

inline constexpr int kFractionDigits = 9993;

// "31415926...": the integer digit and kFractionDigits fraction digits of
// pi, truncated.
inline const std::string& PiDigits() {
  static const std::string digits = [] {
    const int count = kFractionDigits + 1;
    mpfr_t pi;
    mpfr_init2(pi, static_cast<mpfr_prec_t>(count * 3.33) + 128);
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_exp_t exponent = 0;
    char* text = mpfr_get_str(nullptr, &exponent, 10, count, pi, MPFR_RNDZ);
    std::string result(text);
    mpfr_free_str(text);
    mpfr_clear(pi);
    return result;
  }();
  return digits;
}

// Leading fraction digits of a result file (digit bytes, most significant
// first, the integer part 0, 0, 0, 3) that are those of pi; 0 when the
// integer part is not.
inline int CorrectFractionDigits(const std::string& result) {
  if (result.size() < 4 || result.compare(0, 4, std::string("\0\0\0\3", 4)) != 0) return 0;
  const std::string& pi = PiDigits();
  int correct = 0;
  while (correct < kFractionDigits && 4 + static_cast<std::size_t>(correct) < result.size() &&
         result[4 + correct] == pi[1 + correct] - '0') {
    ++correct;
  }
  return correct;
}

}  // namespace pioracle
