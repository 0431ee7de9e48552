#include "ui/dialog_progress.h"

#include <algorithm>

uint32_t DialogProgressFeed::Begin(uint64_t total) {
  done_ = 0;
  position_ = 0;
  if (total <= 100) {
    range_ = static_cast<uint32_t>(total);
    step_ = 1;
  } else {
    range_ = 100;
    step_ = total / 100;
  }
  return range_;
}

bool DialogProgressFeed::Advance(uint64_t count, uint32_t* position) {
  done_ += count;
  const uint32_t now = static_cast<uint32_t>(std::min<uint64_t>(range_, done_ / step_));
  if (now == position_) return false;
  position_ = now;
  *position = now;
  return true;
}
