// The run driver: process start-up and shut-down, _tmain and the computation.
#pragma once

#include <cstdint>

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

// Computes pi by Gauss-Legendre and spills it, padded, to a temporary file:
// 0, or 3 when the filler buffer cannot be allocated.
std::int32_t ComputePi();

// Process entry, called by the platform's entry point: runs _tmain between
// start-up and shut-down.
int RunProgram();
