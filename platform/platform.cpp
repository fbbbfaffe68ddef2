#include "platform/platform.h"

#include "platform/backend.h"

namespace platform {

namespace {

// Built from function addresses only, so both tables are constant-initialised
// and usable by static initialisers in any translation unit.
constexpr Calls kBackendCalls = {
#define TAVREX_ADDRESS(Name, member, ...) &backend::member,
    TAVREX_PLATFORM_CALLS(TAVREX_ADDRESS, TAVREX_ADDRESS)
#undef TAVREX_ADDRESS
};

}  // namespace

constinit Calls calls = kBackendCalls;

const Calls& RealCalls() { return kBackendCalls; }

void Restore() { calls = kBackendCalls; }

}  // namespace platform
