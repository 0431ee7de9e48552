#include "runtime/help_viewer.h"

#include <mutex>

#include "runtime/help_viewer_platform.h"
#include "runtime/report.h"
#include "runtime/test_hooks.h"
#include "runtime/user_folders.h"

namespace {

#define TOPIC(id, page) {HELP_SHOW_TOPIC, id, page}

const HelpTopic TOPICS[] = {
    TOPIC(1192, "MainDialog.htm"), TOPIC(1, "MainDialog.htm"), TOPIC(2, "MainDialog.htm"),
    TOPIC(1193, "AboutBox.htm"), TOPIC(1175, "AboutBox.htm"), TOPIC(1116, "AboutBox.htm"),
    TOPIC(1117, "AboutBox.htm"), TOPIC(1198, "AboutBox.htm"),
    TOPIC(1196, "ConfigurationDialog.htm"), TOPIC(1152, "ConfigurationDialog.htm"),
    TOPIC(1159, "ConfigurationDialog.htm"), TOPIC(1186, "ConfigurationDialog.htm"),
    TOPIC(1199, "ConfigurationDialog.htm"), TOPIC(1200, "ConfigurationDialog.htm"),
    TOPIC(1153, "ConfigurationDialog.htm"), TOPIC(1154, "ConfigurationDialog.htm"),
    TOPIC(1190, "OpenGLDrawingOptions.htm"), TOPIC(1188, "OpenGLDrawingOptions.htm"),
    TOPIC(1189, "OpenGLDrawingOptions.htm"),
    TOPIC(1023, "SelectingPredefinedSettings.htm"),
    TOPIC(1191, "ConfigureButton.htm"), TOPIC(1151, "ConfigureButton.htm"),
    TOPIC(1002, "ViewportPreviewCheckbox.htm"),
    TOPIC(1040, "DisplayViewport.htm"), TOPIC(1049, "DisplayViewport.htm"),
    TOPIC(1025, "QuantityControl.htm"), TOPIC(1026, "QuantityControl.htm"),
    TOPIC(1004, "IntensityControl.htm"), TOPIC(1005, "IntensityControl.htm"),
    TOPIC(1006, "LengthControl.htm"), TOPIC(1007, "LengthControl.htm"),
    TOPIC(1008, "AngleControl.htm"), TOPIC(1009, "AngleControl.htm"),
    TOPIC(1010, "NumberOfPointsControl.htm"), TOPIC(1011, "NumberOfPointsControl.htm"),
    TOPIC(1024, "SpikeSharpnessControl.htm"), TOPIC(1022, "SpikeSharpnessControl.htm"),
    TOPIC(1012, "ColorSaturationControl.htm"), TOPIC(1013, "ColorSaturationControl.htm"),
    TOPIC(1020, "SoftFlareIntensityControl.htm"), TOPIC(1021, "SoftFlareIntensityControl.htm"),
    TOPIC(40001, "ViewportContextMenu.htm"), TOPIC(40002, "ViewportContextMenu.htm"),
    TOPIC(40003, "ViewportContextMenu.htm"), TOPIC(40004, "ViewportContextMenu.htm"),
    TOPIC(40005, "ViewportContextMenu.htm"), TOPIC(40006, "ViewportContextMenu.htm"),
    TOPIC(40007, "ViewportContextMenu.htm"), TOPIC(40008, "ViewportContextMenu.htm"),
    TOPIC(40009, "ViewportContextMenu.htm"), TOPIC(40010, "ViewportContextMenu.htm"),
    TOPIC(40011, "ViewportContextMenu.htm"), TOPIC(40012, "ViewportContextMenu.htm"),
    TOPIC(40013, "ViewportContextMenu.htm"), TOPIC(40014, "ViewportContextMenu.htm"),
    TOPIC(40015, "ViewportContextMenu.htm"), TOPIC(40016, "ViewportContextMenu.htm"),
    TOPIC(40017, "ViewportContextMenu.htm"), TOPIC(40018, "ViewportContextMenu.htm"),
    TOPIC(40019, "ViewportContextMenu.htm"), TOPIC(40020, "ViewportContextMenu.htm"),
    TOPIC(40096, "SaveLoadControl.htm"), TOPIC(40097, "SaveLoadControl.htm"),
    TOPIC(40098, "SaveLoadControl.htm"),
};

#undef TOPIC

const char* const HELP_FILE_NAME = "Glimmark 2";

struct ViewerState {
  std::mutex lock;
  std::string helpFile;
  std::string viewer;
  std::string lastCommandLine;
};

ViewerState& State() {
  static ViewerState state;
  return state;
}

}  // namespace

const HelpTopic* HelpTopicTable(size_t* count) {
  if (count != nullptr) *count = sizeof TOPICS / sizeof TOPICS[0];
  return TOPICS;
}

void InitializeHelpViewer() noexcept {
  try {
    std::string helpFile, viewer;
    char folder[USER_FOLDER_PATH_CHARS];
    if (!GetProductDataFolder(folder, sizeof folder)) {
      REPORT_DEBUG("InitializeHelpViewer() Could not get the help file directory.");
    } else {
      std::string path = std::string(folder) + (folder[0] == '/' ? "/" : "\\") + HELP_FILE_NAME + ".chm";
      if (path.size() >= USER_FOLDER_PATH_CHARS) {
        REPORT_DEBUG("InitializeHelpViewer() Could not build a path to the product %s help file. Error '%s' was reported.",
                     HELP_FILE_NAME, "the path is too long");
      } else {
        helpFile = path;
      }
    }
    HelpViewerProgramPath(&viewer);  // reports its own failures
    ViewerState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.helpFile = helpFile;
    s.viewer = viewer;
  } catch (...) {
    REPORT_DEBUG("InitializeHelpViewer() ran out of memory.");
  }
}

void DisplayHTMLControlHelp(uint32_t id) noexcept {
  try {
    for (const HelpTopic& topic : TOPICS) {
      if (topic.id != id) continue;
      if (topic.mode == HELP_SHOW_TOPIC) {
        DisplayHelpUsingURL(topic);
      } else {
        REPORT_DEBUG("DisplayHTMLControlHelp() Invalid display mode %d specified for control %u", topic.mode, id);
      }
      return;
    }
    std::string helpFile;
    {
      ViewerState& s = State();
      std::lock_guard<std::mutex> guard(s.lock);
      helpFile = s.helpFile;
    }
    DisplayHelpInViewer(helpFile.c_str());
  } catch (...) {
    REPORT_DEBUG("DisplayHTMLControlHelp() ran out of memory.");
  }
}

void DisplayHelpUsingURL(const HelpTopic& topic) noexcept {
  try {
    if (topic.page == nullptr || topic.page[0] == '\0') return;
    std::string helpFile;
    {
      ViewerState& s = State();
      std::lock_guard<std::mutex> guard(s.lock);
      helpFile = s.helpFile;
    }
    std::string document = helpFile + "::/" + topic.page;
    if (helpFile.empty() || document.size() >= USER_FOLDER_PATH_CHARS) {
      REPORT_DEBUG("DisplayHelpUsingURL() Could not build a document path for URL '%s'. Error '%s' was reported.",
                   topic.page, helpFile.empty() ? "no help file path" : "the path is too long");
      return;
    }
    DisplayHelpInViewer(document.c_str());
  } catch (...) {
    REPORT_DEBUG("DisplayHelpUsingURL() ran out of memory.");
  }
}

void DisplayHelpInViewer(const char* document) noexcept {
  try {
    QuitHelpViewerProcess();
    std::string viewer;
    {
      ViewerState& s = State();
      std::lock_guard<std::mutex> guard(s.lock);
      viewer = s.viewer;
    }
    std::string replacement;
    TestHooks* hooks = ActiveTestHooks();
    if (hooks != nullptr && hooks->Override(TEST_OVERRIDE_HELP_VIEWER, &replacement) && !replacement.empty())
      viewer = replacement;
    if (document == nullptr || document[0] == '\0') {
      REPORT_DEBUG("DisplayHelpInViewer() Could not build a command line for the HTML Help Viewer. Error '%s' was reported.",
                   "no help file path");
      return;
    }
    // The program is quoted: CreateProcess would otherwise split a Windows
    // folder with spaces in its name.
    const std::string commandLine =
        "\"" + (viewer.empty() ? std::string("hh.exe") : viewer) + "\" ms-its:" + document;
    {
      ViewerState& s = State();
      std::lock_guard<std::mutex> guard(s.lock);
      s.lastCommandLine = commandLine;
    }
    if (viewer.empty()) {
      REPORT_DEBUG("Help is not available in this build: no HTML Help viewer for '%s'.", document);
      return;
    }
    StartHelpViewerProcess(commandLine);  // reports its own failure
  } catch (...) {
    REPORT_DEBUG("DisplayHelpInViewer() ran out of memory.");
  }
}

void CloseHelpViewer() noexcept { QuitHelpViewerProcess(); }

std::string HelpFilePathForTesting() {
  ViewerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.helpFile;
}

std::string LastHelpCommandLineForTesting() {
  ViewerState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.lastCommandLine;
}

uint32_t HelpViewerProcessIdForTesting() { return HelpViewerProcessId(); }
