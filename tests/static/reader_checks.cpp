// The readers behind the module checks must turn a damaged or half-written
// file into a message, never a crash or a silent pass.
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options.h"
#include "pe_image.h"
#include "pipl.h"

namespace {

void Put32(std::vector<uint8_t>* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A property list header plus properties given as (key, length, data bytes).
std::vector<uint8_t> MakeList(uint32_t count, const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& props,
                              const std::vector<uint32_t>& lengths) {
  std::vector<uint8_t> b = {1, 0};
  Put32(&b, 0);
  Put32(&b, count);
  for (size_t i = 0; i < props.size(); ++i) {
    Put32(&b, pipl::Code("8BIM"));
    Put32(&b, props[i].first);
    Put32(&b, 0);
    Put32(&b, lengths[i]);
    b.insert(b.end(), props[i].second.begin(), props[i].second.end());
  }
  return b;
}

TEST(PiplReader, NextPropertyFollowsTheRoundedUpLength) {
  // 'true\0' stored with its unpadded length 5 and three bytes of padding:
  // the next property must still be found.
  const auto bytes = MakeList(2,
                              {{pipl::Code("enbl"), {'t', 'r', 'u', 'e', 0, 0, 0, 0}},
                               {pipl::Code("kind"), {'M', 'F', 'B', '8'}}},
                              {5, 4});
  pipl::List list;
  std::string problem;
  ASSERT_TRUE(pipl::Parse(bytes, &list, &problem)) << problem;
  ASSERT_EQ(list.properties.size(), 2u);
  EXPECT_EQ(list.properties[0].data.size(), 5u);
  EXPECT_EQ(pipl::CodeText(list.properties[1].key), "'kind'");
  EXPECT_EQ(list.bytesUsed, bytes.size());
}

TEST(PiplReader, RejectsDamagedLists) {
  pipl::List list;
  std::string problem;
  const std::pair<uint32_t, std::vector<uint8_t>> kind = {pipl::Code("kind"), {'M', 'F', 'B', '8'}};

  EXPECT_FALSE(pipl::Parse(MakeList(2, {kind}, {4}), &list, &problem)) << "count larger than the list";
  EXPECT_NE(problem.find("past the end"), std::string::npos) << problem;

  EXPECT_FALSE(pipl::Parse(MakeList(1, {kind}, {0xFFFFFFF0u}), &list, &problem)) << "huge length";
  EXPECT_FALSE(pipl::Parse(MakeList(1, {kind}, {8}), &list, &problem)) << "length past the end";

  auto wrongPrelude = MakeList(1, {kind}, {4});
  wrongPrelude[0] = 0;
  EXPECT_FALSE(pipl::Parse(wrongPrelude, &list, &problem));

  EXPECT_FALSE(pipl::Parse(std::vector<uint8_t>(9, 0), &list, &problem));
}

TEST(PeReader, RejectsFilesThatAreNotModules) {
  pe::Image image;
  EXPECT_FALSE(image.Load({}));
  EXPECT_FALSE(image.error().empty());

  std::vector<uint8_t> bytes(64, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3c] = 0xf0;  // PE header far past the end
  bytes[0x3f] = 0x7f;
  EXPECT_FALSE(image.Load(bytes));

  bytes[0x3c] = 0x20;  // inside the file, but no signature there
  bytes[0x3f] = 0;
  bytes.resize(0x60, 0);
  EXPECT_FALSE(image.Load(bytes));
  EXPECT_NE(image.error().find("signature"), std::string::npos) << image.error();

  EXPECT_FALSE(image.LoadFile("/nonexistent/Glimmark2.8bf"));
}

// Cut a real module short at many places; every query must either answer or
// fail with a message (run under the sanitizer preset to catch overreads).
TEST(PeReader, SurvivesTruncatedModules) {
  std::string path = ModulePath(64);
  if (path.empty()) path = ModulePath(32);
  if (path.empty()) GTEST_SKIP() << "no module given";
  std::ifstream in(path, std::ios::binary);
  ASSERT_TRUE(in) << path;
  const std::vector<uint8_t> whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(whole.size(), 1024u);

  size_t sawLoadFailure = 0, sawPiplFailure = 0;
  const size_t steps = 400;
  for (size_t i = 0; i < steps; ++i) {
    const size_t cut = whole.size() * i / steps + (i % 7);
    pe::Image image;
    if (!image.Load(std::vector<uint8_t>(whole.begin(), whole.begin() + std::min(cut, whole.size())))) {
      EXPECT_FALSE(image.error().empty());
      ++sawLoadFailure;
      continue;
    }
    std::vector<std::string> names;
    std::string problem;
    image.ExportNames(&names, &problem);
    image.ImportNames(&names, &problem);
    std::vector<uint8_t> data;
    if (!image.FindResource(pe::ResourceKey::Name("PIPL"), pe::ResourceKey::Id(16000), 1033, &data, &problem)) {
      EXPECT_FALSE(problem.empty());
      ++sawPiplFailure;
    }
  }
  EXPECT_GT(sawLoadFailure, 0u);
  EXPECT_GT(sawPiplFailure, 0u);
}

}  // namespace
