#pragma once
// Shared inside the colour management module only.
#include "runtime/report.h"

// The caption that the Little CMS error hook and a few colour routines use
// (one blank, lower-case "error"), unlike the usual internal-failure caption.
extern const char* const CAPTION_COLOR_UNEXPECTED_ERROR;  // "Debug: Unexpected error"

#define REPORT_COLOR_DEBUG(...)                                                       \
  do {                                                                                \
    DebugMessage report_msg_ = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);             \
    ReportMessage(&report_msg_, STYLE_ERROR, CAPTION_COLOR_UNEXPECTED_ERROR, __VA_ARGS__); \
  } while (0)

// Deletes every cached transform (part of ReleaseColorManagement).
void ReleaseTransformCache();
