#pragma once
// The options dialog, the about box and the light source table listing
// (Windows).
#include <windows.h>

#include "analysis/light_source_table.h"

// Modal over `owner`; true when it ended with OK.
bool RunOptionsDialog(HWND owner);
// The exported entry's work: sets up reporting and the user folders for a
// process that has not run the filter, then shows the one options dialog of
// the machine (or brings the open one to the front). 1 for OK, else 0.
int RunConfigureOptions(HWND window);

// The about box, modal over `owner`.
void RunAboutBoxDialog(HWND owner);

// The light source table listing's dialog procedure (the exported one). It
// lists the table handed over here (the main dialog hands over its run's
// once the analysis has built it, and takes it back when it closes); with
// none it lists an empty table.
INT_PTR CALLBACK LightSourceTableDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
void SetListedLightSourceTable(MasterLightSourceTable* table);
