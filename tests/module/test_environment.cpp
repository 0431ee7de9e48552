// Module tests never touch a real user's folders: natively the module's data
// folder is pointed at a fresh temporary folder before any module loads. Under
// Wine the suite runs in its own prefix, which plays the same role.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#if !defined(_WIN32)
#include <unistd.h>

namespace {
class PrivateDataFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/glimmark-module-XXXXXX";
    const char* folder = mkdtemp(pattern);
    ASSERT_NE(folder, nullptr);
    folder_ = folder;
    setenv("XDG_DATA_HOME", folder_.c_str(), 1);
    setenv("HOME", folder_.c_str(), 1);
  }
  void TearDown() override {
    if (!folder_.empty()) {
      const std::string command = "rm -rf '" + folder_ + "'";
      if (std::system(command.c_str()) != 0) {
        // A left-over temporary folder is harmless.
      }
    }
  }

 private:
  std::string folder_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new PrivateDataFolder);
}  // namespace
#endif
