#pragma once
// The debug log's inner routines, shared by report.cpp and debug_log.cpp.
//
// A log entry is the UTF-16LE text of one line. Entries wait in the log queue
// (guarded by 'LogQueueSection') until the logging mode says what becomes of
// them: written at once (immediate), written by the logging thread (threaded),
// dropped (discard) or kept (not opened yet). Nothing here throws, and nothing
// reports while holding 'LogQueueSection', so reporting from inside the log
// machinery cannot deadlock.
#include <cstdarg>
#include <string>

#include "runtime/report.h"

// Formats one line, converts it to UTF-16LE, ends it with a line feed and
// hands it to the queue. Lines of any length are kept whole.
void LogLine(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
void LogLineV(const char* format, va_list args) noexcept;

// Queues one finished entry and applies the current mode to the queue. An
// empty entry is refused with a report.
void LogEntryEvent(std::string entry) noexcept;

// Called by OpenDebugLoggingQueue: the host window becomes the host and the
// current message window, and the calling thread the UI thread.
void ResetReportingTargets(WindowHandle hostWindow, uint32_t uiThreadId) noexcept;
