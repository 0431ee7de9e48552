#include "host/main_dialog.h"

#include "runtime/report.h"

bool RunMainDialog(FilterRun* /*run*/) {
  // No windows here: a Start that asks for the dialog renders with the
  // current settings, and says so in the log.
  REPORT_TRACE("No dialog in this build: rendering with the current settings.");
  return true;
}

void LoadDialogLibraries() {}
void RemoveDialogMessageHook() {}
