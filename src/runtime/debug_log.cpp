// The debug log: the queue of entries, the log file and its rotation, and the
// logging thread of threaded mode.
//
// Locks: LifecycleMutex serialises opening and closing; 'LogQueueSection'
// guards the queue, the file and the thread's flags and is always taken after
// LifecycleMutex. Reports are made only while 'LogQueueSection' is free.
//
// In threaded mode the logging thread is the only writer and takes one entry
// at a time, so exactly one write is outstanding and the file receives the
// entries in queue order. Reporters only append and, when the queue was
// empty, wake the thread; they never wait for the disk.
#include "runtime/debug_log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "glimmark_version.h"
#include "platform/platform.h"
#include "runtime/debug_log_platform.h"
#include "runtime/folders.h"

namespace {

const char* const LOG_BASE_NAME = "Glimmark2";
const char* const LOG_EXTENSION = "log";
// Logs numbered 00 to 09 are kept; a log numbered 9 or more is deleted at the
// next opening instead of being renamed.
const unsigned LOG_KEEP_BELOW = 9;
// Lines up to this size are formatted on the stack.
const size_t LOG_LINE_STACK_CHARS = 2048;
const auto LOGGING_THREAD_WAIT_ROUND = std::chrono::milliseconds(10000);

struct LogState {
  std::mutex LifecycleMutex;
  std::mutex LogQueueSection;
  std::condition_variable IoStartEvent;        // new entries or termination
  std::condition_variable ThreadFinishedEvent;  // the logging thread ends

  // Under LogQueueSection:
  std::deque<std::string> queue;
  bool queueOpen = false;
  std::FILE* file = nullptr;
  bool writeFailed = false;  // after a failed write nothing more is written
  bool terminationRequested = false;
  bool threadFinished = true;

  // Under LifecycleMutex:
  std::thread loggingThread;

  std::atomic<uint32_t> mode{LOGMODE_NOT_OPENED};
  std::atomic<bool> installationHeader{false};
};

// Made on first use and kept while the module is loaded: reports made while
// the process exits still find it, and a still-running logging thread never
// meets a destroyed std::thread.
LogState*& StatePointer() {
  static LogState* state = nullptr;
  return state;
}

// Null only while there is no memory to make it: the caller then has no log
// (reporting never fails its caller, a first report included).
LogState* State() noexcept {
  LogState*& state = StatePointer();
  if (state == nullptr) {
    try {
      state = new LogState;  // its queue allocates too
    } catch (...) {
      state = nullptr;
    }
  }
  return state;
}

// When the module is unloaded after a clean shutdown (log closed, no logging
// thread), the state goes with it; a host that loads and unloads the module
// repeatedly must not lose memory each time. If the log is somehow still
// open, the state is left alone rather than pulled from under its thread.
struct StateReleaser {
  ~StateReleaser() {
    LogState*& state = StatePointer();
    if (state == nullptr || state->mode.load() != LOGMODE_NOT_OPENED || state->loggingThread.joinable()) return;
    delete state;
    state = nullptr;
  }
} g_stateReleaser;

void AppendLineFeedUtf16(std::string* entry) {
  entry->push_back('\n');
  entry->push_back('\0');
}

bool EndsWithLineFeed(const char* text, size_t length) { return length > 0 && text[length - 1] == '\n'; }

// Entry for a text: UTF-16LE, ended by a line feed. Empty on failure.
std::string MakeEntry(const char* text, size_t length) noexcept {
  try {
    std::string entry;
    if (!AppendUtf16Le(text, length, &entry)) return std::string();
    if (!EndsWithLineFeed(text, length)) AppendLineFeedUtf16(&entry);
    return entry;
  } catch (...) {
    return std::string();
  }
}

// "on Monday, August 05, 2013 at 14:03:59"
std::string OpeningTimeText() {
  std::tm now;
  LocalTimeNow(&now);
  char buffer[128] = {0};
  if (std::strftime(buffer, sizeof buffer, "on %A, %B %d, %Y at %H:%M:%S", &now) == 0) return "at an unknown time";
  return buffer;
}

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatText(const char* format, ...) {
  char buffer[1024];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length < 0) return std::string();
  return std::string(buffer, std::min(static_cast<size_t>(length), sizeof buffer - 1));
}

std::string HeaderText(const char* productTitle, bool installation) {
  uint16_t version[4] = {GLIMMARK_VERSION_MAJOR, GLIMMARK_VERSION_MINOR, GLIMMARK_VERSION_PATCH,
                         GLIMMARK_VERSION_BUILD};
  uint16_t fromModule[4] = {0, 0, 0, 0};
  if (PlatformModuleVersion(fromModule)) std::copy(fromModule, fromModule + 4, version);
  // A 64-bit module must not claim to be a 32-bit one.
  const char* bits = sizeof(void*) == 4 ? "32 bit" : "64 bit";
  std::string build = FormatText("%s (%s)", "Release", __DATE__);
  return FormatText("%s version %u.%u.%u.%u %s %s %s %s.\n\n", productTitle, version[0], version[1], version[2],
                    version[3], bits, build.c_str(), installation ? "Installation Log opened" : "Log opened",
                    OpeningTimeText().c_str());
}

std::string FooterText() { return FormatText("\nLog closed %s.\n", OpeningTimeText().c_str()); }

// Writes one entry; the errno of a failure, else 0.
int WriteEntry(std::FILE* file, const std::string& entry) {
  errno = 0;
  if (std::fwrite(entry.data(), 1, entry.size(), file) == entry.size()) return 0;
  return errno != 0 ? errno : EIO;
}

// Writes every queued entry in order and flushes; the caller holds
// LogQueueSection. Returns the errno of a failed write (0 when fine); after a
// failure the queue is emptied and later entries are dropped.
int WriteQueuedEntriesLocked(LogState& s) noexcept {
  if (s.file == nullptr || s.writeFailed) {
    s.queue.clear();
    return 0;
  }
  int error = 0;
  while (!s.queue.empty()) {
    error = WriteEntry(s.file, s.queue.front());
    if (error != 0) break;
    s.queue.pop_front();
  }
  if (error == 0 && std::fflush(s.file) != 0) error = errno != 0 ? errno : EIO;
  if (error != 0) {
    s.writeFailed = true;
    s.queue.clear();
  }
  return error;
}

void ReportWriteFailure(int error) {
  DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, static_cast<uint32_t>(error));
  ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR,
                "Writing the debug log file failed; later log entries are dropped.");
}

// The logging thread of threaded mode.
void LoggingThread() noexcept {
  LogState& s = *State();  // started by a caller that has the state
  std::unique_lock<std::mutex> lock(s.LogQueueSection);
  bool flushed = true;
  for (;;) {
    int writeError = 0;
    if (!s.queue.empty()) {
      bool write = !s.writeFailed;
      std::FILE* file = s.file;
      {
        std::string entry = std::move(s.queue.front());
        s.queue.pop_front();
        lock.unlock();
        if (write) writeError = WriteEntry(file, entry);
      }  // the entry is freed outside the lock
      flushed = false;
    } else if (!flushed) {
      std::FILE* file = s.file;
      lock.unlock();
      if (std::fflush(file) != 0) writeError = errno != 0 ? errno : EIO;
      flushed = true;
    } else if (s.terminationRequested) {
      break;
    } else {
      s.IoStartEvent.wait(lock);
      continue;
    }
    if (writeError != 0) {
      lock.lock();
      bool firstFailure = !s.writeFailed;
      s.writeFailed = true;
      lock.unlock();
      if (firstFailure) ReportWriteFailure(writeError);
    }
    lock.lock();
  }
  s.threadFinished = true;
  s.ThreadFinishedEvent.notify_all();
}

// Stops the logging thread after it has written everything queued. The
// caller holds LifecycleMutex.
void StopLoggingThread(LogState& s) noexcept {
  if (!s.loggingThread.joinable()) return;
  bool premature = false;
  {
    std::unique_lock<std::mutex> lock(s.LogQueueSection);
    premature = s.threadFinished;
    s.terminationRequested = true;
    s.IoStartEvent.notify_all();
    bool timeoutReported = false;
    // A std::thread cannot be killed safely, so a round that times out is
    // reported and the wait goes on; the thread only ever waits for its own
    // writes.
    while (!s.threadFinished) {
      if (!s.ThreadFinishedEvent.wait_for(lock, LOGGING_THREAD_WAIT_ROUND, [&] { return s.threadFinished; }) &&
          !timeoutReported) {
        timeoutReported = true;
        lock.unlock();
        REPORT_DEBUG("Timeout occurred while waiting for Logging thread to terminate");
        lock.lock();
      }
    }
  }
  try {
    s.loggingThread.join();
  } catch (...) {
    REPORT_DEBUG("Error while waiting for logging thread termination.");
    s.loggingThread.detach();
  }
  if (premature) REPORT_DEBUG("Logging thread terminated prematurely with exit status %0lX", 0ul);
}

// The number a log name carries after its last '_', when it is below
// LOG_KEEP_BELOW and directly followed by '.'.
bool KeptLogNumber(const std::string& name, unsigned* number) {
  size_t underscore = name.rfind('_');
  if (underscore == std::string::npos) return false;
  size_t at = underscore + 1;
  unsigned value = 0;
  size_t digits = 0;
  while (at < name.size() && name[at] >= '0' && name[at] <= '9' && digits < 3) {
    value = value * 10 + static_cast<unsigned>(name[at] - '0');
    ++at;
    ++digits;
  }
  if (digits == 0 || at >= name.size() || name[at] != '.' || value >= LOG_KEEP_BELOW) return false;
  *number = value;
  return true;
}

std::string LogPath(const std::string& folder, unsigned number) {
  return folder + PlatformPathSeparator() + FormatText("%s_%02u.%s", LOG_BASE_NAME, number, LOG_EXTENSION);
}

// Makes room for a new log 00 in folder: deletes logs that are too old or
// misnamed and shifts the others up by one. Reports its own failures.
bool RotateDebugLogs(const std::string& folder, std::string* newPath) {
  std::vector<std::string> names;
  std::string pattern = FormatText("%s_??.%s", LOG_BASE_NAME, LOG_EXTENSION);
  if (!ListMatchingFiles(folder, pattern.c_str(), &names)) {
    REPORT_DEBUG("Can't list the debug logs in '%s'.", folder.c_str());
    return false;
  }
  std::vector<std::pair<unsigned, std::string>> kept;
  for (const std::string& name : names) {
    unsigned number = 0;
    std::string path = folder + PlatformPathSeparator() + name;
    if (KeptLogNumber(name, &number)) {
      kept.emplace_back(number, path);
      continue;
    }
    if (std::remove(path.c_str()) != 0) {
      int error = errno;
      REPORT_DEBUG("_tremove() failed with error = '%d'. File to be deleted was '%s'", error, path.c_str());
      return false;
    }
  }
  // Highest number first, so that each new name is already free. The
  // listing's own order is not sorted everywhere, so it is sorted here.
  std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  for (const auto& [number, path] : kept) {
    std::string target = LogPath(folder, number + 1);
    if (std::rename(path.c_str(), target.c_str()) != 0) {
      int error = errno;
      REPORT_DEBUG("_trename() failed with error = '%d'. Original Name was '%s', New Name is '%s'", error,
                   path.c_str(), target.c_str());
      return false;
    }
  }
  *newPath = LogPath(folder, 0);
  return true;
}

bool OpenDebugLogUnderLifecycle(LogState& s, uint32_t mode) {
  if (mode != LOGMODE_IMMEDIATE && mode != LOGMODE_THREADED && mode != LOGMODE_DISCARD) {
    REPORT_DEBUG("Can't open debug log file with invalid logging mode '%u'", mode);
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(s.LogQueueSection);
    if (s.file != nullptr) return true;
    if (mode == LOGMODE_DISCARD) {
      s.mode = LOGMODE_DISCARD;
      s.queue.clear();
      return true;
    }
  }
  std::string folder;
  if (!GetDebugLogFolder(&folder)) {
    if (mode == LOGMODE_IMMEDIATE) {
      REPORT_DEBUG("File system not initialized - Immediate mode logging requires the file system.");
    } else {
      REPORT_DEBUG("File system not initialized - Threaded mode logging requires the file system.");
    }
    return false;
  }
  std::string path;
  if (!RotateDebugLogs(folder, &path)) {
    REPORT_DEBUG("Can't allocate a debug log file for '%s'", LOG_BASE_NAME);
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    int error = errno;
    DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, static_cast<uint32_t>(error));
    ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR, "Can't open debug log file '%s'", path.c_str());
    return false;
  }

  int writeError = 0;
  bool threadFailed = false;
  {
    std::lock_guard<std::mutex> lock(s.LogQueueSection);
    s.file = file;
    s.writeFailed = false;
    if (mode == LOGMODE_IMMEDIATE) {
      s.mode = LOGMODE_IMMEDIATE;
      writeError = WriteQueuedEntriesLocked(s);
    } else {
      s.terminationRequested = false;
      s.threadFinished = false;
      try {
        // The thread starts with whatever is already queued.
        s.loggingThread = std::thread(LoggingThread);
        s.mode = LOGMODE_THREADED;
      } catch (...) {
        threadFailed = true;
        s.threadFinished = true;
        s.file = nullptr;
      }
    }
  }
  if (writeError != 0) ReportWriteFailure(writeError);
  if (threadFailed) {
    std::fclose(file);
    REPORT_DEBUG("Can't start thread required for threaded logging mode.");
    return false;
  }
  return true;
}

}  // namespace

void LogLineV(const char* format, va_list args) noexcept {
  try {
    if (format == nullptr) {
      LogLine("LogLine() called without a format.");
      return;
    }
    char stackBuffer[LOG_LINE_STACK_CHARS];
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, copy);
    va_end(copy);
    if (length < 0) {
      LogLine("A log line could not be formatted: '%s'", format);
      return;
    }
    const char* text = stackBuffer;
    size_t size = static_cast<size_t>(length);
    std::unique_ptr<char[]> heapBuffer;
    if (size >= sizeof stackBuffer) {
      heapBuffer.reset(new (std::nothrow) char[size + 1]);
      if (heapBuffer) {
        va_copy(copy, args);
        std::vsnprintf(heapBuffer.get(), size + 1, format, copy);
        va_end(copy);
        text = heapBuffer.get();
      } else {
        size = sizeof stackBuffer - 1;  // out of memory: keep what fits
      }
    }
    std::string entry = MakeEntry(text, size);
    if (!entry.empty()) LogEntryEvent(std::move(entry));
  } catch (...) {
    // Logging never fails its caller.
  }
}

void LogLine(const char* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  LogLineV(format, args);
  va_end(args);
}

void LogEntryEvent(std::string entry) noexcept {
  if (entry.empty()) {
    LogLine("LogEntryEvent() called with invalid argument.");
    return;
  }
  LogState* state = State();
  if (state == nullptr) return;  // out of memory: the entry is lost
  LogState& s = *state;
  int writeError = 0;
  try {
    std::lock_guard<std::mutex> lock(s.LogQueueSection);
    uint32_t mode = s.mode;
    if (s.queueOpen) {
      s.queue.push_back(std::move(entry));
      switch (mode) {
        case LOGMODE_IMMEDIATE:
          writeError = WriteQueuedEntriesLocked(s);
          break;
        case LOGMODE_THREADED:
          // The thread waits only on an empty queue, so the first entry is
          // the one that must wake it.
          if (s.queue.size() == 1) s.IoStartEvent.notify_one();
          break;
        case LOGMODE_DISCARD:
          s.queue.clear();
          break;
        default:
          break;
      }
    } else if (mode == LOGMODE_IMMEDIATE) {
      writeError = WriteQueuedEntriesLocked(s);
    } else if (mode == LOGMODE_DISCARD) {
      s.queue.clear();
    }
  } catch (...) {
    return;  // out of memory: the entry is lost, the caller goes on
  }
  if (writeError != 0) ReportWriteFailure(writeError);
}

bool OpenDebugLoggingQueue(WindowHandle hostWindow, const char* productTitle) {
  try {
    LogState* state = State();
    if (state == nullptr) throw std::bad_alloc();
    LogState& s = *state;
    std::lock_guard<std::mutex> lifecycle(s.LifecycleMutex);
    bool alreadyOpen = false;
    {
      std::lock_guard<std::mutex> lock(s.LogQueueSection);
      alreadyOpen = s.queueOpen;
      if (!alreadyOpen) {
        std::string header = HeaderText(productTitle != nullptr ? productTitle : "", s.installationHeader);
        std::string headerEntry = MakeEntry(header.data(), header.size());
        if (headerEntry.empty()) throw std::bad_alloc();
        s.queue.clear();
        s.queue.push_back(std::string("\xFF\xFE", 2));  // U+FEFF, little-endian
        s.queue.push_back(std::move(headerEntry));
        s.queueOpen = true;
        s.mode = LOGMODE_NOT_OPENED;
        ResetReportingTargets(hostWindow, PlatformCurrentThreadId());
      }
    }
    // The queue lives until CloseDebugLog; opening it twice changes nothing.
    if (alreadyOpen) REPORT_DEBUG("OpenDebugLoggingQueue() called while the debug logging queue is already open.");
    if (productTitle == nullptr) REPORT_DEBUG("OpenDebugLoggingQueue() called without a product title.");
    return true;
  } catch (...) {
    // Without a queue there is no log, but the user still hears of failures:
    // this thread is the one that may show them.
    ResetReportingTargets(hostWindow, PlatformCurrentThreadId());
    REPORT_DEBUG("Can't open the debug logging queue for debug event messages.");
    return false;
  }
}

bool OpenDebugLog(uint32_t mode) {
  LogState* state = State();
  if (state == nullptr) return false;  // the queue never opened either
  LogState& s = *state;
  try {
    std::lock_guard<std::mutex> lifecycle(s.LifecycleMutex);
    if (!IsDebugLoggingQueueOpen()) {
      // Without the queue there would be no header and no footer.
      REPORT_DEBUG("OpenDebugLog() called before the debug logging queue was opened.");
      return false;
    }
    return OpenDebugLogUnderLifecycle(s, mode);
  } catch (...) {
    REPORT_DEBUG("Can't open the debug log.");
    return false;
  }
}

void CloseDebugLog() {
  LogState* state = State();
  if (state == nullptr) return;
  LogState& s = *state;
  try {
    std::lock_guard<std::mutex> lifecycle(s.LifecycleMutex);
    // Without memory for the footer the log closes without it: a queue left
    // open would keep the logging thread and the file past the shutdown.
    std::string footerEntry;
    try {
      const std::string footer = FooterText();
      footerEntry = MakeEntry(footer.data(), footer.size());
    } catch (...) {
      footerEntry.clear();
    }
    uint32_t mode = LOGMODE_NOT_OPENED;
    int writeError = 0;
    {
      // Close the queue: the footer is its last entry.
      std::lock_guard<std::mutex> lock(s.LogQueueSection);
      try {
        if (s.queueOpen && !footerEntry.empty()) s.queue.push_back(std::move(footerEntry));
      } catch (...) {
        // As above: closed without a footer.
      }
      s.queueOpen = false;
      mode = s.mode;
      switch (mode) {
        case LOGMODE_IMMEDIATE:
          writeError = WriteQueuedEntriesLocked(s);
          break;
        case LOGMODE_THREADED:
          break;  // the logging thread writes the rest below
        case LOGMODE_NOT_OPENED:
        case LOGMODE_DISCARD:
          s.queue.clear();
          break;
        default:
          s.queue.clear();
          break;
      }
    }
    if (writeError != 0) ReportWriteFailure(writeError);
    if (mode == LOGMODE_THREADED) {
      StopLoggingThread(s);
      std::lock_guard<std::mutex> lock(s.LogQueueSection);
      // Whatever a thread that ended early left behind is written here.
      WriteQueuedEntriesLocked(s);
    } else if (mode > LOGMODE_DISCARD) {
      REPORT_DEBUG("Invalid logging mode %u detected while closing log file", mode);
    }
    std::lock_guard<std::mutex> lock(s.LogQueueSection);
    if (s.file != nullptr) {
      std::fflush(s.file);
      std::fclose(s.file);
      s.file = nullptr;
    }
    s.queue.clear();
    s.writeFailed = false;
    s.mode = LOGMODE_NOT_OPENED;
  } catch (...) {
    // Closing is the last step of shutting down; nothing is left to tell.
  }
}

uint32_t GetLoggingMode() {
  const LogState* state = State();
  return state != nullptr ? state->mode.load() : static_cast<uint32_t>(LOGMODE_NOT_OPENED);
}

bool IsDebugLoggingQueueOpen() {
  LogState* state = State();
  if (state == nullptr) return false;
  try {
    std::lock_guard<std::mutex> lock(state->LogQueueSection);
    return state->queueOpen;
  } catch (...) {
    return false;
  }
}

void SetInstallationLogHeader(bool installation) {
  if (LogState* state = State()) state->installationHeader = installation;
}
