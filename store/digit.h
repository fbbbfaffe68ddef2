// The unit of every number: one decimal digit per byte, signed while the
// arithmetic works on it.
#pragma once

#include <cstdint>

using Digit = std::int8_t;
