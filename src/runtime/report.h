#pragma once
// Reporting and debug logging.
//
// Every failure, warning and trace point goes through ReportMessage (or
// ReportTrace). A report is formatted, stamped with time, thread and source
// line, and appended to the log queue; User Messages are also shown to the
// user: by a message box when raised on the UI thread, posted to the current
// message window (as POST_DEBUG_MESSAGE) when raised elsewhere, and only
// logged when no suitable window exists. The native build writes user
// messages to standard error instead of showing a box.
//
// Reporting never fails its caller: problems of the logging machinery are
// themselves reported and may only reach the queue.
#include <cstdarg>
#include <cstdint>
#include <string>

using WindowHandle = void*;

enum MessageCategory : uint32_t {
  DEBUG_MESSAGE = 0,       // log only
  USER_MESSAGE = 1,        // log and show
  SYSTEM_ERROR = 2,        // code = operating system error code
  OPENGL_ERROR = 3,        // code = OpenGL error code
  EVENT_MONITOR = 4,
  CRT_ERROR = 5,           // code = run-time library errno
  TRACE_MESSAGE = 6,
};

// Message box styles (the icon bits of the Win32 message box flags).
enum : uint32_t {
  STYLE_ERROR = 16,
  STYLE_WARNING = 48,
  STYLE_INFORMATION = 64,
};

enum LoggingMode : uint32_t {
  LOGMODE_NOT_OPENED = 0,
  LOGMODE_IMMEDIATE = 1,
  LOGMODE_THREADED = 2,
  LOGMODE_DISCARD = 3,
};

// WM_APP + 9: a report from another thread for the UI thread to show.
constexpr uint32_t POST_DEBUG_MESSAGE = 0x8009;

extern const char* const CAPTION_UNEXPECTED_ERROR;  // "Debug:  Unexpected Error"

struct DebugMessage {
  uint32_t line;
  uint32_t category;
  uint32_t code;
  uint32_t style;
  const char* caption;
};

inline DebugMessage MakeDebugMessage(uint32_t line, uint32_t category, uint32_t code = 0) {
  return DebugMessage{line, category, code, 0, nullptr};
}

void ReportMessage(DebugMessage* message, uint32_t style, const char* caption, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void ReportMessageV(DebugMessage* message, uint32_t style, const char* caption, const char* format, va_list args);
void ReportTrace(DebugMessage* message, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Shorthands for the common cases: an internal failure (Debug Message with the
// usual caption), a system error with its code, a trace line.
#define REPORT_DEBUG(...)                                                       \
  do {                                                                          \
    DebugMessage report_msg_ = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);       \
    ReportMessage(&report_msg_, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR, __VA_ARGS__); \
  } while (0)
#define REPORT_SYSTEM_ERROR(code, ...)                                          \
  do {                                                                          \
    DebugMessage report_msg_ = MakeDebugMessage(__LINE__, SYSTEM_ERROR, (code)); \
    ReportMessage(&report_msg_, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR, __VA_ARGS__); \
  } while (0)
#define REPORT_USER(style, caption, ...)                                        \
  do {                                                                          \
    DebugMessage report_msg_ = MakeDebugMessage(__LINE__, USER_MESSAGE);        \
    ReportMessage(&report_msg_, (style), (caption), __VA_ARGS__);               \
  } while (0)
#define REPORT_TRACE(...)                                                       \
  do {                                                                          \
    DebugMessage report_msg_ = MakeDebugMessage(__LINE__, TRACE_MESSAGE);       \
    ReportTrace(&report_msg_, __VA_ARGS__);                                     \
  } while (0)

// Queue and log lifecycle. The queue is opened first (by the plug-in's
// initialisation, on the UI thread, which it records as the UI thread);
// entries wait in it until OpenDebugLog picks a mode.
bool OpenDebugLoggingQueue(WindowHandle hostWindow, const char* productTitle);
bool OpenDebugLog(uint32_t mode);
void CloseDebugLog();
uint32_t GetLoggingMode();
bool IsDebugLoggingQueueOpen();

// Installation runs write "Installation Log opened" in the header.
void SetInstallationLogHeader(bool installation);

WindowHandle SetMessageWindow(WindowHandle window);
WindowHandle GetMessageWindow();
uint32_t GetUIThreadId();

// Shows a block posted with POST_DEBUG_MESSAGE and frees it.
void ShowPostedMessage(void* block, WindowHandle owner);

// User messages raised on another thread while no window of ours can show
// them (a run without a dialog) wait, each text once and a few at most,
// until the UI thread shows them here; the plug-in does so when a selector
// ends. Elsewhere than on the UI thread this does nothing.
void ShowPendingUserMessages();

// User messages in the error style shown, posted or left waiting since the
// process started: a caller compares the count before and after a step to
// learn whether the user was told of a failure.
uint32_t UserErrorMessageCount();

// The text of an OpenGL error code for the log ("Unrecognized OpenGL Error
// 506" for codes beyond the classic six). Kept here, not with the OpenGL
// layer, so that reporting needs no OpenGL.
std::string GetOpenGLErrorText(uint32_t code);
