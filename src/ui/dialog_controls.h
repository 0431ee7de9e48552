#pragma once
// What every dialog of the plug-in shares (Windows): the module's own common
// controls around a dialog, tooltips, centring, link controls that open an
// address through the shell, and the dialog as the owner of messages.
#include <windows.h>

// Activates the module's common-controls manifest for as long as it lives,
// whatever the host chose for itself.
class ModuleControlsScope {
 public:
  ModuleControlsScope();
  ~ModuleControlsScope();
  ModuleControlsScope(const ModuleControlsScope&) = delete;
  ModuleControlsScope& operator=(const ModuleControlsScope&) = delete;

 private:
  HANDLE activation_;
  ULONG_PTR cookie_ = 0;
  bool activated_ = false;
};

HINSTANCE ModuleInstance();

// The maker's web site, which every dialog's maker logo opens.
extern const char* const MAKER_WEB_SITE;

// Unattended runs (batch hosts, test hosts) set GLIMMARK_UNATTENDED to any
// value but "0": no window of the host's selectors may wait for a person.
bool IsUnattendedRun();

// A tooltips_class32 pop-up with the dialogs' delays, or null.
HWND CreateDialogTooltips(HWND dialog);
// Registers `control` by its window; a disabled control gets no mouse
// messages, so `byArea` registers its rectangle on the dialog instead.
void AddControlTip(HWND tooltips, HWND dialog, HWND control, const char* text, bool byArea = false);
// A table of tooltips by control id.
struct ControlTip {
  int id;
  const char* text;
};
template <size_t N>
void AddControlTips(HWND tooltips, HWND dialog, const ControlTip (&tips)[N]) {
  for (const ControlTip& tip : tips) AddControlTip(tooltips, dialog, GetDlgItem(dialog, tip.id), tip.text);
}

// Registers a dialog's keyboard table (loaded by the caller, null when that
// failed), reporting `loadFailure` or the refused registration.
void RegisterDialogAccelerators(HWND dialog, HACCEL table, const char* loadFailure);

// What the small dialogs answer alike: F1 help for the control asked
// about, messages posted by other threads, and the keyboard table
// unregistered as the dialog goes. FALSE for every other message.
INT_PTR SmallDialogCommonMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Centred over the parent (or the work area), kept on the virtual screen.
// The main dialog stands a third of the free height down; the small dialogs
// in the middle.
void CentreOverParent(HWND dialog, bool upperThird);

// The small icon size of the screen's DPI (static controls would otherwise
// take the system's large size). Icons at the size asked, bitmaps at their
// own; both from the module.
int SmallIconSize();
void SetControlIcon(HWND dialog, int controlId, int iconId, int size);
void SetControlBitmap(HWND dialog, int controlId, int bitmapId);

// A static control that opens `address` through the shell on a click or
// Enter, with the link cursor over it. The address must outlive the control.
void MakeLinkControl(HWND control, const char* address);
bool OpenAddress(const char* address);

// The dialog owns message boxes while it is open; messages posted to it by
// other threads are shown by it, and those still queued when it goes are
// shown by the previous owner, which owns them again afterwards.
class DialogMessageOwner {
 public:
  void Begin(HWND dialog);
  void End(HWND dialog);

 private:
  HWND previous_ = nullptr;
  bool begun_ = false;
};

// Runs `procedure` on `message` and reports what escapes it: a dialog
// procedure must not let an exception into the system's dialog code.
INT_PTR GuardedDialogCall(const char* dialogName, UINT message, INT_PTR (*procedure)(HWND, UINT, WPARAM, LPARAM),
                          HWND dialog, WPARAM wParam, LPARAM lParam) noexcept;
