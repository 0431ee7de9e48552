#pragma once
// The seam to the operating system. Portable code calls these small free
// functions; platform_win32.cpp and platform_posix.cpp implement them, and
// CMake compiles the one that fits the target. No OS headers leak out.
#include <cstddef>
#include <cstdint>
#include <string>

using WindowHandle = void*;

// Threads and errors.
uint32_t PlatformCurrentThreadId();
uint32_t PlatformGetLastError();
void PlatformSetLastError(uint32_t code);
// The system's text for an error code, cut at its first line break; empty
// when the system has none.
std::string PlatformSystemErrorText(uint32_t code);

// Windows. The native build has none: it reports no active window, treats
// every handle as absent and writes user messages to standard error.
WindowHandle PlatformActiveWindow();
bool PlatformIsWindow(WindowHandle window);
void PlatformShowMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t style);
bool PlatformPostMessage(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// COM on the calling thread (Windows); the native build succeeds and does nothing.
bool PlatformInitializeCom();
void PlatformUninitializeCom();

// The module's instance handle, recorded at load (process attach); null when
// unknown. The native build returns a non-null marker.
void* PlatformModuleHandle();

// The full path of the executable that runs this process (the host); false
// when the system cannot tell.
bool PlatformHostExecutablePath(std::string* path);

// The four numbers of the module's file version (the version resource on
// Windows, the compiled-in numbers natively).
bool PlatformModuleVersion(uint16_t version[4]);

// The local application data folder (Windows known folder; natively
// $XDG_DATA_HOME, else $HOME/.local/share), without a trailing separator.
bool PlatformLocalAppDataFolder(std::string* folder);
// Path separator of this platform's file names.
char PlatformPathSeparator();
// Creates a folder and every missing parent; true when it exists afterwards.
bool PlatformCreateFolderTree(const std::string& path);

// A variable of the process environment as the operating system holds it
// (on Windows not the C runtime's copy, so that a host's change is seen);
// false when it is not set.
bool PlatformEnvironmentVariable(const char* name, std::string* value);

// Blocks for image-sized buffers. Natively they are aligned to 2 MB and
// marked for transparent huge pages, so that touching fresh memory costs one
// fault per 2 MB instead of one per 4 KB (the difference between a tenth of
// a second and a few milliseconds for a 24-megapixel copy); on Windows they
// come from the C heap. Null when the system refuses. The block's contents
// are undefined; PlatformFreeLarge takes the size it was allocated with.
void* PlatformAllocateLarge(size_t size);
void PlatformFreeLarge(void* block, size_t size);
