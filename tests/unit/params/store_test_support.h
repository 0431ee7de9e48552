#pragma once
// Shared by the tests of the parameter stores and of scripting: a private log
// per test whose user messages are only logged, never shown (a message box
// would wait forever for a click under Wine), and a look into that log.
#include <string>

#include "../runtime/log_test_support.h"
#include "runtime/debug_log.h"

namespace storetest {

class QuietLogTest : public logtest::DebugLogTest {
 protected:
  // Opens the log; afterwards no thread counts as the UI thread, so user
  // messages reach the log alone.
  void OpenQuietLog() {
    OpenLog(LOGMODE_IMMEDIATE);
    ResetReportingTargets(nullptr, 0);
  }

  // Closes the log, returns its text and opens a fresh quiet one.
  std::string TakeLog() {
    std::string text = CloseAndRead();
    OpenQuietLog();
    return text;
  }

  static bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
};

}  // namespace storetest
