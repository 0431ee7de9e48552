// On Windows the module's user messages are message boxes on the calling
// thread. A watcher thread looks for dialog-class windows of this process,
// records each one's caption and static text once it is visible, and
// presses OK for it.
#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "user_messages.h"

namespace moduletest {

namespace {

std::string WindowText(HWND window) {
  char buffer[1024] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

std::string ClassOf(HWND window) {
  char buffer[64] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

// The text of a message box is its one static control with text (the icon
// is a static without).
BOOL CALLBACK CollectStaticText(HWND child, LPARAM param) {
  if (_stricmp(ClassOf(child).c_str(), "Static") == 0) {
    const std::string text = WindowText(child);
    if (!text.empty()) {
      std::string* collected = reinterpret_cast<std::string*>(param);
      if (!collected->empty()) collected->push_back(' ');
      *collected += text;
    }
  }
  return TRUE;
}

}  // namespace

struct UserMessageCapture::State {
  std::atomic<bool> stop{false};
  std::mutex lock;
  std::vector<std::string> messages;
  std::set<HWND> answered;
  std::thread watcher;

  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    State* state = reinterpret_cast<State*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || ClassOf(window) != "#32770" || !IsWindowVisible(window)) return TRUE;
    std::lock_guard<std::mutex> guard(state->lock);
    if (!state->answered.insert(window).second) return TRUE;
    std::string text;
    EnumChildWindows(window, CollectStaticText, reinterpret_cast<LPARAM>(&text));
    state->messages.push_back(WindowText(window) + ": " + text);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return TRUE;
  }

  void Watch() {
    while (!stop.load()) {
      EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
      Sleep(10);
    }
  }
};

UserMessageCapture::UserMessageCapture() : state_(new State) {
  state_->watcher = std::thread([state = state_.get()] { state->Watch(); });
}

UserMessageCapture::~UserMessageCapture() { Stop(); }

std::vector<std::string> UserMessageCapture::Stop() {
  if (stopped_) return messages_;
  stopped_ = true;
  state_->stop = true;
  if (state_->watcher.joinable()) state_->watcher.join();
  std::lock_guard<std::mutex> guard(state_->lock);
  messages_ = state_->messages;
  return messages_;
}

}  // namespace moduletest
#endif
