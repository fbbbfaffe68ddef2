// The whole computation in-process, with the pool and the FFT tables ready
// as _tmain leaves them: what it writes to disk, what it leaves behind, and
// how it carries on past failures of the result file.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/program.h"
#include "fft/fft_kernels.h"
#include "fft/fft_multiply.h"
#include "fft/fft_tables.h"
#include "store/digits.h"
#include "tests/fft/fft_support.h"
#include "tests/support/fault.h"
#include "tests/support/fixtures.h"
#include "tests/support/result_capture.h"

namespace {

using platform::Call;
using platform::Fault;
using platform::FaultInjector;
using testsupport::FlushCapture;

constexpr std::uint32_t kPaddedBytes = kResultDigits + kFillerDigits;

// The padded result every correct run writes, as digit bytes.
std::string CorrectPaddedResult() {
  std::string bytes(kPaddedBytes, 0);
  for (std::uint32_t i = 0; i < kResultDigits; ++i) {
    bytes[i] = static_cast<char>(kCorrectResultDigits[i] - '0');
  }
  return bytes;
}

class ComputePiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(InitFftTables(), 0);
    // Emulated, the SSE2 kernel takes half the time of the AVX one, and
    // every kernel gives the same bits (the transform tests prove it).
    if (*testsupport::EmulatorCommand() != 0) SetFftKernel(FftKernel::Sse2);
  }
  void TearDown() override {
    SetFftKernel(kernel_);
    FreeFftTables();
  }

  // Only the captured log may be left in the scratch directory.
  void ExpectNoTemporaryFiles() const {
    for (const auto& name : dir_.Files()) {
      EXPECT_EQ(name.rfind("Temp", 0), std::string::npos) << name << " left behind";
    }
  }

  const FftKernel kernel_ = ActiveFftKernel();
  testsupport::ScratchDir dir_;
  testsupport::PoolScope pool_;
  testsupport::LogCapture log_;
};

TEST_F(ComputePiTest, WritesThePaddedDigitsOfPiThenDeletesThem) {
  FlushCapture capture;
  FaultInjector counter;  // counts only
  ASSERT_EQ(ComputePi(), 0);

  EXPECT_EQ(FlushCapture::flushes, 1);
  const std::string& bytes = FlushCapture::captured;
  ASSERT_EQ(bytes.size(), kPaddedBytes);
  const std::string head{0, 0, 0, 3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9, 7, 9};
  EXPECT_EQ(bytes.substr(0, head.size()), head);
  EXPECT_TRUE(std::all_of(bytes.begin(), bytes.begin() + kResultDigits,
                          [](char d) { return d >= 0 && d <= 9; }))
      << "the result is not normalised";
  EXPECT_TRUE(std::all_of(bytes.begin() + kResultDigits, bytes.end(),
                          [](char d) { return d == 0; }))
      << "the padding is not zero";
  // Every correct run on every build writes these digits, far inside the
  // round-off check's limit.
  EXPECT_TRUE(bytes == CorrectPaddedResult()) << "not the digits of a correct run";
  EXPECT_LT(LargestRoundOff(), kRoundOffLimit * 1e-4);

  // The padded result is the only file the computation makes.
  EXPECT_EQ(counter.Count(Call::CreateFile), 1u + 1u);  // created, then reopened
  EXPECT_EQ(counter.Count(Call::DeleteFile), 1u);
  EXPECT_TRUE(log_.Messages().empty()) << "a clean run records nothing";
  ExpectNoTemporaryFiles();
}

struct ResultFileFault {
  const char* name;
  Fault fault;
  const char* message;
};

class ComputePiFaultTest : public ComputePiTest,
                           public ::testing::WithParamInterface<ResultFileFault> {};

// Each failure of the result file is recorded with the platform's code; the
// run still ends with 0 and leaves no file.
TEST_P(ComputePiFaultTest, IsRecordedAndLeavesNoFile) {
  TAVREX_SAMPLED_UNDER_EMULATION();
  const ResultFileFault& param = GetParam();
  FaultInjector faults;
  faults.Arm(param.fault);
  EXPECT_EQ(ComputePi(), 0);
  EXPECT_EQ(faults.Injected(), 1u);
  const auto records = log_.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(testsupport::Narrow(records[0].message), param.message);
  // A short write leaves whatever code the platform had.
  if (param.fault.shortCount < 0) {
    EXPECT_EQ(records[0].comCode, param.fault.errorCode);
  }
  EXPECT_EQ(records[0].externalCode, 1u);
  ExpectNoTemporaryFiles();
}

INSTANTIATE_TEST_SUITE_P(
    ResultFile, ComputePiFaultTest,
    ::testing::Values(
        ResultFileFault{"Create", {Call::CreateFile, 1, false, 5}, "CreateFile() function fail"},
        // The first write moves the digits out of the block, the second
        // appends the padding.
        ResultFileFault{"Spill", {Call::WriteFile, 1, false, 28}, "WriteFile() function fail"},
        ResultFileFault{"ShortPadding", {Call::WriteFile, 2, false, 0, 100}, "WriteFile() function fail"},
        ResultFileFault{"Flush", {Call::FlushFileBuffers, 1, false, 5}, "FlushFileBuffers() function fail"}),
    [](const auto& info) { return std::string(info.param.name); });

// The result check on numbers made as ComputePi leaves its result: digits
// most significant first, the padding spilling them into a file.
TEST_F(ComputePiTest, ResultCheckRecordsTheFirstDigitThatDiffers) {
  const std::string at = "Error:Pi result check fail at digit ";
  const struct {
    bool padded;               // or empty: nothing computed
    std::int64_t changed;      // the index of a digit set to 5, or -1
    bool noWindow;             // every SmallBlock taken
    std::uint32_t failedRead;  // the ReadFile call that fails, from 1
    std::vector<std::string> records;
  } cases[] = {
      // Nothing computed: zeros where 0003 should stand.
      {false, -1, false, 0, {at + "0"}},
      // The padding's first digit, the digits read one by one.
      {true, 9997, true, 0, {"LocalAlloc() function fail 1", at + "9994"}},
      // Digits 200 to 299 cannot be read back, so cannot be vouched for.
      {true, -1, false, 3, {"ReadFile() function fail", at + "197"}}};
  const std::string correct = CorrectPaddedResult();
  const auto* digits = reinterpret_cast<const Digit*>(correct.data());
  std::size_t before = 0;
  for (const auto& c : cases) {
    {
      ScopedNumber result;
      result->digitOrder = MostSignificantFirst;
      if (c.padded) {
        AppendDigits(*result, 0, kResultDigits - 1, digits);
        AppendDigits(*result, 0, kFillerDigits - 1, digits + kResultDigits);
      }
      const Digit wrong = 5;
      if (c.changed >= 0) WriteDigits(*result, c.changed, c.changed, &wrong);
      FaultInjector faults;
      if (c.failedRead != 0) faults.Arm({Call::ReadFile, c.failedRead, false, 23});
      std::optional<ffttest::BlockHog> hog;
      if (c.noWindow) hog.emplace(SmallBlock, 0);
      CheckPiResult(*result);
    }
    const std::vector<std::string> all = log_.Messages();
    EXPECT_EQ(std::vector<std::string>(all.begin() + before, all.end()), c.records);
    before = all.size();
  }
  ExpectNoTemporaryFiles();
}

}  // namespace
