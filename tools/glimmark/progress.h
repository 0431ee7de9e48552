#pragma once
// A one-line progress bar on a terminal, fed by the host's progress
// procedure: redrawn at most every 100 ms (and when it reaches 100 %),
// erased by Clear. Safe to feed from any thread.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace glimmark {

class ProgressBar {
 public:
  explicit ProgressBar(std::FILE* terminal) : terminal_(terminal) {}
  void Update(int32_t done, int32_t total);
  void Clear();

 private:
  std::FILE* terminal_;
  std::mutex mutex_;
  bool drawn_ = false;
  int lastPercent_ = -1;
  std::chrono::steady_clock::time_point lastDraw_{};
};

// The whole percent `done` of `total` is, within 0..100; -1 when total is
// not positive.
int ProgressPercent(int32_t done, int32_t total);

}  // namespace glimmark
