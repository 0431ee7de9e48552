#pragma once
// Where the debug log lives: the Logs folder that InitializeUserDataFolders
// built (see user_folders.h).
#include <string>

// The debug log folder without a trailing separator, created again if it went
// missing; false, quietly, while the user data folders are not initialised
// (the log reports that itself).
bool GetDebugLogFolder(std::string* folder) noexcept;
