#pragma once
// What an installer runs once per machine (the exported InstallConfiguration):
// probe the machine's OpenGL on a hidden context, settle the drawing mode
// and record the installed version in the machine-wide store. It logs to an
// installation log of its own and never fails its caller: a machine without
// a display or OpenGL, or a store the user may not change, is reported in
// that log and leaves the store as it was.
void RunInstallConfiguration(const char* commandLine);
