#pragma once
// Context help: each control or command id maps to a page of the compiled
// help file "Glimmark 2.chm" in the product common data folder, which the
// system's HTML Help viewer (hh.exe in the Windows folder) shows. One viewer
// per process: a new request asks the previous one to quit first.
//
// The native build has no viewer: a request is reported as a Debug Message
// and nothing opens.
#include <cstddef>
#include <cstdint>
#include <string>

enum : int32_t { HELP_SHOW_TOPIC = 0 };  // the only display mode in use

struct HelpTopic {
  int32_t mode;
  uint32_t id;       // control or menu command id
  const char* page;  // page inside the help file
};

// The topic table in lookup order.
const HelpTopic* HelpTopicTable(size_t* count);

// Builds the help file and viewer paths; called once at initialisation.
void InitializeHelpViewer() noexcept;
// Opens help for a control; an id without a topic opens the help file itself.
void DisplayHTMLControlHelp(uint32_t id) noexcept;
void DisplayHelpUsingURL(const HelpTopic& topic) noexcept;
// document: the help file, or "<help file>::/<page>".
void DisplayHelpInViewer(const char* document) noexcept;
// Ends the viewer this process started, if any.
void CloseHelpViewer() noexcept;

// Test aids: the help file path, the last command line built (also natively,
// where nothing is started), and the process id of the running viewer (0
// when none). A replacement viewer program is a test hook.
std::string HelpFilePathForTesting();
std::string LastHelpCommandLineForTesting();
uint32_t HelpViewerProcessIdForTesting();
