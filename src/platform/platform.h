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

// Machine-wide settings: named 32-bit numbers and texts under one key. On
// Windows a registry key below HKEY_LOCAL_MACHINE; natively a small text file
// of the same path below the XDG configuration folder ($XDG_CONFIG_HOME, else
// $HOME/.config), replaced whole on every write. Each call answers a system
// error code (Win32 error natively errno), 0 for success.
//
// A key opened for writing is created when missing (*created says so); one
// opened for reading only is never created, and a missing one answers a
// "not found" code. Users without administrator rights may read the machine
// key but not write it: that answers an "access denied" code.
struct MachineSettingsKey;
uint32_t PlatformOpenMachineSettings(const char* keyPath, bool forWriting, MachineSettingsKey** key, bool* created);
uint32_t PlatformReadMachineNumber(MachineSettingsKey* key, const char* name, uint32_t* value);
// Texts longer than maxBytes - 1 bytes are refused, not cut.
uint32_t PlatformReadMachineText(MachineSettingsKey* key, const char* name, std::string* text, size_t maxBytes);
uint32_t PlatformWriteMachineNumber(MachineSettingsKey* key, const char* name, uint32_t value);
uint32_t PlatformWriteMachineText(MachineSettingsKey* key, const char* name, const char* text);
uint32_t PlatformCloseMachineSettings(MachineSettingsKey* key);
bool PlatformErrorIsNotFound(uint32_t code);
bool PlatformErrorIsAccessDenied(uint32_t code);

// The primary display adapter as the system lists it; false natively and
// when no adapter is marked primary.
struct DisplayDeviceInfo {
  std::string name;         // "\\.\DISPLAY1"
  std::string description;  // the adapter's marketing name
  uint32_t stateFlags;
  std::string deviceId;     // "PCI\VEN_10DE&DEV_1C82&SUBSYS_..."
  std::string deviceKey;
};
bool PlatformPrimaryDisplayDevice(DisplayDeviceInfo* device);
