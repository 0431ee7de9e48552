// The scripting dictionary ('aete' 16000) of a built module, read back the
// way a recording host reads it: no alignment anywhere, little-endian words,
// byte-reversed codes, Pascal strings. The property list's 'hstm' entry names
// this resource, so a host that finds the one and not the other cannot show
// the filter's keys.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options.h"
#include "pe_image.h"
#include "pipl.h"

namespace {

// A bounds-checked reader; the first read past the end fails the whole parse.
class Cursor {
 public:
  explicit Cursor(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  bool Word(int* value) {
    if (!Has(2)) return false;
    *value = bytes_[at_] | (bytes_[at_ + 1] << 8);
    at_ += 2;
    return true;
  }
  bool Code(uint32_t* value) {
    if (!Has(4)) return false;
    *value = uint32_t(bytes_[at_]) | (uint32_t(bytes_[at_ + 1]) << 8) | (uint32_t(bytes_[at_ + 2]) << 16) |
             (uint32_t(bytes_[at_ + 3]) << 24);
    at_ += 4;
    return true;
  }
  bool Pascal(std::string* text) {
    if (!Has(1) || !Has(1 + size_t(bytes_[at_]))) return false;
    const size_t length = bytes_[at_];
    text->assign(bytes_.begin() + long(at_) + 1, bytes_.begin() + long(at_ + 1 + length));
    at_ += 1 + length;
    return true;
  }
  size_t left() const { return bytes_.size() - at_; }

 private:
  bool Has(size_t n) const { return n <= bytes_.size() - at_; }
  const std::vector<uint8_t>& bytes_;
  size_t at_ = 0;
};

struct Parameter {
  std::string name;
  uint32_t key = 0;
  uint32_t type = 0;
  std::string description;
  int flags = -1;
};

struct Dictionary {
  int prelude = -1, version = -1, language = -1, script = -1, suites = -1;
  std::string suiteName, suiteDescription;
  uint32_t suiteId = 0;
  int level = -1, suiteVersion = -1, events = -1;
  std::string eventName, eventDescription;
  uint32_t eventClass = 0, eventId = 0, replyType = 0, directType = 0;
  std::string replyDescription, directDescription;
  int replyFlags = -1, directFlags = -1;
  std::vector<Parameter> parameters;
  int classes = -1, comparisons = -1, enumerations = -1;
  size_t bytesLeft = 0;
};

// One suite with one event: all this dictionary may hold. False when the
// bytes end early or hold more suites or events than that.
bool Parse(const std::vector<uint8_t>& bytes, Dictionary* d, std::string* problem) {
  Cursor c(bytes);
  if (!c.Word(&d->prelude) || !c.Word(&d->version) || !c.Word(&d->language) || !c.Word(&d->script) ||
      !c.Word(&d->suites)) {
    *problem = "header cut short";
    return false;
  }
  if (d->suites != 1) {
    *problem = "expected one suite, found " + std::to_string(d->suites);
    return false;
  }
  if (!c.Pascal(&d->suiteName) || !c.Pascal(&d->suiteDescription) || !c.Code(&d->suiteId) || !c.Word(&d->level) ||
      !c.Word(&d->suiteVersion) || !c.Word(&d->events)) {
    *problem = "suite cut short";
    return false;
  }
  if (d->events != 1) {
    *problem = "expected one event, found " + std::to_string(d->events);
    return false;
  }
  int count = 0;
  if (!c.Pascal(&d->eventName) || !c.Pascal(&d->eventDescription) || !c.Code(&d->eventClass) ||
      !c.Code(&d->eventId) || !c.Code(&d->replyType) || !c.Pascal(&d->replyDescription) || !c.Word(&d->replyFlags) ||
      !c.Code(&d->directType) || !c.Pascal(&d->directDescription) || !c.Word(&d->directFlags) || !c.Word(&count)) {
    *problem = "event cut short";
    return false;
  }
  for (int i = 0; i < count; ++i) {
    Parameter p;
    if (!c.Pascal(&p.name) || !c.Code(&p.key) || !c.Code(&p.type) || !c.Pascal(&p.description) || !c.Word(&p.flags)) {
      *problem = "parameter " + std::to_string(i) + " cut short";
      return false;
    }
    d->parameters.push_back(p);
  }
  if (!c.Word(&d->classes) || !c.Word(&d->comparisons) || !c.Word(&d->enumerations)) {
    *problem = "suite tail cut short";
    return false;
  }
  d->bytesLeft = c.left();
  return true;
}

class TerminologyTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    const std::string& path = ModulePath(GetParam());
    if (path.empty()) GTEST_SKIP() << "no " << GetParam() << "-bit module given (--module" << GetParam() << " PATH)";
    ASSERT_TRUE(image_.LoadFile(path)) << path << ": " << image_.error();
    std::string problem;
    ASSERT_TRUE(image_.FindResource(pe::ResourceKey::Name("AETE"), pe::ResourceKey::Id(16000), 1033, &bytes_,
                                    &problem))
        << "no 'aete' 16000 in language 1033: " << problem;
  }

  pe::Image image_;
  std::vector<uint8_t> bytes_;
};

TEST_P(TerminologyTest, NamesTheFilterEventAndItsEightKeys) {
  Dictionary d;
  std::string problem;
  ASSERT_TRUE(Parse(bytes_, &d, &problem)) << problem;
  EXPECT_EQ(d.bytesLeft, 0u) << "bytes after the suite";
  EXPECT_EQ(bytes_.size(), 481u);

  EXPECT_EQ(d.prelude, 1);
  EXPECT_EQ(d.version & 0xFF, 1) << "major version in the low byte";
  EXPECT_EQ(d.version >> 8, 0) << "minor version";
  EXPECT_EQ(d.language, 0);
  EXPECT_EQ(d.script, 0);

  EXPECT_EQ(d.suiteName, "Brightwerk Software");
  EXPECT_EQ(d.suiteDescription, "Brightwerk Software");
  EXPECT_EQ(pipl::CodeText(d.suiteId), "'BWD1'");
  EXPECT_EQ(d.level, 1);
  EXPECT_EQ(d.suiteVersion, 1);

  // The event is the one the property list's 'hstm' names.
  EXPECT_EQ(d.eventName, "Glimmark 2");
  EXPECT_EQ(d.eventDescription, "Glimmark 2 filter plug-in");
  EXPECT_EQ(pipl::CodeText(d.eventClass), "'BWD1'");
  EXPECT_EQ(pipl::CodeText(d.eventId), "'BWD1'");
  EXPECT_EQ(pipl::CodeText(d.replyType), "'null'");
  EXPECT_EQ(d.replyDescription, "");
  EXPECT_EQ(pipl::CodeText(d.directType), "'#ImR'");
  EXPECT_EQ(d.directDescription, "");
  EXPECT_EQ(d.directFlags, 0xB000) << "optional, enumerated, changes state";

  const struct {
    const char* name;
    const char* key;
    const char* type;
    const char* description;
  } expected[] = {
      {"quantity", "'qntY'", "'doub'", "Glimmark quantity"},
      {"intensity", "'Intn'", "'doub'", "Glimmark intensity"},
      {"length", "'Lngt'", "'doub'", "Glimmark length"},
      {"angle", "'Angl'", "'doub'", "Glimmark angle"},
      {"number of points", "'numP'", "'long'", "Glimmark number of points"},
      {"spike sharpness", "'spsH'", "'doub'", "Glimmark spike sharpness"},
      {"saturation", "'Strt'", "'doub'", "Glimmark color saturation"},
      {"soft flare brightness", "'sflB'", "'doub'", "Glimmark soft flare brightness"},
  };
  ASSERT_EQ(d.parameters.size(), std::size(expected));
  for (size_t i = 0; i < d.parameters.size(); ++i) {
    SCOPED_TRACE("parameter " + std::to_string(i));
    EXPECT_EQ(d.parameters[i].name, expected[i].name);
    EXPECT_EQ(pipl::CodeText(d.parameters[i].key), expected[i].key);
    EXPECT_EQ(pipl::CodeText(d.parameters[i].type), expected[i].type);
    EXPECT_EQ(d.parameters[i].description, expected[i].description);
    EXPECT_EQ(d.parameters[i].flags, 0) << "a required single plain value";
  }
  EXPECT_EQ(d.classes, 0);
  EXPECT_EQ(d.comparisons, 0);
  EXPECT_EQ(d.enumerations, 0);
}

// The reader itself: any cut through the dictionary is a message, never a
// crash or a pass.
TEST_P(TerminologyTest, EveryTruncatedCopyIsRefused) {
  for (size_t size = 0; size < bytes_.size(); ++size) {
    const std::vector<uint8_t> cut(bytes_.begin(), bytes_.begin() + long(size));
    Dictionary d;
    std::string problem;
    EXPECT_FALSE(Parse(cut, &d, &problem)) << "a copy cut to " << size << " bytes parsed";
  }
}

INSTANTIATE_TEST_SUITE_P(Module, TerminologyTest, testing::Values(32, 64),
                         [](const testing::TestParamInfo<int>& info) { return "Win" + std::to_string(info.param); });

}  // namespace
