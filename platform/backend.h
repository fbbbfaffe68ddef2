// The calls each backend provides, one per entry of platform::Calls.
//
// Only platform.cpp and the backends include this: platform.cpp builds the
// real table from these addresses at compile time, so the table is in force
// before any static initialiser of the program runs.
#pragma once

#include <type_traits>

#include "platform/platform.h"

namespace platform::backend {

#define TAVREX_DECLARE(Name, member, signature, ...) \
  std::type_identity_t<signature> member;
TAVREX_PLATFORM_CALLS(TAVREX_DECLARE, TAVREX_DECLARE)
#undef TAVREX_DECLARE

}  // namespace platform::backend
