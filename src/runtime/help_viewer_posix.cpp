// No HTML Help viewer natively: a request is reported and nothing opens.
#include "runtime/help_viewer_platform.h"
#include "runtime/report.h"

bool HelpViewerProgramPath(std::string* path) {
  path->clear();
  return false;
}

void QuitHelpViewerProcess() {}

bool StartHelpViewerProcess(const std::string& commandLine) {
  REPORT_DEBUG("Help is not available in this build (requested: %s).", commandLine.c_str());
  return false;
}

uint32_t HelpViewerProcessId() { return 0; }
