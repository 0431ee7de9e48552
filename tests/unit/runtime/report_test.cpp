// Reporting with bad input and the message window rules, on any platform.
#include <thread>

#include "log_test_support.h"
#include "platform/platform.h"

namespace {

using logtest::DebugLogTest;
using logtest::SplitLines;

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST(ReportWithoutQueue, ReportsBeforeTheQueueOpensAreHarmless) {
  CloseDebugLog();
  REPORT_DEBUG("nobody listens %d", 1);
  REPORT_TRACE("nor here");
  EXPECT_FALSE(IsDebugLoggingQueueOpen());
  EXPECT_EQ(GetLoggingMode(), static_cast<uint32_t>(LOGMODE_NOT_OPENED));
}

TEST_F(DebugLogTest, BadReportsAreLoggedNotFatal) {
  OpenLog(LOGMODE_IMMEDIATE);
  ReportMessage(nullptr, STYLE_ERROR, "Cap", "no record");
  ReportTrace(nullptr, "no record either");
  DebugMessage noFormat = MakeDebugMessage(5, DEBUG_MESSAGE);
  ReportMessage(&noFormat, STYLE_ERROR, nullptr, nullptr);
  DebugMessage oddCategory = MakeDebugMessage(6, 42);
  ReportMessage(&oddCategory, STYLE_ERROR, "Cap", "odd");
  ShowPostedMessage(nullptr, nullptr);
  int notABlock[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  ShowPostedMessage(notABlock, nullptr);

  std::string text = CloseAndRead();
  EXPECT_TRUE(Contains(text, "without a message record")) << text;
  EXPECT_TRUE(Contains(text, "'Cap' - 'no record'"));
  EXPECT_TRUE(Contains(text, "Trace Message: no record either"));
  EXPECT_TRUE(Contains(text, "without a format (line 5)"));
  EXPECT_TRUE(Contains(text, "Line 6: Unknown Message Category 42: 'Cap' - 'odd'"));
  EXPECT_TRUE(Contains(text, "ShowPostedMessage() called with invalid argument."));
}

TEST_F(DebugLogTest, QueueRecordsTheUiThreadAndHostWindow) {
  int fakeHost = 0;
  ASSERT_TRUE(OpenDebugLoggingQueue(&fakeHost, "Glimmark 2"));
  EXPECT_EQ(GetMessageWindow(), static_cast<WindowHandle>(&fakeHost));
  uint32_t uiThread = GetUIThreadId();
  uint32_t workerThread = 0;
  WindowHandle fromWorker = &fakeHost;
  std::thread([&] {
    workerThread = PlatformCurrentThreadId();
    fromWorker = SetMessageWindow(&fakeHost);
  }).join();
  EXPECT_NE(uiThread, workerThread);
  EXPECT_EQ(fromWorker, nullptr);
  // A window that does not exist is refused even on the UI thread.
  int notAWindow = 0;
  EXPECT_EQ(SetMessageWindow(&notAWindow), nullptr);
  EXPECT_EQ(GetMessageWindow(), static_cast<WindowHandle>(&fakeHost));

  ASSERT_TRUE(OpenDebugLog(LOGMODE_IMMEDIATE));
  std::string text = CloseAndRead();
  EXPECT_TRUE(Contains(text, "SetMessageWindow() called from a thread other than the UI thread."));
  EXPECT_TRUE(Contains(text, "SetMessageWindow() called with a window that does not exist."));
}

TEST_F(DebugLogTest, TheQueueCanBeOpenedAgainAfterClosing) {
  OpenLog(LOGMODE_IMMEDIATE);
  REPORT_TRACE("first run");
  std::string first = CloseAndRead();
  OpenLog(LOGMODE_THREADED);
  REPORT_TRACE("second run");
  std::string second = CloseAndRead();
  EXPECT_TRUE(Contains(first, "first run"));
  EXPECT_FALSE(Contains(second, "first run"));
  EXPECT_TRUE(Contains(second, "second run"));
  EXPECT_EQ(SplitLines(second).size(), 5u);
}

}  // namespace
