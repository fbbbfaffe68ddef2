// Fault injection over the platform table, for tests and the fault sweep.
//
// While a FaultInjector lives, every call that can fail goes through a
// counting wrapper; an armed fault makes a chosen occurrence of one kind of
// call (or every occurrence from it on) fail with a chosen last-error code,
// or, for reads and writes, come back short. The production table is never
// touched unless an injector is alive.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace platform {

// One kind per call the injector watches, named as the call is.
enum class Call : std::uint8_t {
#define TAVREX_KIND(Name, ...) Name,
#define TAVREX_UNWATCHED(...)
  TAVREX_PLATFORM_CALLS(TAVREX_KIND, TAVREX_UNWATCHED)
#undef TAVREX_KIND
#undef TAVREX_UNWATCHED
  kCount
};

const char* CallName(Call call);

struct Fault {
  Call call = Call::LocalAlloc;
  std::uint32_t occurrence = 1;  // 1-based, counted from when it is armed
  bool persistent = false;       // every occurrence from `occurrence` on
  std::uint32_t errorCode = 0;   // last-error code the failed call leaves
  // Reads and writes only: when >= 0 the call "succeeds" having moved at most
  // this many bytes, instead of failing.
  std::int64_t shortCount = -1;
};

class FaultInjector {
 public:
  FaultInjector();   // installs the counting wrappers
  ~FaultInjector();  // restores the table in force before it
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  // One fault per kind of call; arming again replaces it.
  void Arm(const Fault& fault);
  void Disarm(Call call);
  void DisarmAll();

  // Calls of a kind since the injector was installed (failed ones included).
  std::uint32_t Count(Call call) const;
  // Faults delivered so far, all kinds together.
  std::uint32_t Injected() const;
};

}  // namespace platform
