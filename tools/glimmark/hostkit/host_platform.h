#pragma once
// The operating-system side of hostkit: loading a module, where the running
// program lives, replacing a file, and the host's parent window. Implemented
// in host_platform_posix.cpp and host_platform_win32.cpp; no OS headers here.
#include <cstdint>
#include <string>

namespace hostkit {

// File name of the module that sits next to glimmark on this platform.
extern const char* const kDefaultModuleFileName;

// Opens a shared library; null with *error set on failure.
void* OpenLibrary(const std::string& path, std::string* error);
// Address of an exported symbol, or null.
void* FindLibrarySymbol(void* library, const char* name);
void CloseLibrary(void* library);

// Folder of the running executable, without a trailing separator; empty when
// the system cannot tell.
std::string ExecutableDirectory();
char PathSeparator();

// Moves `from` over `to`, replacing `to` when it exists, in one step where
// the file system allows it.
bool MoveFileOver(const std::string& from, const std::string& to, std::string* error);
void RemoveFileQuietly(const std::string& path);
int CurrentProcessId();

// A hidden top-level window to hand the module as the host's parent window;
// 0 where the platform has none (natively) or creation failed.
intptr_t CreateHostWindow();
void DestroyHostWindow(intptr_t window);

}  // namespace hostkit
