// The debug log as a file: header and footer, the line rules of each
// category, rotation, and the threaded writer.
#include <algorithm>
#include <cerrno>
#include <map>
#include <thread>

#include "../test_hooks_support.h"
#include "log_test_support.h"
#include "platform/platform.h"

namespace {

using logtest::DebugLogTest;
using logtest::Normalise;
using logtest::SplitLines;

// The lines of a log between the header (two lines) and the footer.
std::vector<std::string> BodyLines(const std::string& text) {
  std::vector<std::string> lines = SplitLines(text);
  if (lines.size() < 4) return {};
  return std::vector<std::string>(lines.begin() + 2, lines.end() - 2);
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST_F(DebugLogTest, HeaderAndFooterFrameTheEntries) {
  OpenLog(LOGMODE_IMMEDIATE);
  REPORT_TRACE("between header and footer");
  std::vector<std::string> lines = SplitLines(CloseAndRead());
  ASSERT_EQ(lines.size(), 5u);

  // A test program may carry no version resource; the numbers are then the
  // compiled-in ones, which only need to look like a version here.
  uint16_t v[4] = {0, 0, 0, 0};
  const std::string version = PlatformModuleVersion(v) ? std::to_string(v[0]) + "." + std::to_string(v[1]) + "." +
                                                             std::to_string(v[2]) + "." + std::to_string(v[3])
                                                       : std::string("#*.#*.#*.#*");
  const std::string bits = sizeof(void*) == 8 ? "64 bit" : "32 bit";
  const std::string when = "on *day, * ##, #### at ##:##:##.";
  const std::string header = "Glimmark 2 version " + version + " " + bits + " Release (??? ?# ####) Log opened " + when;
  EXPECT_TRUE(logtest::Matches(header.c_str(), lines[0].c_str())) << lines[0];
  EXPECT_EQ(lines[1], "");
  EXPECT_TRUE(Contains(lines[2], "Trace Message: between header and footer"));
  EXPECT_EQ(lines[3], "");
  EXPECT_TRUE(logtest::Matches(("Log closed " + when).c_str(), lines[4].c_str())) << lines[4];
}

TEST_F(DebugLogTest, InstallationRunsSayInstallationLog) {
  SetInstallationLogHeader(true);
  OpenLog(LOGMODE_IMMEDIATE);
  std::vector<std::string> lines = SplitLines(CloseAndRead());
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(Contains(lines[0], " Installation Log opened on ")) << lines[0];
}

TEST_F(DebugLogTest, EachCategoryHasItsLineFormat) {
  OpenLog(LOGMODE_IMMEDIATE);
  DebugMessage debug = MakeDebugMessage(101, DEBUG_MESSAGE);
  ReportMessage(&debug, STYLE_ERROR, "Cap", "debug %d", 1);
  EXPECT_EQ(debug.style, static_cast<uint32_t>(STYLE_ERROR));
  EXPECT_STREQ(debug.caption, "Cap");

  // From a worker thread a user message is only logged here: no dialog is
  // there to show it, and the test must not open a message box.
  std::thread([] {
    DebugMessage user = MakeDebugMessage(102, USER_MESSAGE);
    ReportMessage(&user, STYLE_WARNING, "Heads up", "user %s", "text");
  }).join();

  DebugMessage unknownSystem = MakeDebugMessage(103, SYSTEM_ERROR, 0x7FFFFF00u);
  ReportMessage(&unknownSystem, STYLE_ERROR, "Cap", "system");
  DebugMessage gl = MakeDebugMessage(104, OPENGL_ERROR, 0x0502);
  ReportMessage(&gl, STYLE_ERROR, "Cap", "gl");
  DebugMessage glUnknown = MakeDebugMessage(105, OPENGL_ERROR, 0x0506);
  ReportMessage(&glUnknown, STYLE_ERROR, "Cap", "gl2");
  DebugMessage event = MakeDebugMessage(106, EVENT_MONITOR);
  ReportTrace(&event, "event %u", 7u);
  DebugMessage crt = MakeDebugMessage(107, CRT_ERROR, ENOENT);
  ReportMessage(&crt, STYLE_ERROR, "Cap", "crt");
  DebugMessage crtUnknown = MakeDebugMessage(108, CRT_ERROR, 99999);
  ReportMessage(&crtUnknown, STYLE_ERROR, "Cap", "crt2");
  DebugMessage trace = MakeDebugMessage(109, TRACE_MESSAGE);
  ReportTrace(&trace, "trace %s", "here");

  std::vector<std::string> body = BodyLines(CloseAndRead());
  ASSERT_EQ(body.size(), 9u);
  for (std::string& line : body) line = Normalise(line);
  EXPECT_EQ(body[0], "HH:MM:SS Thread ID: Line 101: Debug Message: 'Cap' - 'debug 1'");
  EXPECT_EQ(body[1], "HH:MM:SS Thread ID: Line 102: User Message: 'Heads up' - 'user text'");
  EXPECT_EQ(body[2], "HH:MM:SS Thread ID: Line 103: System Error: 'Unidentified System Error' : 'Cap' - 'system'");
  EXPECT_EQ(body[3], "HH:MM:SS : Line 104: OpenGL Error: 'An invalid operation was attempted' : 'Cap' - 'gl'");
  EXPECT_EQ(body[4], "HH:MM:SS : Line 105: OpenGL Error: 'Unrecognized OpenGL Error 506' : 'Cap' - 'gl2'");
  EXPECT_EQ(body[5], "HH:MM:SS Thread ID: Line 106: Event Monitor: event 7");
  // Both C libraries we build with describe ENOENT this way.
  EXPECT_EQ(body[6], "HH:MM:SS Thread ID: Line 107: C Run-Time Library Error: 'No such file or directory' : 'Cap' - 'crt'");
  EXPECT_EQ(body[7],
            "HH:MM:SS Thread ID: Line 108: C Run-Time Library Error: 'Unidentified C Run-Time Library Error 99999' : "
            "'Cap' - 'crt2'");
  EXPECT_EQ(body[8], "HH:MM:SS Thread ID: Line 109: Trace Message: trace here");
}

TEST_F(DebugLogTest, KnownSystemErrorsCarryTheSystemsOneLineText) {
  OpenLog(LOGMODE_IMMEDIATE);
  // 2 is "file not found" on Windows and ENOENT natively: both have text.
  DebugMessage system = MakeDebugMessage(1, SYSTEM_ERROR, 2);
  ReportMessage(&system, STYLE_ERROR, "Cap", "x");
  std::vector<std::string> body = BodyLines(CloseAndRead());
  ASSERT_EQ(body.size(), 1u);
  const std::string lead = "System Error: '";
  const std::string tail = "' : 'Cap' - 'x'";
  size_t begin = body[0].find(lead);
  ASSERT_NE(begin, std::string::npos) << body[0];
  ASSERT_GE(body[0].size(), begin + lead.size() + tail.size());
  ASSERT_EQ(body[0].substr(body[0].size() - tail.size()), tail) << body[0];
  std::string systemText = body[0].substr(begin + lead.size(), body[0].size() - tail.size() - begin - lead.size());
  EXPECT_FALSE(systemText.empty());
  EXPECT_FALSE(Contains(systemText, "Unidentified"));
  EXPECT_FALSE(Contains(systemText, "\r"));
}

TEST_F(DebugLogTest, LineFeedIsAddedOnlyWhenMissing) {
  OpenLog(LOGMODE_IMMEDIATE);
  REPORT_TRACE("ends with a line feed\n");
  REPORT_TRACE("does not");
  DebugMessage gl = MakeDebugMessage(3, OPENGL_ERROR, 0x0500);
  ReportMessage(&gl, STYLE_ERROR, "Cap", "gl format ends in a line feed itself");
  REPORT_TRACE("last");
  std::vector<std::string> body = BodyLines(CloseAndRead());
  ASSERT_EQ(body.size(), 4u);
  EXPECT_TRUE(Contains(body[0], "ends with a line feed"));
  EXPECT_TRUE(Contains(body[1], "does not"));
  EXPECT_TRUE(Contains(body[2], "An invalid enumeration was specified"));
  EXPECT_TRUE(Contains(body[3], "last"));
}

TEST_F(DebugLogTest, LongMessagesAreLoggedWhole) {
  OpenLog(LOGMODE_IMMEDIATE);
  std::string longText;
  for (int i = 0; longText.size() < 6000; ++i) longText += std::to_string(i) + ",";
  REPORT_DEBUG("begin %s end", longText.c_str());
  std::vector<std::string> body = BodyLines(CloseAndRead());
  ASSERT_EQ(body.size(), 1u);
  EXPECT_TRUE(Contains(body[0], "'begin " + longText + " end'"));
}

TEST_F(DebugLogTest, EntriesQueuedBeforeTheFileOpensAreWrittenFirst) {
  ASSERT_TRUE(OpenDebugLoggingQueue(nullptr, "Glimmark 2"));
  EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGMODE_NOT_OPENED));
  REPORT_TRACE("early");
  ASSERT_TRUE(OpenDebugLog(LOGMODE_THREADED));
  EXPECT_TRUE(OpenDebugLog(LOGMODE_IMMEDIATE));  // already open: nothing changes
  EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGMODE_THREADED));
  REPORT_TRACE("late");
  std::vector<std::string> body = BodyLines(CloseAndRead());
  ASSERT_EQ(body.size(), 2u);
  EXPECT_TRUE(Contains(body[0], "early"));
  EXPECT_TRUE(Contains(body[1], "late"));
  EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGMODE_NOT_OPENED));
  EXPECT_FALSE(IsDebugLoggingQueueOpen());
}

TEST_F(DebugLogTest, ThreadedModeWritesEveryEntryInOrderPerThread) {
  OpenLog(LOGMODE_THREADED);
  const int threads = 4;
  const int perThread = 500;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < perThread; ++i) REPORT_TRACE("worker %d entry %d", t, i);
    });
  }
  for (std::thread& worker : workers) worker.join();
  std::vector<std::string> body = BodyLines(CloseAndRead());
  ASSERT_EQ(body.size(), static_cast<size_t>(threads * perThread));
  std::map<int, int> next;
  for (const std::string& line : body) {
    size_t at = line.find("Trace Message: worker ");
    ASSERT_NE(at, std::string::npos) << line;
    int t = -1;
    int i = -1;
    ASSERT_EQ(std::sscanf(line.c_str() + at, "Trace Message: worker %d entry %d", &t, &i), 2) << line;
    ASSERT_EQ(i, next[t]) << "thread " << t << " out of order";
    next[t] = i + 1;
  }
  for (int t = 0; t < threads; ++t) EXPECT_EQ(next[t], perThread);
}

TEST_F(DebugLogTest, RotationKeepsTenLogsAndDropsStrays) {
  for (int n = 0; n <= 9; ++n) std::ofstream(LogFile(n)) << "old " << n;
  std::ofstream(folder_ / "Glimmark2_xy.log") << "stray";
  std::ofstream(folder_ / "Glimmark2_123.log") << "does not match the pattern";
  std::ofstream(folder_ / "notes.txt") << "unrelated";

  OpenLog(LOGMODE_IMMEDIATE);
  CloseDebugLog();

  for (int n = 1; n <= 9; ++n) {
    EXPECT_EQ(logtest::ReadFileBytes(LogFile(n)), "old " + std::to_string(n - 1)) << "log " << n;
  }
  EXPECT_EQ(logtest::ReadFileBytes(LogFile(0)).compare(0, 2, "\xFF\xFE", 2), 0);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "Glimmark2_xy.log"));
  EXPECT_FALSE(std::filesystem::exists(LogFile(10)));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "Glimmark2_123.log"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "notes.txt"));
}

TEST_F(DebugLogTest, RepeatedRunsKeepTheNewestTen) {
  for (int run = 0; run < 12; ++run) {
    OpenLog(LOGMODE_IMMEDIATE);
    REPORT_TRACE("run %d", run);
    CloseDebugLog();
  }
  int logs = 0;
  for (const auto& item : std::filesystem::directory_iterator(folder_)) {
    (void)item;
    ++logs;
  }
  EXPECT_EQ(logs, 10);
  for (int n = 0; n <= 9; ++n) {
    std::string text = logtest::DecodeUtf16Le(logtest::ReadFileBytes(LogFile(n)));
    EXPECT_TRUE(Contains(text, "Trace Message: run " + std::to_string(11 - n) + "\n")) << "log " << n;
  }
}

TEST_F(DebugLogTest, DiscardModeWritesNothing) {
  OpenLog(LOGMODE_DISCARD);
  EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGMODE_DISCARD));
  REPORT_TRACE("dropped");
  CloseDebugLog();
  EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGMODE_NOT_OPENED));
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

TEST_F(DebugLogTest, BadModesAndMissingFoldersAreRefused) {
  ASSERT_TRUE(OpenDebugLoggingQueue(nullptr, "Glimmark 2"));
  EXPECT_FALSE(OpenDebugLog(LOGMODE_NOT_OPENED));
  EXPECT_FALSE(OpenDebugLog(7));
  EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGMODE_NOT_OPENED));

  // A folder that cannot exist: its parent is a file.
  std::ofstream(folder_ / "file") << "x";
  testhooks::Hooks().SetOverride(TEST_OVERRIDE_DEBUG_LOG_FOLDER, (folder_ / "file" / "logs").string().c_str());
  EXPECT_FALSE(OpenDebugLog(LOGMODE_THREADED));
  EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGMODE_NOT_OPENED));

  // The refusals wait in the queue and reach the log once it opens.
  testhooks::Hooks().SetOverride(TEST_OVERRIDE_DEBUG_LOG_FOLDER, folder_.string().c_str());
  ASSERT_TRUE(OpenDebugLog(LOGMODE_IMMEDIATE));
  std::vector<std::string> body = BodyLines(CloseAndRead());
  ASSERT_EQ(body.size(), 3u);
  EXPECT_TRUE(Contains(body[0], "invalid logging mode '0'"));
  EXPECT_TRUE(Contains(body[1], "invalid logging mode '7'"));
  EXPECT_TRUE(Contains(body[2], "Threaded mode logging requires the file system"));
}

TEST_F(DebugLogTest, OpeningTheLogBeforeTheQueueFails) {
  EXPECT_FALSE(OpenDebugLog(LOGMODE_IMMEDIATE));
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

}  // namespace
