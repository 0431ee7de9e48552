// The dialog progress feed posts each position once, within its range.
#include "ui/dialog_progress.h"

#include <gtest/gtest.h>

namespace {

TEST(DialogProgress, TheFeedPostsEachPositionOnce) {
  DialogProgressFeed feed;
  EXPECT_EQ(feed.Begin(40), 40u);
  uint32_t position = 0;
  EXPECT_TRUE(feed.Advance(3, &position));
  EXPECT_EQ(position, 3u);
  EXPECT_EQ(feed.Begin(1000), 100u) << "longer runs count in hundredths";
  EXPECT_FALSE(feed.Advance(9, &position));
  EXPECT_TRUE(feed.Advance(1, &position));
  EXPECT_EQ(position, 1u);
  EXPECT_TRUE(feed.Advance(5000, &position));
  EXPECT_EQ(position, 100u) << "never past the range";
}

}  // namespace
