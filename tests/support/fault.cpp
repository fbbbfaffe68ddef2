#include "tests/support/fault.h"

#include <algorithm>
#include <cassert>
#include <type_traits>

namespace platform {

namespace {

constexpr auto kCalls = static_cast<std::size_t>(Call::kCount);

struct Armed {
  bool active = false;
  Fault fault;
  std::uint32_t countAtArming = 0;
};

// The wrappers are plain function pointers and cannot carry state, so the
// one live injector keeps its state here.
struct InjectorState {
  bool live = false;
  Calls before{};  // the table in force when the injector was made
  std::uint32_t counts[kCalls] = {};
  Armed armed[kCalls] = {};
  std::uint32_t injected = 0;
};

InjectorState state;
// Reset by copying this: assigning a value-initialised temporary instead
// stops the 32-bit x86 GCC 12 with an internal compiler error.
const InjectorState kFreshState{};

constexpr std::size_t Index(Call call) { return static_cast<std::size_t>(call); }

// Counts one call of the kind and decides whether it is the one to fail.
const Fault* Trip(Call call) {
  const std::size_t i = Index(call);
  ++state.counts[i];
  const Armed& armed = state.armed[i];
  if (!armed.active) return nullptr;
  const std::uint32_t since = state.counts[i] - armed.countAtArming;
  const bool hit = armed.fault.persistent ? since >= armed.fault.occurrence
                                          : since == armed.fault.occurrence;
  if (!hit) return nullptr;
  ++state.injected;
  return &armed.fault;
}

template <typename T>
T Fail(const Fault& fault, T result) {
  state.before.setLastError(fault.errorCode);
  return result;
}

// The hook of a call: counted, and failed with the call's failure value
// when it trips. A call that cannot fail is only counted.
template <Call kCall, auto kMember, auto kFailure,
          typename = decltype(kMember)>
struct Hook;
template <Call kCall, auto kMember, auto kFailure, typename R, typename... A>
struct Hook<kCall, kMember, kFailure, R (*Calls::*)(A...)> {
  static R Run(A... args) {
    if constexpr (std::is_void_v<R>) {
      ++state.counts[Index(kCall)];
    } else if (const Fault* f = Trip(kCall)) {
      return Fail(*f, static_cast<R>(kFailure));
    }
    return (state.before.*kMember)(args...);
  }
};

// The hooks that do more than fail, written out.

// A failed close still releases the handle, so that tests leak nothing.
bool CloseHandleHook(FileHandle file) {
  if (const Fault* f = Trip(Call::CloseHandle)) {
    state.before.closeHandle(file);
    return Fail(*f, false);
  }
  return state.before.closeHandle(file);
}

// A short transfer moves the smaller count for real and reports success.
template <Call kCall, auto kMember, typename Buffer>
bool TransferHook(FileHandle file, Buffer buffer, std::uint32_t count,
                  std::uint32_t* done) {
  if (const Fault* f = Trip(kCall)) {
    if (f->shortCount < 0) {
      if (done != nullptr) *done = 0;
      return Fail(*f, false);
    }
    count = static_cast<std::uint32_t>(
        std::min<std::int64_t>(f->shortCount, count));
  }
  return (state.before.*kMember)(file, buffer, count, done);
}

// A failed path query leaves its buffer empty.
std::uint32_t NoPath(const Fault& fault, wchar_t* buffer, std::uint32_t units) {
  if (units > 0) buffer[0] = 0;
  return Fail(fault, std::uint32_t{0});
}

std::uint32_t GetModuleFileNameHook(wchar_t* buffer, std::uint32_t units) {
  if (const Fault* f = Trip(Call::GetModuleFileName)) {
    return NoPath(*f, buffer, units);
  }
  return state.before.getModuleFileName(buffer, units);
}

std::uint32_t GetCurrentDirectoryHook(std::uint32_t units, wchar_t* buffer) {
  if (const Fault* f = Trip(Call::GetCurrentDirectory)) {
    return NoPath(*f, buffer, units);
  }
  return state.before.getCurrentDirectory(units, buffer);
}

}  // namespace

// The calls that the injector leaves alone have no kind.
#define TAVREX_UNWATCHED(...)

const char* CallName(Call call) {
  switch (call) {
#define TAVREX_NAME(Name, ...) \
  case Call::Name:             \
    return #Name;
    TAVREX_PLATFORM_CALLS(TAVREX_NAME, TAVREX_UNWATCHED)
#undef TAVREX_NAME
    case Call::kCount:
      break;
  }
  return "?";
}

FaultInjector::FaultInjector() {
  assert(!state.live && "one FaultInjector at a time");
  state = kFreshState;
  state.live = true;
  state.before = calls;
#define TAVREX_HOOK(Name, member, signature, failure) \
  calls.member = &Hook<Call::Name, &Calls::member, failure>::Run;
  TAVREX_PLATFORM_CALLS(TAVREX_HOOK, TAVREX_UNWATCHED)
#undef TAVREX_HOOK
  // The hooks that do more than fail.
  calls.closeHandle = &CloseHandleHook;
  calls.readFile = &TransferHook<Call::ReadFile, &Calls::readFile, void*>;
  calls.writeFile =
      &TransferHook<Call::WriteFile, &Calls::writeFile, const void*>;
  calls.getModuleFileName = &GetModuleFileNameHook;
  calls.getCurrentDirectory = &GetCurrentDirectoryHook;
}

FaultInjector::~FaultInjector() {
  calls = state.before;
  state = kFreshState;
}

void FaultInjector::Arm(const Fault& fault) {
  const std::size_t i = Index(fault.call);
  assert(i < kCalls);
  assert(fault.occurrence >= 1);
  state.armed[i] = Armed{true, fault, state.counts[i]};
}

void FaultInjector::Disarm(Call call) { state.armed[Index(call)] = Armed{}; }

void FaultInjector::DisarmAll() {
  for (Armed& armed : state.armed) armed = Armed{};
}

std::uint32_t FaultInjector::Count(Call call) const {
  return state.counts[Index(call)];
}

std::uint32_t FaultInjector::Injected() const { return state.injected; }

}  // namespace platform
