// No HTML Help viewer natively: requests are reported by the portable half.
#include "runtime/help_viewer_platform.h"

bool HelpViewerProgramPath(std::string* path) {
  path->clear();
  return false;
}

void QuitHelpViewerProcess() {}

bool StartHelpViewerProcess(const std::string& /*commandLine*/) { return false; }

uint32_t HelpViewerProcessId() { return 0; }
