// ReportMessage and the user-facing half of reporting: log lines per
// category, message boxes on the UI thread and messages posted to the
// current message window from other threads.
#include "runtime/report.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/debug_log.h"
#include "runtime/debug_log_platform.h"

const char* const CAPTION_UNEXPECTED_ERROR = "Debug:  Unexpected Error";

namespace {

std::atomic<WindowHandle> HostWindow{nullptr};
std::atomic<WindowHandle> MessageWindow{nullptr};
std::atomic<uint32_t> UiThreadId{0};
std::atomic<bool> UiThreadKnown{false};
std::atomic<uint32_t> UserErrorMessages{0};

// User messages that no window can show for the thread that raised them.
struct PendingUserMessage {
  uint32_t style;
  std::string caption;
  std::string text;
};
constexpr size_t MAX_PENDING_USER_MESSAGES = 8;
std::mutex PendingLock;
std::vector<PendingUserMessage> PendingUserMessages;

// Keeps a message for the UI thread (each caption and text once).
void KeepForUiThread(uint32_t style, const char* caption, const char* text) {
  std::lock_guard<std::mutex> lock(PendingLock);
  if (PendingUserMessages.size() >= MAX_PENDING_USER_MESSAGES) return;
  for (const PendingUserMessage& kept : PendingUserMessages)
    if (kept.caption == caption && kept.text == text) return;
  PendingUserMessages.push_back(PendingUserMessage{style, caption, text});
}

// The block posted with POST_DEBUG_MESSAGE: this header, then the caption and
// the text, each zero-terminated. The self pointer lets the receiver tell a
// real block from a stray message parameter.
struct PostedMessageHeader {
  uint32_t category;
  uint32_t iconStyle;
  void* self;
};

// The message box style bits that select the icon.
const uint32_t STYLE_ICON_MASK = 0xF0;

bool IsUiThread() { return UiThreadKnown && UiThreadId == PlatformCurrentThreadId(); }

std::string SystemErrorText(uint32_t code) {
  std::string text = PlatformSystemErrorText(code);
  return text.empty() ? std::string("Unidentified System Error") : text;
}

std::string CrtText(uint32_t code) {
  std::string text = CrtErrorText(static_cast<int>(code));
  if (!text.empty()) return text;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "Unidentified C Run-Time Library Error %d", static_cast<int>(code));
  return buffer;
}

// Formats a report text of any length; false when it cannot be formatted.
bool FormatReportText(const char* format, va_list args, std::string* text) {
  char buffer[512];
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(buffer, sizeof buffer, format, copy);
  va_end(copy);
  if (length < 0) return false;
  if (static_cast<size_t>(length) < sizeof buffer) {
    text->assign(buffer, static_cast<size_t>(length));
    return true;
  }
  text->resize(static_cast<size_t>(length) + 1);
  va_copy(copy, args);
  std::vsnprintf(&(*text)[0], text->size(), format, copy);
  va_end(copy);
  text->resize(static_cast<size_t>(length));
  return true;
}

void LogReport(const DebugMessage& message, const char* caption, const char* text) {
  std::tm now;
  LocalTimeNow(&now);
  char time[32] = "??:??:??";
  std::strftime(time, sizeof time, "%H:%M:%S", &now);
  const unsigned thread = PlatformCurrentThreadId();
  const unsigned line = message.line;
  switch (message.category) {
    case DEBUG_MESSAGE:
      LogLine("%s Thread 0x%04X: Line %u: Debug Message: '%s' - '%s'", time, thread, line, caption, text);
      break;
    case USER_MESSAGE:
      LogLine("%s Thread 0x%04X: Line %u: User Message: '%s' - '%s'", time, thread, line, caption, text);
      break;
    case SYSTEM_ERROR:
      LogLine("%s Thread 0x%04X: Line %u: System Error: '%s' : '%s' - '%s'", time, thread, line,
              SystemErrorText(message.code).c_str(), caption, text);
      break;
    case OPENGL_ERROR:
      LogLine("%s : Line %u: OpenGL Error: '%s' : '%s' - '%s'\n", time, line, GetOpenGLErrorText(message.code).c_str(), caption,
              text);
      break;
    case EVENT_MONITOR:
      LogLine("%s Thread 0x%04X: Line %u: Event Monitor: %s", time, thread, line, text);
      break;
    case CRT_ERROR:
      LogLine("%s Thread 0x%04X: Line %u: C Run-Time Library Error: '%s' : '%s' - '%s'", time, thread, line,
              CrtText(message.code).c_str(), caption, text);
      break;
    case TRACE_MESSAGE:
      LogLine("%s Thread 0x%04X: Line %u: Trace Message: %s", time, thread, line, text);
      break;
    default:
      // Still logged whole, so that a slip in the category loses nothing.
      LogLine("%s Thread 0x%04X: Line %u: Unknown Message Category %u: '%s' - '%s'", time, thread, line,
              static_cast<unsigned>(message.category), caption, text);
      break;
  }
}

void PostUserMessage(WindowHandle window, uint32_t style, const char* caption, const char* text) {
  size_t captionSize = std::strlen(caption) + 1;
  size_t textSize = std::strlen(text) + 1;
  void* block = std::malloc(sizeof(PostedMessageHeader) + captionSize + textSize);
  if (block == nullptr) {
    LogLine("Could not allocate a block to post a user message to the message window.");
    return;
  }
  PostedMessageHeader* header = static_cast<PostedMessageHeader*>(block);
  header->category = USER_MESSAGE;
  header->iconStyle = style & STYLE_ICON_MASK;
  header->self = block;
  char* strings = reinterpret_cast<char*>(header + 1);
  std::memcpy(strings, caption, captionSize);
  std::memcpy(strings + captionSize, text, textSize);
  if (!PlatformPostMessage(window, POST_DEBUG_MESSAGE, reinterpret_cast<uintptr_t>(block), 0)) {
    // Nobody will receive the block, so it is freed here.
    header->self = nullptr;
    std::free(block);
    LogLine("Could not post a user message to the message window.");
  }
}

void ShowUserMessage(uint32_t style, const char* caption, const char* text) {
  if ((style & STYLE_ICON_MASK) == STYLE_ERROR) ++UserErrorMessages;
  WindowHandle window = MessageWindow;
  bool windowExists = PlatformIsWindow(window);
  if (IsUiThread()) {
    // The user waits on this thread: show the message even where no window
    // can own the box (the native build writes it to standard error).
    PlatformShowMessageBox(windowExists ? window : nullptr, text, caption, style);
  } else if (windowExists && window != HostWindow.load()) {
    PostUserMessage(window, style, caption, text);
  } else {
    // No window of ours can show it for this thread (a run without a
    // dialog): the UI thread shows it when the selector ends.
    KeepForUiThread(style, caption, text);
  }
}

void HandleReport(const DebugMessage& message, const char* format, va_list args) {
  const char* caption = message.caption != nullptr ? message.caption : "";
  std::string text;
  if (format == nullptr) {
    LogLine("ReportMessage() called without a format (line %u).", static_cast<unsigned>(message.line));
  } else if (!FormatReportText(format, args, &text)) {
    text = "(the message could not be formatted: '";
    text += format;
    text += "')";
  }
  LogReport(message, caption, text.c_str());
  if (message.category == USER_MESSAGE) ShowUserMessage(message.style, caption, text.c_str());
}

}  // namespace

void ResetReportingTargets(WindowHandle hostWindow, uint32_t uiThreadId) noexcept {
  HostWindow = hostWindow;
  MessageWindow = hostWindow;
  UiThreadId = uiThreadId;
  UiThreadKnown = true;
}

void ReportMessageV(DebugMessage* message, uint32_t style, const char* caption, const char* format, va_list args) {
  try {
    if (message == nullptr) {
      LogLine("ReportMessage() called without a message record.");
      DebugMessage substitute = MakeDebugMessage(0, DEBUG_MESSAGE);
      substitute.style = style;
      substitute.caption = caption;
      HandleReport(substitute, format, args);
      return;
    }
    message->style = style;
    message->caption = caption;
    HandleReport(*message, format, args);
  } catch (...) {
    // Reporting never fails its caller; out of memory loses this report.
  }
}

void ReportMessage(DebugMessage* message, uint32_t style, const char* caption, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportMessageV(message, style, caption, format, args);
  va_end(args);
}

void ReportTrace(DebugMessage* message, const char* format, ...) {
  va_list args;
  va_start(args, format);
  try {
    if (message == nullptr) {
      LogLine("ReportTrace() called without a message record.");
      HandleReport(MakeDebugMessage(0, TRACE_MESSAGE), format, args);
    } else {
      HandleReport(*message, format, args);
    }
  } catch (...) {
    // As ReportMessage.
  }
  va_end(args);
}

WindowHandle SetMessageWindow(WindowHandle window) {
  if (!IsUiThread()) {
    REPORT_DEBUG("SetMessageWindow() called from a thread other than the UI thread.");
    return nullptr;
  }
  if (!PlatformIsWindow(window)) {
    REPORT_DEBUG("SetMessageWindow() called with a window that does not exist.");
    return nullptr;
  }
  return MessageWindow.exchange(window);
}

WindowHandle GetMessageWindow() { return MessageWindow; }

uint32_t GetUIThreadId() { return UiThreadId; }

void ShowPendingUserMessages() {
  if (!IsUiThread()) return;
  std::vector<PendingUserMessage> shown;
  {
    std::lock_guard<std::mutex> lock(PendingLock);
    shown.swap(PendingUserMessages);
  }
  WindowHandle window = MessageWindow;
  for (const PendingUserMessage& message : shown)
    PlatformShowMessageBox(PlatformIsWindow(window) ? window : nullptr, message.text.c_str(), message.caption.c_str(),
                           message.style);
}

uint32_t UserErrorMessageCount() { return UserErrorMessages.load(); }

void ShowPostedMessage(void* block, WindowHandle owner) {
  PostedMessageHeader* header = static_cast<PostedMessageHeader*>(block);
  if (header == nullptr || header->self != block) {
    REPORT_DEBUG("ShowPostedMessage() called with invalid argument.");
    return;
  }
  const char* caption = reinterpret_cast<const char*>(header + 1);
  const char* text = caption + std::strlen(caption) + 1;
  PlatformShowMessageBox(owner, text, caption, header->iconStyle);
  std::free(block);
}

std::string GetOpenGLErrorText(uint32_t code) {
  switch (code) {
    case 0x0000: return "Success";
    case 0x0500: return "An invalid enumeration was specified";
    case 0x0501: return "An invalid value was specified";
    case 0x0502: return "An invalid operation was attempted";
    case 0x0503: return "A stack overflow has occurred";
    case 0x0504: return "A stack underflow has occurred";
    case 0x0505: return "OpenGL memory is exhausted";
    default: {
      char text[256];
      std::snprintf(text, sizeof text, "Unrecognized OpenGL Error %X", code);
      return text;
    }
  }
}
