// The dialogs' resources in both built modules: every template, menu,
// keyboard table and picture the code loads exists, each template holds the
// controls the code addresses under the captions the dialogs show, and the
// keyboard tables carry the keys the help promises.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options.h"
#include "pe_image.h"
#include "ui/resource_ids.h"

namespace {

constexpr uint16_t RT_CURSOR_GROUP = 12, RT_BITMAP = 2, RT_MENU = 4, RT_DIALOG = 5, RT_ACCELERATOR = 9,
                   RT_ICON_GROUP = 14;

// What a DIALOGEX template says about itself and its controls.
struct Template {
  uint32_t style = 0;
  std::string caption;
  std::set<uint32_t> ids;
};

class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& data) : data_(data) {}
  bool ok() const { return ok_; }
  uint16_t U16() {
    if (at_ + 2 > data_.size()) return Fail();
    const uint16_t v = static_cast<uint16_t>(data_[at_] | data_[at_ + 1] << 8);
    at_ += 2;
    return v;
  }
  uint32_t U32() { return U16() | static_cast<uint32_t>(U16()) << 16; }
  void Skip(size_t n) { at_ = at_ + n <= data_.size() ? at_ + n : (Fail(), data_.size()); }
  void Align4() { at_ = (at_ + 3) & ~static_cast<size_t>(3); }
  // A UTF-16 text (ASCII expected) ended by a zero.
  std::string Text() {
    std::string s;
    for (uint16_t c = U16(); ok_ && c != 0; c = U16()) s += static_cast<char>(c < 128 ? c : '?');
    return s;
  }
  // A name or an ordinal: none (0), 0xFFFF and a number, or a text.
  void NameOrOrdinal() {
    const uint16_t first = U16();
    if (first == 0xFFFF) U16();
    else if (first != 0)
      for (uint16_t c = U16(); ok_ && c != 0; c = U16()) {
      }
  }

 private:
  uint16_t Fail() {
    ok_ = false;
    return 0;
  }
  const std::vector<uint8_t>& data_;
  size_t at_ = 0;
  bool ok_ = true;
};

bool ParseTemplate(const std::vector<uint8_t>& data, Template* t) {
  Reader r(data);
  if (r.U16() != 1 || r.U16() != 0xFFFF) return false;  // DIALOGEX only
  r.Skip(8);                                              // help id, extended style
  t->style = r.U32();
  const uint16_t items = r.U16();
  r.Skip(8);  // position and size
  r.NameOrOrdinal();  // menu
  r.NameOrOrdinal();  // class
  t->caption = r.Text();
  if (t->style & 0x40) {  // DS_SETFONT
    r.Skip(6);
    r.Text();
  }
  for (uint16_t i = 0; i < items && r.ok(); ++i) {
    r.Align4();
    r.Skip(20);  // help id, extended style, style, position and size
    t->ids.insert(r.U32());
    r.NameOrOrdinal();  // class
    r.NameOrOrdinal();  // title
    r.Skip(r.U16());    // creation data
  }
  return r.ok();
}

struct Accelerator {
  uint16_t flags;
  uint16_t key;
  uint16_t command;
};

std::vector<Accelerator> ParseAccelerators(const std::vector<uint8_t>& data) {
  std::vector<Accelerator> table;
  for (size_t at = 0; at + 8 <= data.size(); at += 8) {
    const auto word = [&](size_t i) { return static_cast<uint16_t>(data[at + i] | data[at + i + 1] << 8); };
    table.push_back(Accelerator{static_cast<uint16_t>(word(0) & 0x7F), word(2), word(4)});
    if (word(0) & 0x80) break;  // the last entry
  }
  return table;
}

class DialogResourceTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    const std::string& path = ModulePath(GetParam());
    if (path.empty()) GTEST_SKIP() << "no " << GetParam() << "-bit module given";
    ASSERT_TRUE(image_.LoadFile(path)) << path << ": " << image_.error();
  }
  bool Has(uint16_t type, const pe::ResourceKey& name) {
    std::vector<uint8_t> data;
    std::string problem;
    return image_.FindResource(pe::ResourceKey::Id(type), name, 0xFFFF, &data, &problem);
  }
  std::vector<uint8_t> Get(uint16_t type, const pe::ResourceKey& name) {
    std::vector<uint8_t> data;
    std::string problem;
    EXPECT_TRUE(image_.FindResource(pe::ResourceKey::Id(type), name, 0xFFFF, &data, &problem)) << problem;
    return data;
  }
  pe::Image image_;
};

TEST_P(DialogResourceTest, EveryResourceTheCodeLoadsIsThere) {
  const struct {
    uint16_t type;
    std::vector<uint16_t> ids;
  } rows[] = {
      {RT_DIALOG, {IDD_OPTIONS, IDD_ABOUT, IDD_LIGHT_SOURCE_TABLE}},
      {RT_MENU, {IDM_ZOOM_MENU, IDM_PRESET_MENU}},
      {RT_ACCELERATOR, {IDA_MAIN_DIALOG, IDA_ABOUT, IDA_OPTIONS}},
      {RT_BITMAP, {IDB_PRODUCT_LOGO, IDB_MAKER_LOGO, IDB_ZOOM_OUT, IDB_ZOOM_IN, IDB_ZOOM_MENU, IDB_ZOOM_IN_DISABLED,
                   IDB_ZOOM_IN_PRESSED, IDB_ZOOM_OUT_PRESSED, IDB_ZOOM_OUT_DISABLED, IDB_SPLASH}},
      {RT_ICON_GROUP,
       {IDI_TOOL_HIDE, IDI_INTENSITY_MORE, IDI_INTENSITY_LESS, IDI_ANGLE_LESS, IDI_ANGLE_MORE, IDI_LENGTH_LESS,
        IDI_LENGTH_MORE, IDI_POINTS_LESS, IDI_POINTS_MORE, IDI_SATURATION_LESS, IDI_SATURATION_MORE, IDI_FLARE_LESS,
        IDI_FLARE_MORE, IDI_TOOL_ZOOM, IDI_TOOL_HAND, IDI_TOOL_HAND_SELECTED, IDI_TOOL_ZOOM_SELECTED, IDI_SIZE_GRIP,
        IDI_PRESET_MENU, IDI_SHARPNESS_LESS, IDI_SHARPNESS_MORE, IDI_TOOL_HIDE_SELECTED, IDI_TOOL_HIDE_DISABLED,
        IDI_QUANTITY_LESS, IDI_QUANTITY_MORE, IDI_TOOL_SHOW, IDI_TOOL_SHOW_SELECTED, IDI_TOOL_SHOW_DISABLED, IDI_HELP}},
      {RT_CURSOR_GROUP,
       {IDC_CURSOR_HAND, IDC_CURSOR_ZOOM_IN, IDC_CURSOR_ZOOM_OUT, IDC_CURSOR_HAND_DRAGGING, IDC_CURSOR_ZOOM_LIMIT,
        IDC_CURSOR_LINK, IDC_CURSOR_SHOW, IDC_CURSOR_HIDE}},
  };
  for (const auto& row : rows)
    for (uint16_t id : row.ids) EXPECT_TRUE(Has(row.type, pe::ResourceKey::Id(id))) << "type " << row.type << " id " << id;
  EXPECT_TRUE(Has(RT_DIALOG, pe::ResourceKey::Name(MAIN_DIALOG_TEMPLATE)));
}

TEST_P(DialogResourceTest, TemplatesHoldTheirControlsUnderTheirCaptions) {
  const struct {
    uint16_t id;
    const char* caption;
    bool resizable;
    std::vector<uint32_t> controls;
  } rows[] = {
      {IDD_OPTIONS, "Glimmark 2 Plug-in Options", false,
       {IDC_OPTIONS_OK, IDC_OPTIONS_CANCEL, IDC_OPTIONS_HELP, IDC_OPTIONS_UPDATE_CHECK, IDC_OPTIONS_UPDATE_DAYS,
        IDC_OPTIONS_DAYS_UNIT, IDC_OPTIONS_PROXY_SERVER, IDC_OPTIONS_SOFTWARE, IDC_OPTIONS_COMPATIBILITY,
        IDC_OPTIONS_SPEED, IDC_OPTIONS_QUALITY, IDC_OPTIONS_BITNESS_NOTE, IDC_OPTIONS_MAKER_LOGO}},
      {IDD_ABOUT, "About Glimmark 2", false,
       {IDC_ABOUT_HELP, IDC_ABOUT_PRODUCT_NAME, IDC_ABOUT_VERSION, IDC_ABOUT_RIGHTS, IDC_ABOUT_DESCRIPTION,
        IDC_ABOUT_MANUAL, IDC_ABOUT_WEB_SITE, IDC_ABOUT_ACCOUNT, IDC_ABOUT_SUPPORT_MAIL, IDC_ABOUT_OPENGL_VERSION,
        IDC_ABOUT_CONFIGURE, IDC_ABOUT_OK, IDC_ABOUT_MAKER_LOGO}},
      {IDD_LIGHT_SOURCE_TABLE, "Light Source Table Entries", true, {1, IDC_TABLE_LIST, IDC_TABLE_HEADER}},
  };
  for (const auto& row : rows) {
    Template t;
    ASSERT_TRUE(ParseTemplate(Get(RT_DIALOG, pe::ResourceKey::Id(row.id)), &t)) << row.id;
    EXPECT_EQ(t.caption, row.caption);
    EXPECT_EQ((t.style & 0x00040000u) != 0, row.resizable) << row.caption;  // WS_THICKFRAME
    for (uint32_t control : row.controls) EXPECT_EQ(t.ids.count(control), 1u) << row.caption << ": " << control;
  }
  Template main;
  ASSERT_TRUE(ParseTemplate(Get(RT_DIALOG, pe::ResourceKey::Name(MAIN_DIALOG_TEMPLATE)), &main));
  for (uint32_t control : {IDC_PROXY, IDC_CONFIGURE, IDC_PRODUCT_LOGO, IDC_HELP_AND_SUPPORT, IDC_MAKER_LOGO})
    EXPECT_EQ(main.ids.count(control), 1u) << control;
}

TEST_P(DialogResourceTest, KeyboardTablesCarryTheKeysTheHelpNames) {
  constexpr uint16_t VIRTKEY = 0x01, SHIFT = 0x04, CONTROL = 0x08;
  const struct {
    uint16_t table;
    Accelerator key;
  } rows[] = {{IDA_MAIN_DIALOG, {VIRTKEY | CONTROL | SHIFT, 'L', ID_LIGHT_SOURCE_TABLE}},
              {IDA_MAIN_DIALOG, {VIRTKEY, 0x79 /* F10 */, ID_OPTIONS}},
              {IDA_ABOUT, {0, '?', ID_ABOUT_HELP}},
              {IDA_ABOUT, {VIRTKEY, 0x79, IDC_ABOUT_CONFIGURE}},
              {IDA_OPTIONS, {0, '?', ID_OPTIONS_HELP}}};
  for (const auto& row : rows) {
    bool found = false;
    for (const Accelerator& a : ParseAccelerators(Get(RT_ACCELERATOR, pe::ResourceKey::Id(row.table))))
      found = found || (a.flags == row.key.flags && a.key == row.key.key && a.command == row.key.command);
    EXPECT_TRUE(found) << "table " << row.table << " command " << row.key.command;
  }
}

INSTANTIATE_TEST_SUITE_P(Module, DialogResourceTest, testing::Values(32, 64),
                         [](const testing::TestParamInfo<int>& info) { return "Win" + std::to_string(info.param); });

}  // namespace
