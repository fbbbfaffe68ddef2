// The run driver: process start-up and shut-down, _tmain and the computation.
#pragma once

#include <cstdint>

#include "store/dec_number.h"

// Creates the work pool, then the log; on destruction closes the log, then
// frees the pool. Exactly one lives for the process, around _tmain.
class ProcessLifetime {
 public:
  ProcessLifetime();
  ~ProcessLifetime();
  ProcessLifetime(const ProcessLifetime&) = delete;
  ProcessLifetime& operator=(const ProcessLifetime&) = delete;
};

// The program's main function: 0, or 3 when memory cannot be had.
std::int32_t _tmain();

// Computes pi by Gauss-Legendre, spills it, padded, to a temporary file and
// checks it there: 0, or 3 when the filler buffer cannot be allocated.
std::int32_t ComputePi();
// Where tests corrupt ComputePi's numbers after Gauss-Legendre step `step`,
// counted from 1, to show that the result check notices; null in the
// program.
extern void (*computePiStepHook)(int step, DecNumber& a, DecNumber& b,
                                 DecNumber& t, DecNumber& p);

// What every correct run leaves in that file, on every build: the digits of
// the result, four integer positions and 9993 fraction digits (the first
// 9982 of them pi's), then the zeros of the padding.
inline constexpr std::uint32_t kResultDigits = 9997;
inline constexpr std::uint32_t kFillerDigits = 5001;
// The result's digits as characters, most significant first; generated from
// the program's own output (app/correct_result.cpp says how).
extern const char kCorrectResultDigits[kResultDigits + 1];

// Compares the padded result, read back through its digit access wherever
// it lives (digits past its end read as 0), with what a correct run leaves.
// At the first difference writes "Error:Pi result check fail at digit N":
// N counts the fraction digits from 1 on through the padding, 0 is the
// integer part. A stretch that cannot be read counts as different.
void CheckPiResult(const DecNumber& result);

// Process entry, called by the platform's entry point: runs _tmain between
// start-up and shut-down.
int RunProgram();
