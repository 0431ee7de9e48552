#pragma once
// The operating-system half of the help viewer.
#include <cstdint>
#include <string>

// The viewer program ("<Windows folder>\hh.exe"); false with a report when it
// cannot be found. Natively there is none.
bool HelpViewerProgramPath(std::string* path);
// Asks the running viewer, if any, to quit and forgets it.
void QuitHelpViewerProcess();
// Starts the viewer with this command line and remembers it.
bool StartHelpViewerProcess(const std::string& commandLine);
uint32_t HelpViewerProcessId();
