#pragma once
// The operating-system half of the user data folders. Each function reports
// its own failures with the system's result codes.
#include <cstdio>
#include <string>

enum class DataFolderKind { LocalUser, Common };

// The shell's application data folder of that kind, without a trailing
// separator; the local one is created if missing.
bool GetApplicationDataFolder(DataFolderKind kind, std::string* folder);
// Creates path and any missing parents; an existing folder is success.
bool MakeFolderTree(const std::string& path);
char DataPathSeparator();
// Moves source over target in one step (target replaced if present).
bool ReplaceFileAtomically(const std::string& source, const std::string& target);
// Makes the bytes of an open file durable before it replaces another.
bool FlushFileToDisk(std::FILE* file);
// A number unique to this process, for temporary file names.
unsigned long CurrentProcessNumber();
