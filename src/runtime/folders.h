#pragma once
// Where the debug log lives. Until the user data folders take over, the log
// folder is the local application data folder followed by
// Brightwerk/Glimmark2/Logs, created on first use.
#include <string>

// The debug log folder without a trailing separator, created if missing;
// false when it cannot be found or made.
bool GetDebugLogFolder(std::string* folder) noexcept;

// Tests point the log at a folder of their own; null or "" restores the
// normal folder.
void SetDebugLogFolderForTesting(const char* folder) noexcept;
