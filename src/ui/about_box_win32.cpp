// The about box: the product and its version, the manual, where to find
// help online, and which OpenGL the preview draws with.
#include <windows.h>

#include <string>

#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/opengl_drawing.h"
#include "gl/wgl_contexts.h"
#include "platform/platform.h"
#include "runtime/help_viewer.h"
#include "runtime/report.h"
#include "ui/dialog_controls.h"
#include "ui/resource_ids.h"
#include "ui/small_dialog_rules.h"
#include "ui/small_dialogs.h"

namespace {

constexpr COLORREF LINK_COLOUR = RGB(0, 0x4E, 0xC2);

struct Link {
  int id;
  const char* address;
};
const Link LINKS[] = {{IDC_ABOUT_WEB_SITE, "https://www.brightwerk.example/glimmark2"},
                      {IDC_ABOUT_ACCOUNT, "https://www.brightwerk.example/account"},
                      {IDC_ABOUT_SUPPORT_MAIL, "mailto:support@brightwerk.example"}};

const ControlTip ABOUT_TIPS[] = {
    {IDC_ABOUT_MANUAL, "Read the instruction manual for this product."},
    {IDC_ABOUT_WEB_SITE, "Visit the Web Site for this product."},
    {IDC_ABOUT_ACCOUNT, "Visit your Brightwerk Software account page."},
    {IDC_ABOUT_SUPPORT_MAIL, "Send an eMail to Brightwerk Software Support."},
    {IDC_ABOUT_OK, "OK - Return to the editor"},
    {IDC_ABOUT_CONFIGURE, "(F10) - Configure plug-in options"},
    {IDC_ABOUT_MAKER_LOGO, "Visit the Brightwerk Software web site"},
    {IDC_ABOUT_HELP, "Help (?) - Click to see help for this Dialog."},
};

struct AboutBox {
  HWND tooltips = nullptr;
  HFONT linkFont = nullptr;
  DialogMessageOwner messages;
};

AboutBox* BoxOf(HWND dialog) { return reinterpret_cast<AboutBox*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

HACCEL AboutAccelerators() {
  static HACCEL table = LoadAcceleratorsA(ModuleInstance(), MAKEINTRESOURCEA(IDA_ABOUT));
  return table;
}

// The preview's context answers when one was made; otherwise a hidden
// context is made for the question and closed again.
std::string ProbeOpenGLVersion() {
  std::string known = KnownOpenGLVersionString();
  if (!known.empty()) {
    REPORT_TRACE("About box: the preview's context reports OpenGL %s.", known.c_str());
    return known;
  }
  OpenGLSettings settings{};
  ReadOpenGLRegistryData(&settings);
  OpenGLContext context{};
  PIXELFORMATDESCRIPTOR descriptor{};
  bool accelerated = settings.drawingMode != OPTIMIZE_NONE;
  REPORT_TRACE("About box: no preview context yet; asking a hidden one.");
  if (!CreateHiddenOpenGLContext(&context, &descriptor, &accelerated)) return "";
  const char* version = OpenGLString(GL_VERSION);
  std::string text = version != nullptr ? version : "";
  DestroyHiddenOpenGLContext(&context);
  return text;
}

void OnInitAbout(HWND dialog, AboutBox* box) {
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(box));
  box->messages.Begin(dialog);
  SetControlBitmap(dialog, IDC_ABOUT_PRODUCT_LOGO, IDB_PRODUCT_LOGO);
  SetControlBitmap(dialog, IDC_ABOUT_MAKER_LOGO, IDB_MAKER_LOGO);
  SetControlIcon(dialog, IDC_ABOUT_HELP, IDI_HELP, SmallIconSize());
  MakeLinkControl(GetDlgItem(dialog, IDC_ABOUT_MAKER_LOGO), MAKER_WEB_SITE);

  // Links are underlined in the dialog's own font.
  LOGFONTA font{};
  HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
  if (dialogFont != nullptr && GetObjectA(dialogFont, sizeof font, &font) != 0) {
    font.lfUnderline = TRUE;
    box->linkFont = CreateFontIndirectA(&font);
  }
  for (const Link& link : LINKS) {
    HWND control = GetDlgItem(dialog, link.id);
    MakeLinkControl(control, link.address);
    if (box->linkFont != nullptr) SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(box->linkFont), FALSE);
  }

  uint16_t version[4] = {};
  if (PlatformModuleVersion(version)) SetDlgItemTextA(dialog, IDC_ABOUT_VERSION, ProductVersionLine(version).c_str());
  else REPORT_DEBUG("The about box could not read the module's version resource.");
  const std::string opengl = ProbeOpenGLVersion();
  SetDlgItemTextA(dialog, IDC_ABOUT_OPENGL_VERSION, OpenGLVersionLine(opengl.c_str()).c_str());

  box->tooltips = CreateDialogTooltips(dialog);
  AddControlTips(box->tooltips, dialog, ABOUT_TIPS);
  RegisterDialogAccelerators(dialog, AboutAccelerators(),
                             "LoadDialogResources() - Failed to load keyboard accelerator table for about dialog.");
  CentreOverParent(dialog, false);
}

INT_PTR AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  AboutBox* box = BoxOf(dialog);
  switch (message) {
    case WM_INITDIALOG:
      OnInitAbout(dialog, reinterpret_cast<AboutBox*>(lParam));
      return TRUE;
    case WM_COMMAND: {
      const WORD id = LOWORD(wParam), code = HIWORD(wParam);
      switch (id) {
        case IDOK:
        case IDC_ABOUT_OK: EndDialog(dialog, 1); return TRUE;
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        case IDC_ABOUT_CONFIGURE: RunOptionsDialog(dialog); return TRUE;
        case IDC_ABOUT_MANUAL: DisplayHTMLControlHelp(IDC_ABOUT_MANUAL); return TRUE;
        case IDC_ABOUT_HELP:
          if (code == STN_CLICKED || code == STN_DBLCLK) DisplayHTMLControlHelp(IDC_ABOUT_HELP);
          return TRUE;
        case ID_ABOUT_HELP: DisplayHTMLControlHelp(IDC_ABOUT_HELP); return TRUE;
        default: return FALSE;
      }
    }
    case WM_CTLCOLORSTATIC: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      for (const Link& link : LINKS)
        if (link.id == id) {
          HDC dc = reinterpret_cast<HDC>(wParam);
          SetTextColor(dc, LINK_COLOUR);
          SetBkMode(dc, TRANSPARENT);
          return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
        }
      return FALSE;
    }
    case WM_NCDESTROY:
      if (box != nullptr) {
        box->messages.End(dialog);
        if (box->linkFont != nullptr) DeleteObject(box->linkFont);
        box->linkFont = nullptr;
      }
      return FALSE;
    default:
      return SmallDialogCommonMessage(dialog, message, wParam, lParam);
  }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  return GuardedDialogCall("about box", message, AboutProc, dialog, wParam, lParam);
}

}  // namespace

void RunAboutBoxDialog(HWND owner) {
  AboutBox box;
  const INT_PTR result = DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDialogProc,
                                         reinterpret_cast<LPARAM>(&box));
  if (result == -1) REPORT_SYSTEM_ERROR(GetLastError(), "The about box could not be created.");
}
