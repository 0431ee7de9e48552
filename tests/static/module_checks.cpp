// Checks of a built Windows module that need no Windows: what the host and
// the loader see before any of our code runs (machine, exports, imports,
// property list, version block, manifest).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options.h"
#include "pe_image.h"
#include "pipl.h"

namespace {

struct Arch {
  int bits;
  uint16_t machine;
  uint16_t magic;
  uint32_t entryKey;
  std::set<std::string> exports;
};

const std::set<std::string> kDecorated = {"_ConfigureOptions@16", "_DisplayLightSourceTableProc@16",
                                          "_InstallConfiguration@16", "_GlimmarkProc@16"};

Arch Arch32() {
  std::set<std::string> names = kDecorated;
  names.insert("PluginMain");
  return Arch{32, pe::kMachineI386, pe::kMagicPe32, pipl::Code("wx86"), names};
}

// The 64-bit module carries the plain names as well as the 32-bit spellings.
Arch Arch64() {
  std::set<std::string> names = kDecorated;
  names.insert({"PluginMain", "ConfigureOptions", "DisplayLightSourceTableProc", "InstallConfiguration",
                "GlimmarkProc"});
  return Arch{64, pe::kMachineAmd64, pe::kMagicPe32Plus, pipl::Code("8664"), names};
}

class ModuleTest : public testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    arch_ = GetParam() == 64 ? Arch64() : Arch32();
    const std::string& path = ModulePath(arch_.bits);
    if (path.empty()) {
      GTEST_SKIP() << "no " << arch_.bits << "-bit module given (--module" << arch_.bits << " PATH)";
    }
    ASSERT_TRUE(image_.LoadFile(path)) << path << ": " << image_.error();
  }

  std::vector<uint8_t> Resource(const pe::ResourceKey& type, const pe::ResourceKey& name, uint16_t language) {
    std::vector<uint8_t> data;
    std::string problem;
    EXPECT_TRUE(image_.FindResource(type, name, language, &data, &problem)) << problem;
    return data;
  }

  Arch arch_;
  pe::Image image_;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST_P(ModuleTest, IsADllForTheRightMachine) {
  EXPECT_EQ(image_.machine(), arch_.machine);
  EXPECT_EQ(image_.optionalMagic(), arch_.magic);
  EXPECT_NE(image_.characteristics() & pe::kFileDll, 0) << "the DLL flag is not set";
}

TEST_P(ModuleTest, ExportsExactlyTheEntryPoints) {
  std::vector<std::string> names;
  std::string problem;
  ASSERT_TRUE(image_.ExportNames(&names, &problem)) << problem;
  const std::set<std::string> actual(names.begin(), names.end());
  EXPECT_EQ(actual.size(), names.size()) << "an export name appears twice";
  EXPECT_EQ(actual, arch_.exports);
}

// A module that needs the MinGW runtime DLLs fails to load on machines that
// lack them; only DLLs every Windows installation has may be imported.
TEST_P(ModuleTest, ImportsOnlySystemDlls) {
  static const std::set<std::string> allowed = {
      "kernel32.dll", "msvcrt.dll",  "user32.dll",   "gdi32.dll",    "comctl32.dll", "ole32.dll",
      "oleaut32.dll", "shell32.dll", "version.dll",  "advapi32.dll", "opengl32.dll", "comdlg32.dll",
      "shlwapi.dll",  "uxtheme.dll", "winmm.dll",    "ucrtbase.dll"};
  std::vector<std::string> names;
  std::string problem;
  ASSERT_TRUE(image_.ImportNames(&names, &problem)) << problem;
  EXPECT_FALSE(names.empty()) << "no imports at all: the import directory was not found";
  for (const std::string& name : names) {
    const std::string lower = Lower(name);
    const bool ok = allowed.count(lower) != 0 || lower.rfind("api-ms-win-crt-", 0) == 0;
    EXPECT_TRUE(ok) << "imports " << name << ", which is not a system DLL";
  }
}

// A view of one property's data with the reads the checks below need.
struct Data {
  const std::vector<uint8_t>& bytes;

  uint32_t U32(size_t at) const {
    if (at + 4 > bytes.size()) return 0xDEADBEEF;
    return uint32_t(bytes[at]) | (uint32_t(bytes[at + 1]) << 8) | (uint32_t(bytes[at + 2]) << 16) |
           (uint32_t(bytes[at + 3]) << 24);
  }
  int U16(size_t at) const { return at + 2 > bytes.size() ? -1 : bytes[at] | (bytes[at + 1] << 8); }
  // A length byte and that many characters.
  std::string Pascal() const {
    if (bytes.empty() || size_t(bytes[0]) + 1 > bytes.size()) return "<bad Pascal string>";
    return std::string(bytes.begin() + 1, bytes.begin() + 1 + bytes[0]);
  }
  // Characters up to a NUL, which must be there.
  std::string CString(size_t at) const {
    for (size_t i = at; i < bytes.size(); ++i) {
      if (bytes[i] == 0) return std::string(bytes.begin() + at, bytes.begin() + i);
    }
    return "<no terminating NUL>";
  }
  // Nothing but NULs after the first `used` bytes.
  bool PaddedWithNuls(size_t used) const {
    return used <= bytes.size() && std::all_of(bytes.begin() + used, bytes.end(), [](uint8_t b) { return b == 0; });
  }
};

TEST_P(ModuleTest, PropertyListReadsBackAsDesigned) {
  const std::vector<uint8_t> bytes = Resource(pe::ResourceKey::Name("PIPL"), pe::ResourceKey::Id(16000), 1033);
  ASSERT_FALSE(bytes.empty()) << "no PiPL 16000 in language 1033";
  EXPECT_EQ(bytes.size(), 382u);

  pipl::List list;
  std::string problem;
  ASSERT_TRUE(pipl::Parse(bytes, &list, &problem)) << problem;
  EXPECT_EQ(list.bytesUsed, bytes.size()) << "bytes left over after the last property";

  const uint32_t expectedKeys[] = {pipl::Code("kind"), pipl::Code("name"), pipl::Code("catg"),
                                   pipl::Code("vers"), arch_.entryKey,     pipl::Code("mode"),
                                   pipl::Code("hstm"), pipl::Code("enbl"), pipl::Code("ms32"),
                                   pipl::Code("flly"), pipl::Code("fici")};
  ASSERT_EQ(list.properties.size(), std::size(expectedKeys));

  for (size_t i = 0; i < list.properties.size(); ++i) {
    const pipl::Property& p = list.properties[i];
    const std::string key = pipl::CodeText(p.key);
    SCOPED_TRACE("property " + std::to_string(i) + " " + key);
    ASSERT_EQ(key, pipl::CodeText(expectedKeys[i]));
    EXPECT_EQ(pipl::CodeText(p.vendor), "'8BIM'");
    EXPECT_EQ(p.id, 0u);
    // Hosts disagree on whether the length includes padding; a padded length
    // reads the same under both readings.
    EXPECT_EQ(p.length % 4, 0u) << "length " << p.length << " is not padded";

    const Data d{p.data};
    if (key == "'kind'") {
      EXPECT_EQ(pipl::CodeText(d.U32(0)), "'8BFM'");
      EXPECT_EQ(p.length, 4u);
    } else if (key == "'name'") {
      EXPECT_EQ(d.Pascal(), "Glimmark 2...");
      EXPECT_TRUE(d.PaddedWithNuls(1 + 13));
    } else if (key == "'catg'") {
      EXPECT_EQ(d.Pascal(), "Brightwerk Software");
      EXPECT_TRUE(d.PaddedWithNuls(1 + 19));
    } else if (key == "'vers'") {
      EXPECT_EQ(d.U32(0), 0x00040000u) << "filter interface 4.0 is (4 << 16) | 0";
    } else if (p.key == arch_.entryKey) {
      EXPECT_EQ(d.CString(0), "PluginMain");
      EXPECT_TRUE(d.PaddedWithNuls(10));
    } else if (key == "'mode'") {
      // RGB is bit 0x10 of the first byte: the set is stored high byte first.
      ASSERT_GE(p.data.size(), 2u);
      EXPECT_EQ(p.data[0], 0x10);
      EXPECT_EQ(p.data[1], 0x00);
    } else if (key == "'hstm'") {
      EXPECT_EQ(d.U32(0), 0u) << "terminology version";
      EXPECT_EQ(pipl::CodeText(d.U32(4)), "'BWD1'") << "class";
      EXPECT_EQ(pipl::CodeText(d.U32(8)), "'BWD1'") << "event";
      EXPECT_EQ(d.U16(12), 16000) << "terminology resource id";
      EXPECT_EQ(d.CString(14), "93de9c7d-1906-4770-a930-6275943844bd");
      EXPECT_TRUE(d.PaddedWithNuls(14 + 36));
    } else if (key == "'enbl'") {
      EXPECT_EQ(d.CString(0), "in (PSHOP_ImageMode, RGBMode, RGB48Mode)");
      EXPECT_TRUE(d.PaddedWithNuls(40));
    } else if (key == "'ms32'") {
      EXPECT_EQ(p.length, 8u);
      EXPECT_EQ(d.U32(0), 32767u) << "rows";
      EXPECT_EQ(d.U32(4), 32767u) << "columns";
    } else if (key == "'flly'") {
      ASSERT_GE(p.data.size(), 1u);
      EXPECT_EQ(p.data[0], 0x80);
      EXPECT_TRUE(d.PaddedWithNuls(1));
    } else if (key == "'fici'") {
      ASSERT_EQ(p.length, 28u);
      for (size_t c = 0; c < 7; ++c) {
        EXPECT_EQ(d.U32(4 * c), 0x000d0101u) << "filter case " << c + 1 << " is not 01 01 0d 00";
      }
    }
  }

  // The property list is found under the type name hosts ask for; without
  // this, the host never shows the filter at all.
  std::vector<uint8_t> again;
  EXPECT_TRUE(image_.FindResource(pe::ResourceKey::Name("PIPL"), pe::ResourceKey::Id(16000), 0xFFFF, &again,
                                  &problem));
}

// A node of the version block: 16-bit total length, value length and type,
// a NUL-terminated UTF-16 key, padding to 4, the value, padding, children.
struct VersionNode {
  std::string key;
  std::vector<uint8_t> value;  // binary value or UTF-16 text
  bool text = false;
  std::vector<VersionNode> children;
};

bool ParseVersionNode(const std::vector<uint8_t>& b, size_t at, size_t end, VersionNode* node, int depth) {
  auto u16 = [&](size_t p) { return p + 2 <= end ? b[p] | (b[p + 1] << 8) : -1; };
  const int length = u16(at), valueLength = u16(at + 2), type = u16(at + 4);
  if (length < 6 || valueLength < 0 || type < 0 || at + size_t(length) > end || depth > 4) return false;
  const size_t nodeEnd = at + length;
  size_t p = at + 6;
  for (;; p += 2) {
    const int unit = p + 2 <= nodeEnd ? b[p] | (b[p + 1] << 8) : -1;
    if (unit < 0) return false;
    if (unit == 0) break;
    node->key.push_back(unit < 0x80 ? char(unit) : '?');
  }
  p = (p + 2 + 3) & ~size_t(3);
  node->text = type == 1;
  const size_t valueBytes = node->text ? size_t(valueLength) * 2 : size_t(valueLength);
  if (p + valueBytes > nodeEnd) return false;
  node->value.assign(b.begin() + p, b.begin() + p + valueBytes);
  p = (p + valueBytes + 3) & ~size_t(3);
  while (p < nodeEnd) {
    VersionNode child;
    if (!ParseVersionNode(b, p, nodeEnd, &child, depth + 1)) return false;
    const size_t childLength = b[p] | (b[p + 1] << 8);
    node->children.push_back(std::move(child));
    p = (p + childLength + 3) & ~size_t(3);
  }
  return true;
}

// The text value at StringFileInfo/<table>/<name> in any string table.
std::string VersionString(const VersionNode& root, const std::string& name) {
  for (const VersionNode& info : root.children) {
    if (info.key != "StringFileInfo") continue;
    for (const VersionNode& table : info.children) {
      for (const VersionNode& entry : table.children) {
        if (entry.key != name) continue;
        std::string text;
        for (size_t i = 0; i + 1 < entry.value.size(); i += 2) {
          const int unit = entry.value[i] | (entry.value[i + 1] << 8);
          if (unit == 0) break;
          text.push_back(unit < 0x80 ? char(unit) : '?');
        }
        return text;
      }
    }
  }
  return "<missing>";
}

TEST_P(ModuleTest, VersionBlockIsConsistent) {
  const std::vector<uint8_t> bytes = Resource(pe::ResourceKey::Id(16), pe::ResourceKey::Id(1), 0xFFFF);
  ASSERT_FALSE(bytes.empty());
  VersionNode root;
  ASSERT_TRUE(ParseVersionNode(bytes, 0, bytes.size(), &root, 0)) << "version block malformed";
  EXPECT_EQ(root.key, "VS_VERSION_INFO");
  ASSERT_EQ(root.value.size(), 52u) << "fixed file information missing";
  const Data fixed{root.value};
  EXPECT_EQ(fixed.U32(0), 0xFEEF04BDu) << "fixed file information signature";
  const uint32_t ms = fixed.U32(8), ls = fixed.U32(12);
  char number[64];
  std::snprintf(number, sizeof number, "%u.%u.%u.%u", ms >> 16, ms & 0xffff, ls >> 16, ls & 0xffff);
  EXPECT_EQ(ms >> 16, 2u) << "the product is version 2";
  // Explorer shows the string, installers compare the numbers: they must agree.
  EXPECT_EQ(VersionString(root, "FileVersion"), number);
  EXPECT_EQ(VersionString(root, "ProductVersion"), number);
  EXPECT_EQ(VersionString(root, "OriginalFilename"), "Glimmark2.8bf");
  EXPECT_EQ(VersionString(root, "ProductName"), "Glimmark 2");
  EXPECT_EQ(VersionString(root, "CompanyName"), "Brightwerk Software");
}

// A DLL's manifest must be resource 2 (id 1 is only read for executables),
// or the dialogs get the old common controls.
TEST_P(ModuleTest, CarriesTheCommonControlsManifest) {
  const std::vector<uint8_t> bytes = Resource(pe::ResourceKey::Id(24), pe::ResourceKey::Id(2), 0xFFFF);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("name=\"Microsoft.Windows.Common-Controls\""), std::string::npos);
  EXPECT_NE(text.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(text.find("publicKeyToken=\"6595b64144ccf1df\""), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Module, ModuleTest, testing::Values(32, 64),
                         [](const testing::TestParamInfo<int>& info) { return "Win" + std::to_string(info.param); });

}  // namespace
