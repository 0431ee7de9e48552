// The options dialog: how the preview draws on this machine, and the
// update-check settings. The plug-in never contacts the network, so the
// update check is shown as it stands but cannot be switched on, and the
// proxy-server button only says that no proxy is needed.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <string>

#include "gl/drawing_settings.h"
#include "gl/gpu_information.h"
#include "host/main_dialog.h"
#include "runtime/buffers.h"
#include "runtime/help_viewer.h"
#include "runtime/report.h"
#include "runtime/user_folders.h"
#include "ui/dialog_controls.h"
#include "ui/small_dialogs.h"
#include "ui/resource_ids.h"
#include "ui/small_dialog_rules.h"

namespace {

constexpr const char* PRODUCT_TITLE = "Glimmark 2";
constexpr const char* OPTIONS_CAPTION = "Glimmark 2 Plug-in Options";
constexpr const char* OPTIONS_MUTEX = "Global\\{FACBD993-A675-4045-AB00-11CB0585B1C8}";
constexpr const char* UPDATE_CHECK_KEY = "Software\\Brightwerk Software\\Glimmark\\2.0\\UpdateCheck";
constexpr uint32_t DEFAULT_UPDATE_DAYS = 7;
constexpr const char* NO_NETWORK =
    " This version never contacts the network, so online update checking cannot be switched on.";

struct UpdateCheckSettings {
  bool enabled = false;
  uint32_t days = DEFAULT_UPDATE_DAYS;
};

// The user's own settings; missing values keep the defaults.
UpdateCheckSettings ReadUpdateCheckSettings() {
  UpdateCheckSettings settings;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, UPDATE_CHECK_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return settings;
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegQueryValueExA(key, "CheckForUpdates", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD)
    settings.enabled = value != 0;
  size = sizeof value;
  if (RegQueryValueExA(key, "DaysBetweenChecks", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD)
    settings.days = StoredUpdateDays(value);
  RegCloseKey(key);
  return settings;
}

void WriteUpdateCheckSettings(const UpdateCheckSettings& settings) {
  HKEY key = nullptr;
  const LONG opened =
      RegCreateKeyExA(HKEY_CURRENT_USER, UPDATE_CHECK_KEY, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (opened != ERROR_SUCCESS) {
    REPORT_SYSTEM_ERROR(static_cast<uint32_t>(opened), "Could not store the update check settings.");
    return;
  }
  const DWORD values[2] = {settings.enabled ? 1u : 0u, StoredUpdateDays(settings.days)};
  RegSetValueExA(key, "CheckForUpdates", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[0]), sizeof(DWORD));
  RegSetValueExA(key, "DaysBetweenChecks", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[1]), sizeof(DWORD));
  RegCloseKey(key);
}

struct OptionsDialog {
  HWND tooltips = nullptr;
  DialogMessageOwner messages;
  UpdateCheckSettings update;
  OpenGLSettings opengl{};
  int32_t modeAtStart = 0;
};

struct RadioButton {
  int id;
  int32_t mode;
};
const RadioButton RADIO_BUTTONS[] = {{IDC_OPTIONS_QUALITY, OPTIMIZE_FOR_QUALITY},
                                     {IDC_OPTIONS_SPEED, OPTIMIZE_FOR_SPEED},
                                     {IDC_OPTIONS_COMPATIBILITY, OPTIMIZE_FOR_COMPATIBILITY},
                                     {IDC_OPTIONS_SOFTWARE, OPTIMIZE_NONE}};

const ControlTip OPTIONS_TIPS[] = {
    {IDC_OPTIONS_HELP, "Help (?) - Click to see help for this Dialog."},
    {IDC_OPTIONS_PROXY_SERVER, "Configure the plug-in for Proxy Server operation. Please read the manual first."},
    {IDC_OPTIONS_COMPATIBILITY, "Select this option for the greatest compatibility with your current software."},
    {IDC_OPTIONS_SPEED, "Select this option for a faster display but with reduced display quality."},
    {IDC_OPTIONS_QUALITY, "Select this option for the best display quality."},
    {IDC_OPTIONS_MAKER_LOGO, "Visit the Brightwerk Software web site"},
    {IDC_OPTIONS_OK, "OK - Commit changes and return to the editor"},
    {IDC_OPTIONS_CANCEL, "Cancel (Esc) - Close the dialog without making any changes"},
};
// Disabled controls: their tips hang on their area of the dialog.
const std::string UPDATE_CHECK_TIP = std::string("Check this box to enable online update checking.") + NO_NETWORK;
const std::string UPDATE_DAYS_TIP =
    std::string("Enter the number of days to wait between update checks.") + NO_NETWORK;

HACCEL OptionsAccelerators() {
  static HACCEL table = LoadAcceleratorsA(ModuleInstance(), MAKEINTRESOURCEA(IDA_OPTIONS));
  return table;
}

OptionsDialog* DialogOf(HWND dialog) { return reinterpret_cast<OptionsDialog*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

void ShowDaysUnit(HWND dialog) {
  char text[65] = {};
  GetDlgItemTextA(dialog, IDC_OPTIONS_UPDATE_DAYS, text, sizeof text);
  const uint32_t days = ParseUpdateDays(text);
  if (OptionsDialog* d = DialogOf(dialog)) d->update.days = days;
  SetDlgItemTextA(dialog, IDC_OPTIONS_DAYS_UNIT, DaysUnitText(days));
}

void ShowDrawingMode(HWND dialog, int32_t mode, bool enabled) {
  for (const RadioButton& b : RADIO_BUTTONS) {
    CheckDlgButton(dialog, b.id, b.mode == mode ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, b.id), enabled ? TRUE : FALSE);
  }
}

void OnInitOptions(HWND dialog, OptionsDialog* d) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(d));
  d->messages.Begin(dialog);
  char caption[128] = {};
  GetWindowTextA(dialog, caption, sizeof caption);
  SetWindowTextA(dialog, OptionsCaption(caption, sizeof(void*) == 8).c_str());
  ShowWindow(GetDlgItem(dialog, IDC_OPTIONS_BITNESS_NOTE), SW_HIDE);
  SetControlBitmap(dialog, IDC_OPTIONS_MAKER_LOGO, IDB_MAKER_LOGO);
  SetControlIcon(dialog, IDC_OPTIONS_HELP, IDI_HELP, SmallIconSize());
  MakeLinkControl(GetDlgItem(dialog, IDC_OPTIONS_MAKER_LOGO), MAKER_WEB_SITE);

  // The stored update settings are shown; the check itself cannot be had.
  d->update = ReadUpdateCheckSettings();
  d->update.enabled = false;
  CheckDlgButton(dialog, IDC_OPTIONS_UPDATE_CHECK, BST_UNCHECKED);
  EnableWindow(GetDlgItem(dialog, IDC_OPTIONS_UPDATE_CHECK), FALSE);
  SendDlgItemMessageA(dialog, IDC_OPTIONS_UPDATE_DAYS, EM_LIMITTEXT, 64, 0);
  char days[16];
  std::snprintf(days, sizeof days, "%u", d->update.days);
  SetDlgItemTextA(dialog, IDC_OPTIONS_UPDATE_DAYS, days);
  EnableWindow(GetDlgItem(dialog, IDC_OPTIONS_UPDATE_DAYS), d->update.enabled ? TRUE : FALSE);
  ShowDaysUnit(dialog);

  ReadOpenGLRegistryData(&d->opengl);
  d->modeAtStart = d->opengl.drawingMode;
  const DrawingModeChoice choice = DrawingModeChoiceFor(d->opengl.drawingMode);
  ShowDrawingMode(dialog, choice.checked, choice.enabled);

  d->tooltips = CreateDialogTooltips(dialog);
  AddControlTips(d->tooltips, dialog, OPTIONS_TIPS);
  AddControlTip(d->tooltips, dialog, GetDlgItem(dialog, IDC_OPTIONS_UPDATE_CHECK), UPDATE_CHECK_TIP.c_str(), true);
  AddControlTip(d->tooltips, dialog, GetDlgItem(dialog, IDC_OPTIONS_UPDATE_DAYS), UPDATE_DAYS_TIP.c_str(), true);

  // The same text as the about box's: both tables are reported alike.
  RegisterDialogAccelerators(dialog, OptionsAccelerators(),
                             "LoadDialogResources() - Failed to load keyboard accelerator table for about dialog.");
  CentreOverParent(dialog, false);
}

void OnOptionsOK(HWND dialog, OptionsDialog* d) {
  WriteUpdateCheckSettings(d->update);
  if (d->opengl.drawingMode != d->modeAtStart) {
    if (!WriteOpenGLRegistryData(&d->opengl) && !d->opengl.readOnly)
      REPORT_DEBUG("OptionsDialog() - Failed to write OpenGL settings to registery.");
    const std::string note = DrawingModeChangeNote(d->modeAtStart, d->opengl.drawingMode);
    REPORT_USER(STYLE_INFORMATION, "Please Note", "%s", note.c_str());
  }
  EndDialog(dialog, 1);
}

INT_PTR OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  OptionsDialog* d = DialogOf(dialog);
  switch (message) {
    case WM_INITDIALOG:
      OnInitOptions(dialog, reinterpret_cast<OptionsDialog*>(lParam));
      return TRUE;
    case WM_COMMAND: {
      if (d == nullptr) return FALSE;
      const WORD id = LOWORD(wParam), code = HIWORD(wParam);
      switch (id) {
        case IDOK:
        case IDC_OPTIONS_OK: OnOptionsOK(dialog, d); return TRUE;
        case IDCANCEL:
        case IDC_OPTIONS_CANCEL: EndDialog(dialog, 0); return TRUE;
        case IDC_OPTIONS_UPDATE_CHECK:
          d->update.enabled = IsDlgButtonChecked(dialog, id) == BST_CHECKED;
          EnableWindow(GetDlgItem(dialog, IDC_OPTIONS_UPDATE_DAYS), d->update.enabled ? TRUE : FALSE);
          return TRUE;
        case IDC_OPTIONS_UPDATE_DAYS: ShowDaysUnit(dialog); return TRUE;
        case IDC_OPTIONS_PROXY_SERVER:
          REPORT_USER(STYLE_INFORMATION, PRODUCT_TITLE,
                      "No proxy server needs to be configured: this version of the plug-in never connects to the "
                      "network.");
          return TRUE;
        case IDC_OPTIONS_HELP:
          if (code == STN_CLICKED || code == STN_DBLCLK) DisplayHTMLControlHelp(IDC_OPTIONS_HELP);
          return TRUE;
        case ID_OPTIONS_HELP: DisplayHTMLControlHelp(IDC_OPTIONS_HELP); return TRUE;
        default:
          for (const RadioButton& b : RADIO_BUTTONS)
            if (b.id == id && code == BN_CLICKED) {
              d->opengl.drawingMode = b.mode;
              ShowDrawingMode(dialog, b.mode, true);
              return TRUE;
            }
          return FALSE;
      }
    }
    case WM_NCDESTROY:
      if (d != nullptr) d->messages.End(dialog);
      return FALSE;
    default:
      return SmallDialogCommonMessage(dialog, message, wParam, lParam);
  }
}

INT_PTR CALLBACK OptionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return GuardedDialogCall("options dialog", message, OptionsProc, dialog, wParam, lParam);
}

// The window of an options dialog open elsewhere on the machine, as its
// caption reads once the bitness is put before it.
HWND FindOpenOptionsWindow() {
  for (bool sixtyFour : {sizeof(void*) == 8, sizeof(void*) != 8}) {
    HWND found = FindWindowA("#32770", OptionsCaption(OPTIONS_CAPTION, sixtyFour).c_str());
    if (found != nullptr) return found;
  }
  return nullptr;
}

}  // namespace

bool RunOptionsDialog(HWND owner) {
  OptionsDialog dialog;
  const INT_PTR result = DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_OPTIONS), owner, OptionsDialogProc,
                                         reinterpret_cast<LPARAM>(&dialog));
  if (result == -1) REPORT_SYSTEM_ERROR(GetLastError(), "The options dialog could not be created.");
  return result == 1;
}

int RunConfigureOptions(HWND window) {
  if (ModuleInstance() == nullptr) {
    REPORT_DEBUG("The application's instance handle has not been initialized.");
    return 0;
  }
  if (window != nullptr && !IsWindow(window)) window = nullptr;
  if (!OpenDebugLoggingQueue(window, PRODUCT_TITLE)) {
    // Reports still work without a queue (they go nowhere); carry on.
  }
  InitializeUserDataFolders();
  OpenDebugLog(LOGMODE_THREADED);
  InitializeBufferUsageTracking();
  InitializeHelpViewer();
  GetPrimaryGPUInformation();

  int result = 0;
  HANDLE mutex = CreateMutexA(nullptr, TRUE, OPTIONS_MUTEX);
  if (mutex == nullptr) {
    REPORT_SYSTEM_ERROR(GetLastError(), "ConfigureOptions() - Failed to create Options Dialog Mutex.");
  } else if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // One options dialog on the machine: the open one comes to the front.
    HWND open = FindOpenOptionsWindow();
    if (open == nullptr) {
      REPORT_DEBUG("ConfigureOptions() - Could not find existing window.");
    } else {
      if (IsIconic(open)) ShowWindow(open, SW_RESTORE);
      SetForegroundWindow(open);
    }
  } else {
    REPORT_TRACE("Opening Options dialog from start menu.");
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
      ModuleControlsScope controls;
      LoadDialogLibraries();
      result = RunOptionsDialog(window) ? 1 : 0;
    }
    if (SUCCEEDED(com)) CoUninitialize();
  }
  if (mutex != nullptr) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }

  RemoveDialogMessageHook();
  CloseHelpViewer();
  ReportBufferUsage();
  DeleteBufferUsageTracking();
  CloseDebugLog();
  return result;
}
