// The document's colour profile as the host offers it: damaged or foreign
// profiles never stop a run or change the pixels, and a grayscale document
// without a profile is not mistaken for a channel of a colour image.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hostkit/host.h"
#include "module_support.h"
#include "user_messages.h"

namespace {

using hostkit::Host;
using hostkit::HostImage;

HostImage RandomImage(int32_t planes, int32_t bytes, uint32_t seed) {
  HostImage image;
  EXPECT_TRUE(image.Allocate(23, 17, planes, bytes));
  std::mt19937 random(seed);
  for (uint8_t& b : image.pixels) b = static_cast<uint8_t>(random());
  if (bytes == 2) {
    // 16-bit host samples stop at 32768.
    for (size_t i = 0; i + 1 < image.pixels.size(); i += 2) image.pixels[i + 1] &= 0x7F;
  }
  if (bytes == 4) {
    for (size_t i = 0; i + 3 < image.pixels.size(); i += 4) image.pixels[i + 3] = 0x3E;  // small positive floats
  }
  return image;
}

// A profile-shaped block: an ICC header claiming a size and a tag table
// that points far outside it.
std::vector<uint8_t> HostileProfile() {
  std::vector<uint8_t> bytes(160, 0);
  bytes[0] = 0x7F;  // claims 2 GB
  bytes[36] = 'a';
  bytes[37] = 'c';
  bytes[38] = 's';
  bytes[39] = 'p';
  bytes[131] = 1;     // one tag
  bytes[136] = 0x7F;  // at a wild offset
  return bytes;
}

TEST(DocumentProfile, DamagedProfilesLeaveTheRunAndThePixelsIntact) {
  std::mt19937 random(7);
  std::vector<uint8_t> garbage(300);
  for (uint8_t& b : garbage) b = static_cast<uint8_t>(random());
  for (const std::vector<uint8_t>& profile : {garbage, HostileProfile(), std::vector<uint8_t>(1, 0)}) {
    for (int32_t bytes : {1, 2, 4}) {
      Host host(moduletest::ModuleEntry());
      HostImage image = RandomImage(3, bytes, 11 + static_cast<uint32_t>(bytes));
      image.iccProfile = profile;
      const std::vector<uint8_t> before = image.pixels;
      host.SetImage(image);
      moduletest::ReplayDrawNothing(&host);
      moduletest::UserMessageCapture capture;
      EXPECT_EQ(host.RunFilter(false), 0) << "depth " << bytes;
      EXPECT_TRUE(capture.Stop().empty());
      EXPECT_TRUE(host.image().pixels == before) << "depth " << bytes;
    }
  }
}

TEST(DocumentProfile, GrayDocumentWithoutProfileRunsWithoutTheChannelWarning) {
  for (int32_t bytes : {1, 2, 4}) {
    Host host(moduletest::ModuleEntry());
    const HostImage image = RandomImage(1, bytes, 5);
    host.SetImage(image);
    moduletest::ReplayDrawNothing(&host);
    moduletest::UserMessageCapture capture;
    EXPECT_EQ(host.RunFilter(false), 0);
    EXPECT_TRUE(capture.Stop().empty());
    EXPECT_TRUE(host.image().pixels == image.pixels);
    EXPECT_EQ(host.record().iCCprofileData, nullptr);
  }
}

}  // namespace
