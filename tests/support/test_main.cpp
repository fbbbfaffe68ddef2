#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// Every test runs in an empty directory of its own, named after it inside
// the directory the suite was started in, so that tests run side by side
// by CTest never meet; whatever a test leaves there fails that test.
class OwnDirectoryPerTest : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo& test) override {
    home_ = fs::current_path();
    std::string name = test.test_suite_name();
    name += '.';
    name += test.name();
    for (char& c : name) {
      if (c == '/' || c == '\\' || c == ':') c = '_';
    }
    own_ = home_ / name;
    std::error_code ignored;
    fs::remove_all(own_, ignored);  // left by a run that was killed
    fs::create_directory(own_);
    fs::current_path(own_);
  }

  void OnTestEnd(const ::testing::TestInfo&) override {
    std::error_code ignored;
    fs::current_path(home_, ignored);
    std::string left;
    for (const auto& entry : fs::directory_iterator(own_, ignored)) {
      left += ' ';
      left += entry.path().filename().string();
    }
    fs::remove_all(own_, ignored);
    if (!left.empty()) {
      ADD_FAILURE() << "the test left in its working directory:" << left;
    }
  }

 private:
  fs::path home_;
  fs::path own_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new OwnDirectoryPerTest);
  return RUN_ALL_TESTS();
}
