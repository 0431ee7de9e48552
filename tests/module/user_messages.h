#pragma once
// Catches the messages the module shows the user while a test runs. The
// native module writes them to standard error as "caption: text"; the Windows
// module shows a message box on the thread that called it, which would wait
// for a click forever in an unattended run. The capture takes each box's
// caption and text and answers it with OK, so both builds run the same
// assertions on the same "caption: text" strings.
#include <memory>
#include <string>
#include <vector>

namespace moduletest {

class UserMessageCapture {
 public:
  UserMessageCapture();  // starts capturing
  ~UserMessageCapture();
  UserMessageCapture(const UserMessageCapture&) = delete;
  UserMessageCapture& operator=(const UserMessageCapture&) = delete;

  // Stops capturing and returns the messages shown, oldest first. Later
  // calls return the same list.
  std::vector<std::string> Stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::vector<std::string> messages_;
  bool stopped_ = false;
};

// How many of `messages` contain `text`.
inline int CountMessages(const std::vector<std::string>& messages, const std::string& text) {
  int count = 0;
  for (const std::string& message : messages) count += message.find(text) != std::string::npos ? 1 : 0;
  return count;
}

}  // namespace moduletest
