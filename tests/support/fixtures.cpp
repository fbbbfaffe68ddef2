#include "tests/support/fixtures.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace testsupport {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() : previous_(fs::current_path()) {
  static std::atomic<unsigned> serial{0};
  const auto stamp =
      std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = fs::temp_directory_path() /
          ("tavrex-test-" + std::to_string(stamp) + "-" +
           std::to_string(serial++));
  fs::create_directories(path_);
  fs::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::current_path(previous_, ignored);
  fs::remove_all(path_, ignored);
}

std::vector<std::string> ScratchDir::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(path_)) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  return names;
}

std::string ReadBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

LogCapture::LogCapture() : saved_(logFile) {
  static std::atomic<unsigned> serial{0};
  file_ = fs::current_path() /
          ("capture-" + std::to_string(serial++) + ".log");
  const platform::FileHandle handle = platform::CreateFile(
      file_.wstring().c_str(), platform::Disposition::CreateAlways,
      platform::Share::ReadWrite);
  EXPECT_NE(handle, platform::kInvalidFile);
  const unsigned char bom[2] = {0xFF, 0xFE};
  std::uint32_t done = 0;
  platform::WriteFile(handle, bom, 2, &done);
  logFile.handle = handle;
}

LogCapture::~LogCapture() {
  platform::CloseHandle(logFile.handle);
  logFile = saved_;
  std::error_code ignored;
  fs::remove(file_, ignored);
}

std::vector<LogRecord> ReadLog(const fs::path& file) {
  std::vector<LogRecord> records;
  std::string error;
  EXPECT_TRUE(ParseLog(ReadBytes(file), records, error)) << file << ": " << error;
  return records;
}

std::vector<std::string> LogMessages(const fs::path& file) {
  std::vector<std::string> messages;
  for (const auto& record : ReadLog(file)) messages.push_back(Narrow(record.message));
  return messages;
}

PoolScope::PoolScope() {
  InitWorkPool();
  EXPECT_EQ(workPool.ready, 1);
}

PoolScope::~PoolScope() {
  EXPECT_EQ(Held(SmallBlock), 0u) << "SmallBlocks left held";
  EXPECT_EQ(Held(LargeBlock), 0u) << "LargeBlocks left held";
  FreeWorkPool();
  workPool = WorkPool{};
}

std::uint32_t PoolScope::Held(int kind) {
  const std::uint32_t first = kind == SmallBlock ? 0 : kSmallBlockCount;
  const std::uint32_t count =
      kind == SmallBlock ? kSmallBlockCount : kLargeBlockCount;
  std::uint32_t held = 0;
  for (std::uint32_t i = first; i < first + count; ++i) {
    if (workPool.useCount[i] != 0) ++held;
  }
  return held;
}

bool FullSweep() {
  const char* depth = std::getenv("TAVREX_SWEEP");
  return depth != nullptr && std::string(depth) == "full";
}

const char* EmulatorCommand() {
#ifdef TAVREX_EMULATOR
  return TAVREX_EMULATOR;
#else
  return "";
#endif
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(static_cast<char>(c));
  return out;
}

}  // namespace testsupport
