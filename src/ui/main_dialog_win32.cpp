// The main dialog: eight sliders with number boxes, presets, the live
// preview with its tools and zoom controls, OK and Cancel. It never draws
// the effects itself: every change ends in a request to the preview's
// background task.
#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>
#include <commdlg.h>
#include <richedit.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "gl/drawing_settings.h"
#include "host/main_dialog.h"
#include "host/plugin_globals.h"
#include "params/parameter_files.h"
#include "platform/platform.h"
#include "preview/background_task.h"
#include "preview/host_proxy_levels.h"
#include "preview/proxy_controls.h"
#include "preview/proxy_window.h"
#include "preview/scaled_proxy_display.h"
#include "runtime/help_viewer.h"
#include "runtime/user_folders.h"
#include "ui/accelerator_keys.h"
#include "ui/dialog_controls.h"
#include "ui/dialog_layout.h"
#include "ui/popup_menu.h"
#include "ui/preset_list.h"
#include "ui/resource_ids.h"
#include "ui/slider_rules.h"
#include "ui/small_dialogs.h"
#include "ui/ui_settings.h"

namespace {

constexpr const char* PRODUCT_TITLE = "Glimmark 2";
constexpr UINT_PTR ANALYSIS_TIMER = 7;  // polls the light source analysis

struct SliderControls {
  HWND edit = nullptr;
  HWND trackbar = nullptr;
  bool hasFocus = false;
};

struct MainDialog {
  HWND dialog = nullptr;
  FilterRun* run = nullptr;
  PreviewSession session{};
  UISettings settings{};
  bool ended = false;
  std::atomic<bool> endedForTask{false};  // the preview task's view of `ended`
  bool preview = true;
  std::atomic<int16_t> taskResult{0};  // a failure of the preview task
  std::atomic<bool> analysisComplete{false};
  std::atomic<uint32_t> rowsAnalysed{0};
  HACCEL accelerators = nullptr;
  HWND tooltips = nullptr;
  HBRUSH faceBrush = nullptr;
  WindowHandle previousMessageWindow = nullptr;
  std::unique_ptr<PresetList> presets;
  HMENU presetMenu = nullptr;
  bool applyingPreset = false;
  SliderControls sliders[SLIDER_COUNT];
  int32_t progressRange = -1;
  int32_t progressPosition = -1;
};

MainDialog* g_dialog = nullptr;

// Loaded before the dialog by Parameters or Prepare, or by the dialog
// itself when a host skipped both; the dialog that used it destroys it.
HMENU g_presetMenu = nullptr;

HINSTANCE Instance() { return static_cast<HINSTANCE>(PlatformModuleHandle()); }

int16_t* SliderValue(ParameterSet* set, int index) {
  return index == 0 ? &set->quantity : ParameterFieldByIndex(set, index);
}

const char* const SLIDER_TIPS[SLIDER_COUNT][2] = {
    {"Quantity (Q) - Set how many image highlights, ranked by brightness, will be given effects",
     "Quantity (Q) - Move right to increase the number of dimmer image highlights given effects"},
    {"Intensity (I) - Set the brightness of the primary spike effects",
     "Intensity (I) - Move right to increase the brightness of primary spikes"},
    {"Length (L) - Set the length of the spikes and the size of the flare effects",
     "Length (L) - Move right to increase the length of the spikes and the size of the flare effects"},
    {"Angle (A) - Set the rotation angle of the spikes", "Angle (A) - Move right to rotate the spikes clockwise"},
    {"Number of Points (N) - Set the number of primary spikes around a highlight",
     "Number of Points (N) - Move right to increase the number of primary spikes around a highlight"},
    {"Spike Sharpness (S) - Set the fuzziness or sharpness of the spikes",
     "Spike Sharpness (S) - Move right to increase the sharpness of the spikes"},
    {"Color Saturation (C) - Set the intensity of the highlight color used in the effects",
     "Color Saturation (C) - Move right to increase the intensity of the highlight color in the effects"},
    {"Rainbow Intensity (R) - Set the brightness of the multicolored 'rainbow' pattern in the spikes",
     "Rainbow Intensity (R) - Move right to increase the brightness of the multicolored 'rainbow' pattern in the "
     "spikes"},
    {"Rainbow Frequency (F) - Set how quickly the multicolored 'rainbow' pattern changes color in the spikes",
     "Rainbow Frequency (F) - Move right to make the multicolored 'rainbow' pattern change color more rapidly in the "
     "spikes"},
    {"Secondary Spike Intensity (E) - Set the brightness of secondary central 'mini-spikes' around a highlight",
     "Secondary Spike Intensity (E) - Move right to increase the brightness of secondary central 'mini-spikes' around "
     "a highlight"},
    {"Soft Flare Intensity (Y) - Set the brightness of the soft flare around highlights",
     "Soft Flare Intensity (Y) - Move right to increase the brightness of the soft flare around highlights"},
};

const ControlTip CONTROL_TIPS[] = {
    {IDC_PREVIEW, "Preview (P) - Check to see a preview of the modified image, uncheck to see the original image"},
    {IDOK, "OK - Commit changes and return to the editor"},
    {IDCANCEL, "Cancel (Esc) - Close the dialog without making any changes"},
    {IDC_CONFIGURE, "(F10) - Configure plug-in options"},
    {IDC_MAKER_LOGO, "Visit the Brightwerk Software web site"},
    {IDC_PRODUCT_LOGO, "Click to see Glimmark 2 version information, help, and online resources"},
    {IDC_HELP_BUTTON, "Help (?) - Click to see help for this Dialog."},
    {IDC_HELP_AND_SUPPORT, "Click here for links to help and support resources"},
    {IDC_PRESET_COMBO, "Settings (T) - Select a set of saved parameters"},
    {IDC_PRESET_MENU, "Menu (M) - Save, load, or delete the current parameter set"},
    {IDC_TOOL_HAND,
     "Hand Panning Tool (H) - use this tool to move the image in the display area, or double click to fit in view"},
    {IDC_TOOL_ZOOM, "Zoom Tool (Z) - use this tool to zoom the image in or out, double click to go to 100%"},
    {IDC_TOOL_HIDE,
     "Hide Effects Tool (X) - use this tool to turn unwanted effects off, drag to do multiples; hold down the Alt key "
     "to reveal previously hidden effects"},
    {IDC_TOOL_SHOW,
     "Show Effects Tool (+) - use this tool to toggle previously hidden effects on, drag to do multiples; hold down "
     "the Alt key to hide them"},
    {IDC_ZOOM_IN, "Zoom In One Step (CNTL +)"},
    {IDC_ZOOM_OUT, "Zoom Out One Step (CNTL -)"},
    {IDC_ZOOM_MENU, "Select a zoom level (V)"},
    {IDC_ZOOM_FIELD, "Current zoom level"},
};

void AddTip(HWND control, const char* text) { AddControlTip(g_dialog->tooltips, g_dialog->dialog, control, text); }

void CreateTooltips() {
  MainDialog* d = g_dialog;
  d->tooltips = CreateDialogTooltips(d->dialog);
  if (d->tooltips == nullptr) return;
  AddControlTips(d->tooltips, d->dialog, CONTROL_TIPS);
  for (int i = 0; i < SLIDER_COUNT; ++i) {
    AddTip(d->sliders[i].edit, SLIDER_TIPS[i][0]);
    AddTip(d->sliders[i].trackbar, SLIDER_TIPS[i][1]);
  }
}

// Icons sized for the screen's DPI (static controls would otherwise take
// the system's large size).
void SetArtwork() {
  HWND dialog = g_dialog->dialog;
  const int small = SmallIconSize();
  static const int SLIDER_ICONS[][4] = {
      {IDC_QUANTITY_LESS, IDI_QUANTITY_LESS, IDC_QUANTITY_MORE, IDI_QUANTITY_MORE},
      {IDC_INTENSITY_LESS, IDI_INTENSITY_LESS, IDC_INTENSITY_MORE, IDI_INTENSITY_MORE},
      {IDC_LENGTH_LESS, IDI_LENGTH_LESS, IDC_LENGTH_MORE, IDI_LENGTH_MORE},
      {IDC_ANGLE_LESS, IDI_ANGLE_LESS, IDC_ANGLE_MORE, IDI_ANGLE_MORE},
      {IDC_POINTS_LESS, IDI_POINTS_LESS, IDC_POINTS_MORE, IDI_POINTS_MORE},
      {IDC_SHARPNESS_LESS, IDI_SHARPNESS_LESS, IDC_SHARPNESS_MORE, IDI_SHARPNESS_MORE},
      {IDC_SATURATION_LESS, IDI_SATURATION_LESS, IDC_SATURATION_MORE, IDI_SATURATION_MORE},
      {IDC_FLARE_LESS, IDI_FLARE_LESS, IDC_FLARE_MORE, IDI_FLARE_MORE},
  };
  for (const auto& row : SLIDER_ICONS) {
    SetControlIcon(dialog, row[0], row[1], small);
    SetControlIcon(dialog, row[2], row[3], small);
  }
  SetControlIcon(dialog, IDC_HELP_BUTTON, IDI_HELP, small);
  SetControlIcon(dialog, IDC_PRESET_MENU, IDI_PRESET_MENU, small);
  SetControlIcon(dialog, IDC_SIZE_GRIP, IDI_SIZE_GRIP, small);
  SetControlBitmap(dialog, IDC_PRODUCT_LOGO, IDB_PRODUCT_LOGO);
  SetControlBitmap(dialog, IDC_MAKER_LOGO, IDB_MAKER_LOGO);
  MakeLinkControl(GetDlgItem(dialog, IDC_MAKER_LOGO), MAKER_WEB_SITE);
}

// --- Sliders ---------------------------------------------------------------

int SliderOfControl(HWND control) {
  for (int i = 0; i < SLIDER_COUNT; ++i)
    if (g_dialog->sliders[i].edit == control || g_dialog->sliders[i].trackbar == control) return i;
  return -1;
}

void ShowSliderValue(int index) {
  const SliderControls& c = g_dialog->sliders[index];
  const int32_t value = *SliderValue(&g_dialog->session.parameters, index);
  if (c.trackbar != nullptr) SendMessageA(c.trackbar, TBM_SETPOS, TRUE, value);
  if (c.edit != nullptr) SetWindowTextA(c.edit, SliderFieldText(SLIDER_TABLE[index], value).c_str());
}

// Stores a value the user chose and tells the dialog when it changed.
void StoreSliderValue(int index, int32_t value, bool updateField, bool updateTrackbar) {
  const SliderEntry& e = SLIDER_TABLE[index];
  value = std::clamp<int32_t>(value, e.minimum, e.maximum);
  int16_t* field = SliderValue(&g_dialog->session.parameters, index);
  const SliderControls& c = g_dialog->sliders[index];
  if (updateTrackbar && c.trackbar != nullptr) SendMessageA(c.trackbar, TBM_SETPOS, TRUE, value);
  if (*field == value) return;
  *field = static_cast<int16_t>(value);
  if (updateField && c.edit != nullptr) SetWindowTextA(c.edit, SliderFieldText(e, value).c_str());
  SendMessageA(g_dialog->dialog, PARAMETER_VALUE_CHANGED, static_cast<WPARAM>(index), 0);
}

void SelectFieldText(HWND edit) { SendMessageA(edit, EM_SETSEL, 0, -1); }

LRESULT CALLBACK SliderEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  const int index = SliderOfControl(edit);
  if (index < 0) return DefSubclassProc(edit, message, wParam, lParam);
  const SliderEntry& e = SLIDER_TABLE[index];
  switch (message) {
    case WM_CHAR: {
      const char c = static_cast<char>(wParam);
      if (c == '\t') return 0;
      if (!SliderFieldAccepts(c)) {
        MessageBeep(MB_ICONHAND);
        return 0;
      }
      break;
    }
    case WM_KEYDOWN: {
      SliderKey key;
      switch (wParam) {
        case VK_UP: key = SLIDER_KEY_UP; break;
        case VK_DOWN: key = SLIDER_KEY_DOWN; break;
        case VK_PRIOR: key = SLIDER_KEY_PAGE_UP; break;
        case VK_NEXT: key = SLIDER_KEY_PAGE_DOWN; break;
        default: return DefSubclassProc(edit, message, wParam, lParam);
      }
      const int32_t now = *SliderValue(&g_dialog->session.parameters, index);
      const int32_t value = SliderKeyValue(e, now, key, GetKeyState(VK_CONTROL) < 0, static_cast<int32_t>(lParam & 0xFFFF));
      if (value != now) {
        StoreSliderValue(index, value, true, true);
        SelectFieldText(edit);
      }
      return 0;
    }
    case WM_GETDLGCODE:
      return DefSubclassProc(edit, message, wParam, lParam) | DLGC_WANTARROWS;
    case WM_SETFOCUS:
      g_dialog->sliders[index].hasFocus = true;
      PostMessageA(edit, EM_SETSEL, 0, -1);
      break;
    case WM_KILLFOCUS:
      g_dialog->sliders[index].hasFocus = false;
      SetWindowTextA(edit, SliderFieldText(e, *SliderValue(&g_dialog->session.parameters, index)).c_str());
      break;
    default:
      break;
  }
  return DefSubclassProc(edit, message, wParam, lParam);
}

LRESULT CALLBACK SliderTrackbarProc(HWND trackbar, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  const int index = SliderOfControl(trackbar);
  if (index < 0) return DefSubclassProc(trackbar, message, wParam, lParam);
  const SliderEntry& e = SLIDER_TABLE[index];
  switch (message) {
    case WM_LBUTTONDOWN: {
      RECT thumb{}, channel{};
      SendMessageA(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
      SendMessageA(trackbar, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
      const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (!PtInRect(&thumb, p)) {
        // A press beside the thumb jumps it there; the drag starts from it.
        const int32_t value = TrackbarClickValue(e, p.x, thumb.right - thumb.left, channel.left,
                                                 channel.right - channel.left);
        StoreSliderValue(index, value, true, true);
        SendMessageA(trackbar, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
        const LPARAM centre = MAKELPARAM((thumb.left + thumb.right) / 2, (thumb.top + thumb.bottom) / 2);
        return DefSubclassProc(trackbar, message, wParam, centre);
      }
      SelectFieldText(g_dialog->sliders[index].edit);
      break;
    }
    case WM_MOUSEMOVE: {
      const LRESULT result = DefSubclassProc(trackbar, message, wParam, lParam);
      if ((wParam & MK_LBUTTON) != 0 && GetCapture() == trackbar)
        StoreSliderValue(index, static_cast<int32_t>(SendMessageA(trackbar, TBM_GETPOS, 0, 0)), true, false);
      return result;
    }
    case WM_LBUTTONUP: {
      const LRESULT result = DefSubclassProc(trackbar, message, wParam, lParam);
      StoreSliderValue(index, static_cast<int32_t>(SendMessageA(trackbar, TBM_GETPOS, 0, 0)), true, false);
      HWND edit = g_dialog->sliders[index].edit;
      SetFocus(edit);
      SelectFieldText(edit);
      return result;
    }
    case WM_KEYDOWN: {
      // The trackbar's own keys move it; the value follows.
      const LRESULT result = DefSubclassProc(trackbar, message, wParam, lParam);
      StoreSliderValue(index, static_cast<int32_t>(SendMessageA(trackbar, TBM_GETPOS, 0, 0)), true, false);
      return result;
    }
    case WM_SETFOCUS:
      g_dialog->sliders[index].hasFocus = true;
      break;
    case WM_KILLFOCUS:
      g_dialog->sliders[index].hasFocus = false;
      if (reinterpret_cast<HWND>(wParam) != g_dialog->sliders[index].edit) ShowSliderValue(index);
      break;
    default:
      break;
  }
  return DefSubclassProc(trackbar, message, wParam, lParam);
}

void CreateSliders() {
  MainDialog* d = g_dialog;
  CHARFORMAT2A format{};
  format.cbSize = sizeof format;
  for (int i = 0; i < SLIDER_COUNT; ++i) {
    const SliderEntry& e = SLIDER_TABLE[i];
    SliderControls& c = d->sliders[i];
    int16_t* value = SliderValue(&d->session.parameters, i);
    if (e.editId == 0) {
      *value = e.defaultValue;  // no controls here: the factory value stays
      continue;
    }
    c.edit = GetDlgItem(d->dialog, e.editId);
    c.trackbar = GetDlgItem(d->dialog, e.trackbarId);
    if (c.edit == nullptr || c.trackbar == nullptr) continue;
    SetWindowSubclass(c.edit, SliderEditProc, 1, 0);
    SetWindowSubclass(c.trackbar, SliderTrackbarProc, 2, 0);
    SendMessageA(c.edit, EM_EXLIMITTEXT, 0, 4);
    SendMessageA(c.edit, EM_SETEVENTMASK, 0, ENM_CHANGE);
    SendMessageA(c.edit, EM_SETBKGNDCOLOR, 0, RGB(255, 255, 255));
    SendMessageA(c.trackbar, TBM_SETRANGEMIN, FALSE, e.minimum);
    SendMessageA(c.trackbar, TBM_SETRANGEMAX, FALSE, e.maximum);
    SendMessageA(c.trackbar, TBM_SETPAGESIZE, 0, e.pageStep);
    SendMessageA(c.trackbar, TBM_SETLINESIZE, 0, e.lineStep);
    *value = static_cast<int16_t>(std::clamp<int32_t>(*value, e.minimum, e.maximum));
    ShowSliderValue(i);
  }
}

// A number box's text changed (typed or set).
void OnSliderEditChange(HWND edit) {
  const int index = SliderOfControl(edit);
  if (index < 0) return;
  char text[33] = {};
  GetWindowTextA(edit, text, sizeof text);
  int32_t value = 0;
  if (!ParseSliderText(text, SLIDER_TABLE[index], &value)) return;  // empty or unreadable: the old value stays
  const int32_t now = *SliderValue(&g_dialog->session.parameters, index);
  if (GetFocus() == edit && value != now) {
    *SliderValue(&g_dialog->session.parameters, index) = static_cast<int16_t>(value);
    SendMessageA(g_dialog->dialog, PARAMETER_VALUE_CHANGED, static_cast<WPARAM>(index), 0);
  }
  SendMessageA(g_dialog->sliders[index].trackbar, TBM_SETPOS, TRUE, *SliderValue(&g_dialog->session.parameters, index));
}

void FocusSlider(int index) {
  HWND edit = g_dialog->sliders[index].edit;
  if (edit == nullptr) return;
  SendMessageA(g_dialog->dialog, WM_CHANGEUISTATE, MAKEWPARAM(UIS_INITIALIZE, 0), 0);
  SetFocus(edit);
  SelectFieldText(edit);
}

// --- Presets ---------------------------------------------------------------

std::string ParametersFolder() {
  char folder[MAX_PATH * 2] = {};
  if (!GetUserParametersFolder(folder, sizeof folder)) return std::string();
  return folder;
}

// The list shows the chosen preset while the settings still are it.
void ShowPresetSelection() {
  const PresetList& presets = *g_dialog->presets;
  SendDlgItemMessageA(g_dialog->dialog, IDC_PRESET_COMBO, CB_SETCURSEL, presets.Shown() ? presets.Selected() : -1, 0);
}

void ShowPresetList() {
  MainDialog* d = g_dialog;
  HWND combo = GetDlgItem(d->dialog, IDC_PRESET_COMBO);
  SendMessageA(combo, CB_RESETCONTENT, 0, 0);
  for (int i = 0; i < d->presets->Count(); ++i)
    SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(d->presets->Name(i).c_str()));
  ShowPresetSelection();
}

void FillPresetList() {
  MainDialog* d = g_dialog;
  d->presets = std::make_unique<PresetList>(d->session.parameters);
  const std::string folder = ParametersFolder();
  if (folder.empty()) {
    REPORT_DEBUG("GetUserParametersFolder() failed.");
  } else {
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((folder + "\\*.sss").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        ParameterSet set{};
        if (LoadPresetFile((folder + "\\" + found.cFileName).c_str(), &set))
          d->presets->Append(PresetNameOfFile(found.cFileName), set);
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
  }
  d->presets->Choose(PRESET_INITIAL);
  ShowPresetList();
}

// Makes a set current and shows it everywhere.
void ApplyParameterSet(const ParameterSet& set) {
  MainDialog* d = g_dialog;
  ParameterSet copy = set;
  if (!ParameterSetVersionMatches(&copy)) return;
  d->applyingPreset = true;
  d->session.parameters = copy;
  SendMessageA(d->dialog, PARAMETER_SET_CHANGED, 0, 0);
  d->applyingPreset = false;
  RequestFullProxyUpdate();
}

void OnPresetSelected() {
  MainDialog* d = g_dialog;
  const int index = static_cast<int>(SendDlgItemMessageA(d->dialog, IDC_PRESET_COMBO, CB_GETCURSEL, 0, 0));
  if (index < 0 || index >= d->presets->Count()) return;
  d->presets->Choose(index);
  ApplyParameterSet(d->presets->Set(index));
}

bool AskForFile(bool save, std::string* path) {
  char file[MAX_PATH * 2] = {};
  char title[128];
  std::snprintf(title, sizeof title, save ? "Save %s Parameter File" : "Load %s Parameter File", PRODUCT_TITLE);
  const std::string folder = ParametersFolder();
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = g_dialog->dialog;
  dialog.lpstrFilter = "Parameter Files\0 *.sss\0";
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrTitle = title;
  dialog.lpstrDefExt = "sss";
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_DONTADDTORECENT | OFN_NOCHANGEDIR |
                 (save ? OFN_OVERWRITEPROMPT | OFN_NOREADONLYRETURN : OFN_FILEMUSTEXIST);
  const BOOL chosen = save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  if (!chosen) {
    const DWORD error = CommDlgExtendedError();
    if (error != 0)
      REPORT_DEBUG(save ? "GetSaveFileName() failed with error = '%d'" : "GetOpenFileName() failed with error = '%d'",
                   static_cast<int>(error));
    return false;
  }
  *path = file;
  return true;
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void AddPreset(const std::string& path, const ParameterSet& set) {
  g_dialog->presets->Add(PresetNameOfFile(FileNameOf(path)), set);
  ShowPresetList();
}

void LoadPreset() {
  std::string path;
  if (!AskForFile(false, &path)) return;
  ParameterSet set{};
  if (IsInParametersFolder(path, ParametersFolder())) {
    if (!LoadPresetFile(path.c_str(), &set)) {
      REPORT_DEBUG("LoadParameterStructure() failed to load parameter set '%s'", path.c_str());
      return;
    }
    AddPreset(path, set);
    ApplyParameterSet(set);
  } else {
    if (!ImportPresetFile(path.c_str(), &set)) {
      REPORT_DEBUG("LoadParameterStructure() failed to import parameter set '%s'", path.c_str());
      return;
    }
    ApplyParameterSet(set);
    g_dialog->presets->ShowNone();
    ShowPresetList();
  }
}

void SavePreset() {
  std::string path;
  if (!AskForFile(true, &path)) return;
  ParameterSet set = g_dialog->session.parameters;
  StampCurrentVersion(&set);
  if (!SaveParametersFile(path.c_str(), &set)) {
    REPORT_DEBUG("SaveParametersFile() failed with FilePath = '%s'", path.c_str());
    return;
  }
  if (IsInParametersFolder(path, ParametersFolder())) AddPreset(path, set);
}

void DeletePreset() {
  MainDialog* d = g_dialog;
  if (!d->presets->CanDelete()) return;
  const int index = d->presets->Selected();
  const std::string name = d->presets->Name(index);
  char caption[128], text[1024];
  std::snprintf(caption, sizeof caption, "Delete %s Parameter File", PRODUCT_TITLE);
  std::snprintf(text, sizeof text, "The %s saved parameter file '%s.%s' will be deleted.", PRODUCT_TITLE, name.c_str(),
                "sss");
  if (MessageBoxA(d->dialog, text, caption, MB_OKCANCEL | MB_ICONWARNING) != IDOK) return;
  d->presets->Remove(index);
  ShowPresetList();
  const std::string path = ParametersFolder() + "\\" + name + ".sss";
  if (!DeleteFileA(path.c_str()))
    REPORT_DEBUG("_tremove() failed with error = '%d'. File to be deleted was '%s'", static_cast<int>(GetLastError()),
                 path.c_str());
}

void OnPresetMenu() {
  MainDialog* d = g_dialog;
  HMENU popup = d->presetMenu != nullptr ? GetSubMenu(d->presetMenu, 0) : nullptr;
  if (popup == nullptr) return;
  EnableMenuItem(popup, ID_PRESET_DELETE, MF_BYCOMMAND | (d->presets->CanDelete() ? MF_ENABLED : MF_GRAYED));
  RECT r;
  GetWindowRect(GetDlgItem(d->dialog, IDC_PRESET_MENU), &r);
  const uint32_t command = TrackMenuChoice(popup, r.right, r.bottom, TPM_LEFTALIGN | TPM_TOPALIGN, d->dialog);
  switch (command) {
    case 0:
      break;
    case ID_PRESET_LOAD: LoadPreset(); break;
    case ID_PRESET_SAVE: SavePreset(); break;
    case ID_PRESET_DELETE: DeletePreset(); break;
    default: REPORT_DEBUG("TrackPopupMenu() returned unexpected value 0x%X", static_cast<unsigned>(command)); break;
  }
}

// --- The dialog --------------------------------------------------------------

void EndMainDialog(INT_PTR result) {
  MainDialog* d = g_dialog;
  if (d->ended) return;
  d->ended = true;
  d->endedForTask = true;
  EndDialog(d->dialog, result);
}

void OnOK() {
  MainDialog* d = g_dialog;
  RECT r;
  GetWindowRect(d->dialog, &r);
  d->settings.windowRect = ImageRect{r.left, r.top, r.right, r.bottom};
  d->settings.tool = SelectedProxyTool();
  d->settings.preview = d->preview ? 1 : 0;
  SaveUISettings(d->settings);
  EndMainDialog(1);
}

void OnCancel() {
  SetStatusIfNone(STATUS_USER_CANCELLED);
  EndMainDialog(2);
}

void TogglePreview(bool fromKey) {
  MainDialog* d = g_dialog;
  if (fromKey) CheckDlgButton(d->dialog, IDC_PREVIEW, IsDlgButtonChecked(d->dialog, IDC_PREVIEW) ? BST_UNCHECKED : BST_CHECKED);
  d->preview = IsDlgButtonChecked(d->dialog, IDC_PREVIEW) == BST_CHECKED;
  d->session.view.effectsVisible = d->preview;
  RequestFullProxyUpdate();
}

void OnInitDialog(HWND dialog) {
  MainDialog* d = g_dialog;
  d->dialog = dialog;
  d->session.dialog = dialog;
  InitializeDialogItems(dialog);
  d->previousMessageWindow = SetMessageWindow(dialog);
  SetWindowTextA(dialog, PRODUCT_TITLE);

  if (d->settings.windowRect.right <= d->settings.windowRect.left ||
      d->settings.windowRect.bottom <= d->settings.windowRect.top) {
    CentreOverParent(dialog, true);
    RECT r;
    GetWindowRect(dialog, &r);
    d->settings.windowRect = ImageRect{r.left, r.top, r.right, r.bottom};
  }
  PlaceDialog(dialog, d->settings.windowRect);
  RepositionDialogItems(dialog);

  d->accelerators = LoadAcceleratorsA(Instance(), MAKEINTRESOURCEA(IDA_MAIN_DIALOG));
  RegisterDialogAccelerators(dialog, d->accelerators,
                             "LoadDialogResources() - Failed to load keyboard accelerator table for main dialog.");
  d->faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  d->preview = true;
  d->session.view.effectsVisible = true;
  CheckDlgButton(dialog, IDC_PREVIEW, BST_CHECKED);
  for (int id : {IDOK, IDCANCEL, IDC_PREVIEW, IDC_CONFIGURE})
    SendDlgItemMessageA(dialog, id, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
  SetArtwork();
  InitializePresetMenu();
  d->presetMenu = g_presetMenu;
  g_presetMenu = nullptr;
  CreateSliders();
  FillPresetList();
  CreateTooltips();
  SendDlgItemMessageA(dialog, IDC_PROGRESS, PBM_SETRANGE32, 0, 0);

  const int32_t tool = d->settings.tool;
  SetupProxyTools(dialog, GetDlgItem(dialog, IDC_PROXY), &d->session, &d->run->table, tool);
  SetOpeningZoom();
  SignalRenderingStarted();
  SetTimer(dialog, ANALYSIS_TIMER, 50, nullptr);

  if (NoError()) FocusSlider(0);
  ReleaseMainDialogInitialization();
}

void OnAnalysisTimer() {
  MainDialog* d = g_dialog;
  FilterRun* run = d->run;
  if (run->analysis == nullptr) {
    d->analysisComplete = true;
  } else {
    const LightSourceAnalysisProgress progress = GetLightSourceAnalysisProgress(run->analysis);
    d->rowsAnalysed = static_cast<uint32_t>(progress.done);
    if (WaitForLightSourceAnalysis(run->analysis, 0)) {
      d->analysisComplete = true;
      const int16_t status = run->analysisStatus.load();
      if (status != 0) SetStatusIfNone(status);
    }
  }
  if (d->analysisComplete) {
    KillTimer(d->dialog, ANALYSIS_TIMER);
    // From now on the table is complete and may be listed, by us or by a
    // caller of the exported listing procedure.
    SetListedLightSourceTable(&run->table);
  }
}

void OnProgress(WPARAM position, LPARAM range) {
  MainDialog* d = g_dialog;
  HWND bar = GetDlgItem(d->dialog, IDC_PROGRESS);
  if (bar == nullptr) return;
  if (range > 0) {
    const int32_t r = static_cast<int32_t>(range);
    const int32_t p = std::clamp<int32_t>(static_cast<int32_t>(position), 0, r);
    if (r != d->progressRange) SendMessageA(bar, PBM_SETRANGE32, 0, r);
    if (p != d->progressPosition || r != d->progressRange) SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(p), 0);
    d->progressRange = r;
    d->progressPosition = p;
  } else {
    SendMessageA(bar, PBM_SETPOS, 1, 0);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    SendMessageA(bar, PBM_SETRANGE32, 0, 0);
    d->progressRange = d->progressPosition = -1;
  }
}

void RedrawProxy() { UpdateProxyDisplay(nullptr, 0x300); }

bool OnCommand(WORD id, WORD code, HWND control) {
  MainDialog* d = g_dialog;
  if (code == EN_CHANGE && SliderOfControl(control) >= 0) {
    OnSliderEditChange(control);
    return true;
  }
  switch (id) {
    case IDOK: OnOK(); return true;
    case IDCANCEL: OnCancel(); return true;
    case IDC_PREVIEW: if (code == BN_CLICKED) TogglePreview(false); return true;
    case ID_TOGGLE_PREVIEW: TogglePreview(true); return true;
    case IDC_PRESET_COMBO:
      if (code == CBN_SELCHANGE) OnPresetSelected();
      else if (code == CBN_SETFOCUS) EnableAcceleratorKeys(d->dialog, false);
      else if (code == CBN_KILLFOCUS) EnableAcceleratorKeys(d->dialog, true);
      return true;
    case IDC_PRESET_MENU:
    case ID_PRESET_MENU:
      OnPresetMenu();
      return true;
    case ID_FOCUS_PRESETS: {
      HWND combo = GetDlgItem(d->dialog, IDC_PRESET_COMBO);
      SetFocus(combo);
      SendMessageA(combo, CB_SHOWDROPDOWN, TRUE, 0);
      return true;
    }
    case IDC_TOOL_HAND:
      if (code == STN_DBLCLK) FitProxyInView();
      SelectProxyTool(TOOL_HAND);
      return true;
    case IDC_TOOL_ZOOM:
      if (code == STN_DBLCLK) SetProxyZoom(100.0);
      SelectProxyTool(TOOL_ZOOM);
      return true;
    case IDC_TOOL_HIDE: SelectProxyTool(TOOL_HIDE_EFFECTS); return true;
    case IDC_TOOL_SHOW: SelectProxyTool(TOOL_SHOW_EFFECTS); return true;
    case ID_TOOL_HAND: SelectProxyTool(TOOL_HAND); return true;
    case ID_TOOL_ZOOM: SelectProxyTool(TOOL_ZOOM); return true;
    case ID_TOOL_HIDE: SelectProxyTool(TOOL_HIDE_EFFECTS); return true;
    case ID_TOOL_SHOW: SelectProxyTool(TOOL_SHOW_EFFECTS); return true;
    case ID_FOCUS_PROXY: SetFocus(GetDlgItem(d->dialog, IDC_PROXY)); return true;
    case IDC_ZOOM_FIELD:
    case IDC_ZOOM_MENU:
      if (code == STN_CLICKED || code == STN_DBLCLK) OpenZoomMenuFrom(id);
      return true;
    case IDC_PRODUCT_LOGO:
    case IDC_HELP_AND_SUPPORT:
      if (id == IDC_PRODUCT_LOGO && code != STN_CLICKED) return true;
      RunAboutBoxDialog(d->dialog);
      RedrawProxy();
      return true;
    case IDC_CONFIGURE:
    case ID_OPTIONS:
      RunOptionsDialog(d->dialog);
      RedrawProxy();
      return true;
    case ID_LIGHT_SOURCE_TABLE:
      // The listing shows the table once the analysis has built it.
      if (d->analysisComplete) {
        DialogBoxParamA(Instance(), MAKEINTRESOURCEA(IDD_LIGHT_SOURCE_TABLE), d->dialog, LightSourceTableDialogProc, 0);
      } else {
        MessageBeep(MB_OK);
      }
      return true;
    case IDC_HELP_BUTTON:
    case ID_DIALOG_HELP:
    case ID_HELP_CONTENTS:
      DisplayHTMLControlHelp(IDC_HELP_BUTTON);
      return true;
    default:
      break;
  }
  static const struct {
    int command;
    int slider;
  } FOCUS[] = {{ID_FOCUS_QUANTITY, 0}, {ID_FOCUS_INTENSITY, 1}, {ID_FOCUS_LENGTH, 2}, {ID_FOCUS_ANGLE, 3},
               {ID_FOCUS_POINTS, 4},   {ID_FOCUS_SHARPNESS, 5}, {ID_FOCUS_SATURATION, 6},
               {ID_FOCUS_RAINBOW_INTENSITY, 7}, {ID_FOCUS_RAINBOW_FREQUENCY, 8}, {ID_FOCUS_SECONDARY, 9},
               {ID_FOCUS_FLARE, 10}};
  for (const auto& f : FOCUS)
    if (f.command == id) {
      FocusSlider(f.slider);
      return true;
    }
  return ProxyZoomCommand(id);
}

INT_PTR HandleMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  MainDialog* d = g_dialog;
  switch (message) {
    case WM_INITDIALOG:
      OnInitDialog(dialog);
      return FALSE;  // the focus is set
    case WM_COMMAND:
      return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    case WM_HSCROLL:
    case WM_VSCROLL: {
      const HWND bar = reinterpret_cast<HWND>(lParam);
      if (bar == GetDlgItem(dialog, IDC_HSCROLL) || bar == GetDlgItem(dialog, IDC_VSCROLL))
        ProxyScrollMessage(message == WM_VSCROLL, LOWORD(wParam));
      return TRUE;
    }
    case WM_TIMER:
      if (wParam == ANALYSIS_TIMER) OnAnalysisTimer();
      return TRUE;
    case WM_QUERYENDSESSION:
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) {
        SetStatusIfNone(STATUS_USER_CANCELLED);
        EndMainDialog(2);
      }
      return TRUE;
    case WM_ACTIVATEAPP:
      if (!wParam) {
        ResetProxyMouseState();
        SetSizeMoveInProgress(false);
      }
      return FALSE;
    case WM_GETMINMAXINFO: {
      int32_t w = 0, h = 0;
      InitialDialogSize(&w, &h);
      if (w > 0 && h > 0) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = POINT{w, h};
      }
      return TRUE;
    }
    case WM_WINDOWPOSCHANGED:
      if ((reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_NOSIZE) == 0 && d->dialog != nullptr) {
        RepositionDialogItems(dialog);
        if (NoError()) ProxyResized();
      }
      return FALSE;
    case WM_NCHITTEST: {
      // The size grip in the corner sizes the dialog.
      const LRESULT hit = DefWindowProcA(dialog, message, wParam, lParam);
      HWND grip = GetDlgItem(dialog, IDC_SIZE_GRIP);
      RECT r;
      if (hit == HTCLIENT && grip != nullptr && GetWindowRect(grip, &r)) {
        const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        if (PtInRect(&r, p)) {
          SetWindowLongPtrA(dialog, DWLP_MSGRESULT, HTBOTTOMRIGHT);
          return TRUE;
        }
      }
      return FALSE;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<INT_PTR>(d->faceBrush);
    }
    case WM_ENTERSIZEMOVE:
      SetSizeMoveInProgress(true);
      return FALSE;
    case WM_EXITSIZEMOVE:
      SetSizeMoveInProgress(false);
      RequestFullProxyUpdate();
      return FALSE;
    case WM_HELP:
      DisplayHTMLControlHelp(static_cast<uint32_t>(reinterpret_cast<HELPINFO*>(lParam)->iCtrlId));
      return TRUE;
    case PARAMETER_VALUE_CHANGED:
      if (!d->applyingPreset && d->presets != nullptr) {
        d->presets->SettingsChanged(d->session.parameters);
        ShowPresetSelection();
      }
      RequestFullProxyUpdate();
      return TRUE;
    case PARAMETER_SET_CHANGED:
      for (int i = 0; i < SLIDER_COUNT; ++i) {
        const SliderEntry& e = SLIDER_TABLE[i];
        int16_t* value = SliderValue(&d->session.parameters, i);
        *value = e.editId == 0 ? e.defaultValue : static_cast<int16_t>(std::clamp<int32_t>(*value, e.minimum, e.maximum));
        ShowSliderValue(i);
      }
      return TRUE;
    case SET_PROXY_PROGRESS_BAR:
      OnProgress(wParam, lParam);
      return TRUE;
    case READY_FOR_PROXY_OPERATIONS:
      EnableEffectTools();
      return TRUE;
    case REFRESH_PROXY_DISPLAY: {
      const ImageRect r = GetProxyFrameRect();
      const RECT area{r.left, r.top, r.right, r.bottom};
      RedrawWindow(dialog, &area, nullptr, RDW_INTERNALPAINT | RDW_INVALIDATE | RDW_ALLCHILDREN);
      return TRUE;
    }
    case POST_DEBUG_MESSAGE:
      ShowPostedMessage(reinterpret_cast<void*>(wParam), dialog);
      return TRUE;
    case WM_DESTROY:
      AbortBackgroundRendering();
      KillTimer(dialog, ANALYSIS_TIMER);
      ShutdownProxyTools();
      UnregisterAcceleratorTable(dialog);
      if (d->faceBrush != nullptr) DeleteObject(d->faceBrush);
      d->faceBrush = nullptr;
      if (d->presetMenu != nullptr) DestroyMenu(d->presetMenu);
      d->presetMenu = nullptr;
      d->presets.reset();
      DeleteDialogItems();
      return FALSE;
    case WM_NCDESTROY: {
      // Reports that worker threads posted and nobody showed are shown now,
      // with the host's window again as their owner.
      MSG pending;
      while (PeekMessageA(&pending, dialog, POST_DEBUG_MESSAGE, POST_DEBUG_MESSAGE, PM_REMOVE))
        ShowPostedMessage(reinterpret_cast<void*>(pending.wParam), d->previousMessageWindow);
      SetMessageWindow(d->previousMessageWindow);
      return FALSE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

extern "C" INT_PTR __stdcall GlimmarkProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

INT_PTR __stdcall GlimmarkProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  MainDialog* d = g_dialog;
  if (d == nullptr) return FALSE;  // called outside a run: the dialog manager's defaults
  INT_PTR result = FALSE;
  try {
    result = HandleMessage(dialog, message, wParam, lParam);
  } catch (...) {
    REPORT_DEBUG("The main dialog failed while handling message 0x%X.", message);
    SetStatusIfNone(STATUS_FAILURE_REPORTED);
  }
  // A failure anywhere, the preview's included, ends the dialog once.
  if (d->dialog != nullptr && !d->ended && message != WM_DESTROY && message != WM_NCDESTROY) {
    if (d->taskResult.load() != 0) SetStatusIfNone(d->taskResult.load());
    if (!NoError()) EndMainDialog(2);
  }
  if (InSendMessage()) ReplyMessage(result);
  return result;
}

void InitializePresetMenu() {
  if (g_presetMenu == nullptr) g_presetMenu = LoadMenuA(Instance(), MAKEINTRESOURCEA(IDM_PRESET_MENU));
  if (g_presetMenu == nullptr) REPORT_SYSTEM_ERROR(GetLastError(), "InitializePresetMenu() - Could not load the presets menu.");
}

// The splash picture of the module's resources, handed to the preview as
// it lies in the mapped module (bottom-up rows, 4-byte aligned).
void LoadSplashBitmap() {
  static DibDescription dib{};
  if (dib.bits != nullptr) return;
  HRSRC found = FindResourceA(Instance(), MAKEINTRESOURCEA(IDB_SPLASH), MAKEINTRESOURCEA(2));
  HGLOBAL loaded = found != nullptr ? LoadResource(Instance(), found) : nullptr;
  const auto* header = loaded != nullptr ? static_cast<const BITMAPINFOHEADER*>(LockResource(loaded)) : nullptr;
  const DWORD size = found != nullptr ? SizeofResource(Instance(), found) : 0;
  if (header == nullptr || size < sizeof *header || (header->biBitCount != 24 && header->biBitCount != 32) ||
      header->biCompression != BI_RGB || header->biWidth <= 0 || header->biHeight == 0) {
    REPORT_DEBUG("LoadSplashBitmap() - The splash bitmap is missing or of an unexpected kind.");
    return;
  }
  const int32_t stride = ((header->biWidth * header->biBitCount + 31) / 32) * 4;
  const int32_t rows = header->biHeight < 0 ? -header->biHeight : header->biHeight;
  const size_t offset = header->biSize + header->biClrUsed * sizeof(RGBQUAD);
  if (offset + static_cast<size_t>(stride) * rows > size) {
    REPORT_DEBUG("LoadSplashBitmap() - The splash bitmap is truncated.");
    return;
  }
  dib = DibDescription{header->biWidth, header->biHeight, stride, header->biBitCount, 0,
                       reinterpret_cast<const uint8_t*>(header) + offset};
  SetSplashBitmap(&dib);
}

void RunAboutBox(WindowHandle owner) {
  if (IsUnattendedRun()) {
    REPORT_TRACE("Unattended run: the about box is not shown.");
    return;
  }
  HWND window = static_cast<HWND>(owner);
  if (window == nullptr || !IsWindow(window)) window = GetActiveWindow();
  ModuleControlsScope controls;
  LoadDialogLibraries();
  RunAboutBoxDialog(window);
}

void LoadDialogLibraries() {
  static HMODULE richEdit = nullptr;
  if (richEdit == nullptr) richEdit = LoadLibraryA("Riched20.dll");
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);
}

bool RunMainDialog(FilterRun* run) {
  // Unattended, the run goes on with the current settings, as a build
  // without windows does.
  if (IsUnattendedRun()) {
    REPORT_TRACE("Unattended run: rendering with the current settings, without the dialog.");
    return true;
  }
  MainDialog dialog;
  dialog.run = run;
  dialog.session.parameters = *run->parameters;
  dialog.session.view.zoomPercent = 100.0;
  dialog.session.view.effectsVisible = true;
  dialog.session.proxy = &run->proxy;
  dialog.session.hostImage = &run->copy.image;
  dialog.session.table = &GetMasterLightSourceTable(&run->table);
  const uint32_t mode = run->copy.image.mode;
  dialog.session.gray = mode == IMAGE_MODE_GRAY8 || mode == IMAGE_MODE_GRAY16 || mode == IMAGE_MODE_GRAY_FLOAT;
  dialog.session.analysisComplete = &dialog.analysisComplete;
  dialog.session.rowsAnalysed = &dialog.rowsAnalysed;
  dialog.session.rowsTotal = run->analysis != nullptr
                                 ? static_cast<uint32_t>(GetLightSourceAnalysisProgress(run->analysis).total)
                                 : 0;
  dialog.analysisComplete = run->analysis == nullptr;
  dialog.session.postToDialog = [](WindowHandle window, uint32_t message, uintptr_t first, intptr_t second) {
    PostMessageA(static_cast<HWND>(window), message, first, second);
  };
  LoadUISettings(&dialog.settings);
  // The drawing mode the options dialog stored decides how the preview draws.
  LoadOpenGLDrawingSettings();
  LayOutHostProxyLevels(&run->proxy, run->copy.image);

  std::unique_ptr<ModuleControlsScope> controls(new ModuleControlsScope);
  LoadDialogLibraries();

  INT_PTR result = -1;
  if (CreateProxyDisplayClass()) {
    g_dialog = &dialog;
    SetPreviewSession(&dialog.session);
    PrepareProxyDisplay(&dialog.session, &dialog.taskResult, &dialog.endedForTask);
    // The host's window owns the dialog; a host that hands over none gets
    // the active window, and with none at all the dialog stands alone.
    HWND owner = nullptr;
    const FilterRecord* record = GetFilterRecord();
    if (record != nullptr && record->platformData != nullptr)
      owner = reinterpret_cast<HWND>(record->platformData->hwnd);
    if (owner == nullptr || !IsWindow(owner)) owner = GetActiveWindow();
    result = DialogBoxParamA(Instance(), MAIN_DIALOG_TEMPLATE, owner, reinterpret_cast<DLGPROC>(GlimmarkProc), 0);
    if (result == -1 || result == 0) {
      if (result == -1) REPORT_SYSTEM_ERROR(GetLastError(), "The main dialog could not be created.");
      SetStatusIfNone(STATUS_FAILURE_REPORTED);
    }
    SetPreviewSession(nullptr);
    SetListedLightSourceTable(nullptr);
    PrepareProxyDisplay(nullptr, nullptr);
    g_dialog = nullptr;
    DeleteProxyDisplayClass();
  } else {
    SetStatusIfNone(STATUS_FAILURE_REPORTED);
  }
  controls.reset();

  if (dialog.taskResult.load() != 0) SetStatusIfNone(dialog.taskResult.load());
  if (result != 1 || !NoError()) {
    SetStatusIfNone(STATUS_USER_CANCELLED);
    return false;
  }
  *run->parameters = dialog.session.parameters;
  return true;
}
