#pragma once
// Shared helpers of the debug log tests: a private log folder per test and a
// reader that decodes the UTF-16LE log file on its own, independent of the
// code that wrote it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "../test_hooks_support.h"
#include "platform/platform.h"
#include "runtime/folders.h"
#include "runtime/report.h"

namespace logtest {

// Decodes UTF-16LE bytes into UTF-8; unpaired surrogates become U+FFFD.
inline std::string DecodeUtf16Le(const std::string& bytes) {
  std::string out;
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8);
  };
  auto put = [&](uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t u = unit(i);
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < bytes.size()) {
      uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    put(u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
  }
  return out;
}

inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

// Matches text against a pattern where '*' is any run of characters, '#' one
// decimal digit and '?' any one character. (std::regex trips a false
// uninitialised warning of the sanitizer build.)
inline bool Matches(const char* pattern, const char* text) {
  for (; *pattern != '\0'; ++pattern, ++text) {
    if (*pattern == '*') {
      for (const char* rest = text;; ++rest) {
        if (Matches(pattern + 1, rest)) return true;
        if (*rest == '\0') return false;
      }
    }
    if (*text == '\0') return false;
    if (*pattern == '#' ? !(*text >= '0' && *text <= '9') : (*pattern != '?' && *pattern != *text)) return false;
  }
  return *text == '\0';
}

inline bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// Replaces the time stamp and the thread id, which change from run to run.
inline std::string Normalise(std::string line) {
  if (Matches("##:##:##*", line.c_str())) line.replace(0, 8, "HH:MM:SS");
  size_t at = line.find("Thread 0x");
  if (at != std::string::npos) {
    size_t end = at + 9;
    while (end < line.size() && IsHexDigit(line[end])) ++end;
    if (end - (at + 9) >= 4 && end < line.size() && line[end] == ':') line.replace(at, end - at, "Thread ID");
  }
  return line;
}

// Gives each test its own empty log folder and closes the log afterwards.
class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseDebugLog();
    std::error_code ignored;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::temp_directory_path() /
              ("glimmark-logtest-" + std::string(info->name()) + "-" + std::to_string(ProcessId()) + "-" +
               std::to_string(Unique()));
    std::filesystem::remove_all(folder_, ignored);
    std::filesystem::create_directories(folder_);
    testhooks::Hooks().SetOverride(TEST_OVERRIDE_DEBUG_LOG_FOLDER, folder_.string().c_str());
  }

  void TearDown() override {
    CloseDebugLog();
    SetInstallationLogHeader(false);
    testhooks::Hooks().SetOverride(TEST_OVERRIDE_DEBUG_LOG_FOLDER, nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Several test processes may run one test at once (the same test under
  // different settings): their folders must differ too. A thread id is
  // unique among live processes on both systems.
  static unsigned long ProcessId() {
    static const unsigned long id = PlatformCurrentThreadId();
    return id;
  }
  static unsigned Unique() {
    static unsigned counter = 0;
    return ++counter;
  }

  std::filesystem::path LogFile(int number) const {
    char name[32];
    std::snprintf(name, sizeof name, "Glimmark2_%02d.log", number);
    return folder_ / name;
  }

  // Opens the queue and the log in the given mode.
  void OpenLog(uint32_t mode) {
    ASSERT_TRUE(OpenDebugLoggingQueue(nullptr, "Glimmark 2"));
    ASSERT_TRUE(OpenDebugLog(mode));
  }

  // Closes the log and returns the newest log's decoded text.
  std::string CloseAndRead() {
    CloseDebugLog();
    std::string bytes = ReadFileBytes(LogFile(0));
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.size() % 2, 0u);
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE", 2) != 0) {
      ADD_FAILURE() << "log does not start with the little-endian byte order mark";
      return DecodeUtf16Le(bytes);
    }
    return DecodeUtf16Le(bytes.substr(2));
  }

  std::filesystem::path folder_;
};

}  // namespace logtest
