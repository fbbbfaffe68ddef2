// A stand-in for Tavrex in the core tester's tests: no arguments, the real
// log, and what its file name (after the first '-') says:
//   pass        the entry and exit records, exit code 0
//   fail-on-N   the same, with a result check failure between them when
//               it finds itself held to core N alone
//   crash       the entry record, then a write through a null pointer
//   hang        the entry record, then it waits for ever
//   litter      passes, leaving files and a directory beside itself and in
//               its working directory
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "log/log.h"
#include "platform/entry.h"
#include "platform/platform.h"

#if defined(__SANITIZE_ADDRESS__)
// The crash ends the process as a crash does, not with the sanitizer's
// report and exit code.
extern "C" const char* __asan_default_options() { return "handle_segv=0"; }
#endif

namespace {

std::wstring Behaviour() {
  wchar_t path[platform::kPathUnits] = {};
  platform::GetModuleFileName(path, platform::kPathUnits);
  std::wstring name = path;
  name.erase(0, name.rfind(platform::kPathSeparator) + 1);
  const std::wstring suffix = platform::kExecutableSuffix;
  if (!suffix.empty() && name.ends_with(suffix)) name.resize(name.size() - suffix.size());
  const std::size_t dash = name.find(L'-');
  return dash == std::wstring::npos ? L"" : name.substr(dash + 1);
}

__attribute__((noinline, no_sanitize("undefined"))) void Crash() {
  // Neither the address nor the store can be known away.
  volatile std::uintptr_t nowhere = 0;
  *reinterpret_cast<volatile int*>(nowhere) = 1;
}

void Leave(const std::wstring& name) {
  const platform::FileHandle file = platform::CreateFile(
      name.c_str(), platform::Disposition::CreateAlways, platform::Share::Read);
  std::uint32_t done = 0;
  platform::WriteFile(file, "litter", 6, &done);
  platform::CloseHandle(file);
}

}  // namespace

TAVREX_MAIN {
  SetUpLog();
  WriteLog(L"Enter _tmain() function", 0, 0);
  const std::wstring what = Behaviour();
  if (what.rfind(L"fail-on-", 0) == 0) {
    const std::uint64_t core = std::stoul(what.substr(8));
    std::uint64_t own = 0, system = 0;
    platform::GetProcessAffinity(&own, &system);
    if (own == std::uint64_t{1} << core) LogFailure(L"Error:Pi result check fail at digit 1234");
  } else if (what == L"crash") {
    Crash();
  } else if (what == L"hang") {
    for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } else if (what == L"litter") {
    wchar_t self[platform::kPathUnits] = {};
    platform::GetModuleFileName(self, platform::kPathUnits);
    const std::wstring beside = std::wstring(self) + L".litter";
    Leave(beside);
    platform::CreateDirectory(L"litter");
    Leave(std::wstring(L"litter") + platform::kPathSeparator + L"inside.tmp");
    Leave(L"litter.tmp");
  } else if (what != L"pass") {
    LogFailure(L"unknown stand-in");
  }
  WriteLog(L"Exit _tmain() function", 0, 0);
  CloseLog();
  return 0;
}
