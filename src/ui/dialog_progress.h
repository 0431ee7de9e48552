#pragma once
// The dialog's progress bar as long operations feed it (the analysis, a
// preview pass): a range of at most 100 steps, each position posted once.
#include <cstdint>

// The dialog's progress bar for a long operation of `total` steps: a range
// of at most 100, each position posted once.
class DialogProgressFeed {
 public:
  // The range to post first (with position 0).
  uint32_t Begin(uint64_t total);
  // Adds `count` steps; true with the new position when it moved.
  bool Advance(uint64_t count, uint32_t* position);

 private:
  uint64_t step_ = 1;
  uint64_t done_ = 0;
  uint32_t range_ = 0;
  uint32_t position_ = 0;
};
