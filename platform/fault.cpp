#include "platform/fault.h"

#include <algorithm>
#include <cassert>

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

void* LocalAllocHook(std::uint32_t flags, std::size_t bytes) {
  if (const Fault* f = Trip(Call::LocalAlloc)) return Fail<void*>(*f, nullptr);
  return state.before.localAlloc(flags, bytes);
}

// Releasing has no failure to report: counted only.
void LocalFreeHook(void* block) {
  ++state.counts[Index(Call::LocalFree)];
  state.before.localFree(block);
}

FileHandle CreateFileHook(const wchar_t* name, Disposition disposition,
                          Share share) {
  if (const Fault* f = Trip(Call::CreateFile)) return Fail(*f, kInvalidFile);
  return state.before.createFile(name, disposition, share);
}

// A failed close still releases the handle, so that tests leak nothing.
bool CloseHandleHook(FileHandle file) {
  if (const Fault* f = Trip(Call::CloseHandle)) {
    state.before.closeHandle(file);
    return Fail(*f, false);
  }
  return state.before.closeHandle(file);
}

bool SetFilePointerHook(FileHandle file, std::uint32_t offset) {
  if (const Fault* f = Trip(Call::SetFilePointer)) return Fail(*f, false);
  return state.before.setFilePointer(file, offset);
}

// A short transfer moves the smaller count for real and reports success.
std::uint32_t ShortCount(const Fault& fault, std::uint32_t count) {
  return static_cast<std::uint32_t>(
      std::min<std::int64_t>(fault.shortCount, count));
}

bool ReadFileHook(FileHandle file, void* buffer, std::uint32_t count,
                  std::uint32_t* done) {
  if (const Fault* f = Trip(Call::ReadFile)) {
    if (f->shortCount >= 0) {
      return state.before.readFile(file, buffer, ShortCount(*f, count), done);
    }
    if (done != nullptr) *done = 0;
    return Fail(*f, false);
  }
  return state.before.readFile(file, buffer, count, done);
}

bool WriteFileHook(FileHandle file, const void* buffer, std::uint32_t count,
                   std::uint32_t* done) {
  if (const Fault* f = Trip(Call::WriteFile)) {
    if (f->shortCount >= 0) {
      return state.before.writeFile(file, buffer, ShortCount(*f, count), done);
    }
    if (done != nullptr) *done = 0;
    return Fail(*f, false);
  }
  return state.before.writeFile(file, buffer, count, done);
}

bool FlushFileBuffersHook(FileHandle file) {
  if (const Fault* f = Trip(Call::FlushFileBuffers)) return Fail(*f, false);
  return state.before.flushFileBuffers(file);
}

std::uint32_t GetFileSizeHook(FileHandle file) {
  if (const Fault* f = Trip(Call::GetFileSize)) {
    return Fail(*f, kInvalidFileSize);
  }
  return state.before.getFileSize(file);
}

bool CopyFileHook(const wchar_t* from, const wchar_t* to) {
  if (const Fault* f = Trip(Call::CopyFile)) return Fail(*f, false);
  return state.before.copyFile(from, to);
}

bool DeleteFileHook(const wchar_t* name) {
  if (const Fault* f = Trip(Call::DeleteFile)) return Fail(*f, false);
  return state.before.deleteFile(name);
}

std::uint32_t GetModuleFileNameHook(wchar_t* buffer, std::uint32_t units) {
  if (const Fault* f = Trip(Call::GetModuleFileName)) {
    if (units > 0) buffer[0] = 0;
    return Fail(*f, std::uint32_t{0});
  }
  return state.before.getModuleFileName(buffer, units);
}

std::uint32_t GetCurrentDirectoryHook(std::uint32_t units, wchar_t* buffer) {
  if (const Fault* f = Trip(Call::GetCurrentDirectory)) {
    if (units > 0) buffer[0] = 0;
    return Fail(*f, std::uint32_t{0});
  }
  return state.before.getCurrentDirectory(units, buffer);
}

bool SetCurrentDirectoryHook(const wchar_t* path) {
  if (const Fault* f = Trip(Call::SetCurrentDirectory)) return Fail(*f, false);
  return state.before.setCurrentDirectory(path);
}

bool CreateDirectoryHook(const wchar_t* path) {
  if (const Fault* f = Trip(Call::CreateDirectory)) return Fail(*f, false);
  return state.before.createDirectory(path);
}

std::uint32_t GetFileAttributesHook(const wchar_t* path) {
  if (const Fault* f = Trip(Call::GetFileAttributes)) {
    return Fail(*f, kInvalidAttributes);
  }
  return state.before.getFileAttributes(path);
}

}  // namespace

const char* CallName(Call call) {
  static constexpr const char* kNames[kCalls] = {
      "LocalAlloc",        "LocalFree",
      "CreateFile",        "CloseHandle",
      "SetFilePointer",    "ReadFile",
      "WriteFile",         "FlushFileBuffers",
      "GetFileSize",       "CopyFile",
      "DeleteFile",        "GetModuleFileName",
      "GetCurrentDirectory", "SetCurrentDirectory",
      "CreateDirectory",   "GetFileAttributes",
  };
  const std::size_t i = Index(call);
  return i < kCalls ? kNames[i] : "?";
}

FaultInjector::FaultInjector() {
  assert(!state.live && "one FaultInjector at a time");
  state = kFreshState;
  state.live = true;
  state.before = calls;
  calls.localAlloc = &LocalAllocHook;
  calls.localFree = &LocalFreeHook;
  calls.createFile = &CreateFileHook;
  calls.closeHandle = &CloseHandleHook;
  calls.setFilePointer = &SetFilePointerHook;
  calls.readFile = &ReadFileHook;
  calls.writeFile = &WriteFileHook;
  calls.flushFileBuffers = &FlushFileBuffersHook;
  calls.getFileSize = &GetFileSizeHook;
  calls.copyFile = &CopyFileHook;
  calls.deleteFile = &DeleteFileHook;
  calls.getModuleFileName = &GetModuleFileNameHook;
  calls.getCurrentDirectory = &GetCurrentDirectoryHook;
  calls.setCurrentDirectory = &SetCurrentDirectoryHook;
  calls.createDirectory = &CreateDirectoryHook;
  calls.getFileAttributes = &GetFileAttributesHook;
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
