// The whole computation in-process, with the pool and the FFT tables ready
// as _tmain leaves them: what it writes to disk, what it leaves behind, and
// how it carries on past failures of the result file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "app/program.h"
#include "fft/fft_kernels.h"
#include "fft/fft_tables.h"
#include "platform/fault.h"
#include "tests/support/fixtures.h"
#include "tests/support/result_capture.h"

namespace {

using platform::Call;
using platform::Fault;
using platform::FaultInjector;
using testsupport::FlushCapture;

constexpr std::size_t kResultDigits = 9997;
constexpr std::size_t kPaddedBytes = 14998;

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

}  // namespace
