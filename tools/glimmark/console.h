#pragma once
// The operating-system side of the command line: the terminal, Ctrl+C, the
// process environment, temporary files and the tool's configuration folder.
// Implemented in console_posix.cpp and console_win32.cpp.
#include <cstdint>
#include <string>

namespace glimmark {

bool StderrIsTerminal();

// After this, the first Ctrl+C (natively also SIGTERM; on Windows also
// Ctrl+Break and closing the console) only sets the flag
// InterruptRequested() reads; a second one ends the process the usual way.
// Closing the console gives the tool until it ends, up to the few seconds
// Windows allows, to remove what it was writing.
void InstallInterruptHandler();
bool InterruptRequested();

// Sets a variable of this process's environment, where modules loaded
// afterwards (and their runtimes) find it.
bool SetEnvironmentValue(const std::string& name, const std::string& value);
void UnsetEnvironmentValue(const std::string& name);

// Creates a new empty file in the system's temporary folder; its name, or
// empty on failure.
std::string CreateTemporaryFile();

// Where glimmark keeps its host state file: $XDG_CONFIG_HOME/glimmark, else
// $HOME/.config/glimmark (natively), %APPDATA%\glimmark (Windows); empty when
// the environment names none.
std::string ConfigFolder();
char FolderSeparator();

// The process's resident memory now and its peak since the last reset, in
// bytes; false where the system does not tell (then both are 0).
bool ResidentMemory(uint64_t* now, uint64_t* peak);
// Starts a new peak from the current resident size; false where the system
// cannot.
bool ResetResidentPeak();

}  // namespace glimmark
