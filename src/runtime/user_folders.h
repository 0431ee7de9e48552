#pragma once
// The per-user data folders (settings, parameter files, logs), the machine-wide
// data folders where the help file lives, and small whole-file settings I/O.
//
// InitializeUserDataFolders builds every path once, creating the three user
// folders. Only when all of that worked is the file system flag set; while it
// is clear the getters fail with a report and no settings, parameter or log
// file is read or written.
//
// Windows: the shell's local and common application data folders. Native
// build: the XDG data folder ($XDG_DATA_HOME, else $HOME/.local/share) for the
// user folders, and the first absolute entry of $XDG_DATA_DIRS (else
// /usr/local/share) for the common data folder.
#include <cstddef>
#include <cstdio>
#include <string>

// Size of the callers' path buffers, terminating zero included.
constexpr size_t USER_FOLDER_PATH_CHARS = 1000;

// Builds the folder paths and sets the file system flag; true when it is set.
// Safe to call again: folders that already exist are accepted quietly.
bool InitializeUserDataFolders() noexcept;
bool IsFileSystemInitialized() noexcept;

// Each copies its path (no trailing separator) into buffer and returns true;
// false with a report when the flag is clear or the buffer is too small.
bool GetUserDataFolder(char* buffer, size_t size) noexcept;        // settings
bool GetUserParametersFolder(char* buffer, size_t size) noexcept;
bool GetDebugLogFolder(char* buffer, size_t size) noexcept;
bool GetCommonDataFolder(char* buffer, size_t size) noexcept;
bool GetProductDataFolder(char* buffer, size_t size) noexcept;      // holds the help file

// Opens `path` for reading only when it is a regular file. Opening never
// waits: a named pipe without a writer, or a device, would hold the caller
// forever, and is refused unopened (natively) or unread (Windows). Null when
// refused or failed: then *notRegular names what stands there ("a named
// pipe", "a folder", "a device", ...) or is null, and *error holds the errno
// of the failure (0 for a refusal).
std::FILE* OpenRegularFileForReading(const char* path, int* error, const char** notRegular) noexcept;

// Reads up to size bytes of a file in the settings folder; true when at least
// one byte was read. A file that does not exist yet is only traced; anything
// but a regular file in its place is reported and not read.
bool ReadSettingsFile(const char* fileName, void* buffer, size_t size) noexcept;
// Writes a whole file in the settings folder. The data goes to a temporary
// file beside the target, which then replaces the old file in one step: a
// crash or a full disk leaves either the old file or the new one, never a
// partial one. On failure the temporary is removed and the old file stays.
bool WriteSettingsFile(const char* fileName, const void* data, size_t size) noexcept;

// Writes `size` bytes to `path` so that a crash never leaves a damaged file:
// into a temporary beside it (named after the process, so two hosts saving at
// once stay apart), flushed to disk, then renamed over the target. The caller
// reports failures in its own words from the step that failed, the errno of
// opening or writing, and the temporary's name; a failed temporary is
// removed. With `stopBeforeReplace` (tests) it ends as if the process died
// just before the rename.
enum class ReplacingWriteStep { Done, Open, Write, Stopped, Replace };
ReplacingWriteStep WriteFileReplacing(const std::string& path, const void* data, size_t size, bool stopBeforeReplace,
                                      std::string* temporary, int* error);

// Test aid: forget every path and clear the flag.
void ResetUserDataFoldersForTesting() noexcept;
