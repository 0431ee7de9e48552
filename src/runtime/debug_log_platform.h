#pragma once
// Helpers of the debug log whose answers depend on the platform: the code
// page of report texts, the local time, the run-time library's error texts and
// the listing of old logs. debug_log_platform_win32.cpp and
// debug_log_platform_posix.cpp implement them.
#include <ctime>
#include <string>
#include <vector>

// Appends the UTF-16 little-endian bytes of a report text to *bytes. The text
// is in the thread's ANSI code page on Windows and UTF-8 natively; bytes that
// do not decode become U+FFFD. False only when memory runs out.
bool AppendUtf16Le(const char* text, size_t length, std::string* bytes) noexcept;

// The current local time; false (and a zeroed record) when it is unknown.
bool LocalTimeNow(std::tm* time) noexcept;

// The run-time library's text for an errno value, at most 255 characters and
// cut at its first line break; empty when the library has none.
std::string CrtErrorText(int code) noexcept;

// The names (without folder) of the plain files in folder that match
// pattern, where '?' stands for one character; matching ignores case as the
// Windows file system does. False when the folder cannot be listed.
bool ListMatchingFiles(const std::string& folder, const char* pattern, std::vector<std::string>* names) noexcept;
