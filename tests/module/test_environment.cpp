// Module tests never touch a real user's folders, nor each other's: the
// module's data folder is pointed at a fresh temporary folder of this test
// process before any module loads (natively through the XDG variables, on
// Windows through the module's own override).
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

#if defined(_WIN32)
#include <windows.h>

namespace {
class PrivateDataFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    char temp[MAX_PATH + 1] = {0};
    const DWORD length = GetTempPathA(sizeof temp, temp);
    ASSERT_TRUE(length > 0 && length < sizeof temp);
    const std::string folder = std::string(temp) + "glimmark-module-" + std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(GetTickCount());
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    ASSERT_TRUE(SetEnvironmentVariableA("GLIMMARK_LOCAL_APPDATA", folder.c_str()));
    // These runs are about the host interface: the dialog, which would wait
    // for a person, stays closed (tests/ui drives it).
    ASSERT_TRUE(SetEnvironmentVariableA("GLIMMARK_UNATTENDED", "1"));
  }
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new PrivateDataFolder);
}  // namespace
#endif
