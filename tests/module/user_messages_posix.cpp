// Natively the module writes user messages to standard error: the capture
// points file descriptor 2 at a temporary file for its lifetime.
#if !defined(_WIN32)
#include <unistd.h>

#include <cstdio>
#include <string>

#include "user_messages.h"

namespace moduletest {

struct UserMessageCapture::State {
  std::FILE* file = nullptr;
  int savedDescriptor = -1;
};

UserMessageCapture::UserMessageCapture() : state_(new State) {
  std::fflush(stderr);
  state_->file = std::tmpfile();
  if (state_->file == nullptr) return;
  state_->savedDescriptor = dup(2);
  if (state_->savedDescriptor < 0 || dup2(fileno(state_->file), 2) < 0) {
    if (state_->savedDescriptor >= 0) close(state_->savedDescriptor);
    state_->savedDescriptor = -1;
  }
}

UserMessageCapture::~UserMessageCapture() { Stop(); }

std::vector<std::string> UserMessageCapture::Stop() {
  if (stopped_) return messages_;
  stopped_ = true;
  std::fflush(stderr);
  if (state_->savedDescriptor >= 0) {
    dup2(state_->savedDescriptor, 2);
    close(state_->savedDescriptor);
  }
  if (state_->file != nullptr) {
    std::rewind(state_->file);
    std::string line;
    for (int c; (c = std::fgetc(state_->file)) != EOF;) {
      if (c != '\n') {
        line.push_back(static_cast<char>(c));
      } else if (!line.empty()) {
        messages_.push_back(line);
        line.clear();
      }
    }
    if (!line.empty()) messages_.push_back(line);
    std::fclose(state_->file);
    state_->file = nullptr;
  }
  return messages_;
}

}  // namespace moduletest
#endif
