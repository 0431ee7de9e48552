#include "progress.h"

#include <algorithm>
#include <string>

namespace glimmark {

namespace {
constexpr int kBarWidth = 40;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}  // namespace

int ProgressPercent(int32_t done, int32_t total) {
  if (total <= 0) return -1;
  const int64_t clamped = std::clamp<int64_t>(done, 0, total);
  return static_cast<int>(clamped * 100 / total);
}

void ProgressBar::Update(int32_t done, int32_t total) {
  const int percent = ProgressPercent(done, total);
  if (percent < 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  const bool complete = percent == 100 && lastPercent_ != 100;
  if (!complete && (percent == lastPercent_ || (drawn_ && now - lastDraw_ < kRedrawInterval))) return;
  const int filled = percent * kBarWidth / 100;
  const std::string bar = std::string(filled, '#') + std::string(kBarWidth - filled, '-');
  std::fprintf(terminal_, "\r[%s] %3d%%", bar.c_str(), percent);
  std::fflush(terminal_);
  drawn_ = true;
  lastPercent_ = percent;
  lastDraw_ = now;
}

void ProgressBar::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!drawn_) return;
  std::fprintf(terminal_, "\r%*s\r", kBarWidth + 8, "");
  std::fflush(terminal_);
  drawn_ = false;
  lastPercent_ = -1;
}

}  // namespace glimmark
