// The command line's own pieces, without a module: settings options and the
// descriptor they make, the host state file, the phase times file and the
// host's split of a run.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "hostkit/host_state.h"
#include "messages.h"
#include "progress.h"
#include "settings.h"
#include "timings.h"

namespace {

using hostkit::DescriptorItem;
using hostkit::DescriptorItems;

const glimmark::SettingOption& Option(const char* name) {
  const glimmark::SettingOption* option = glimmark::FindSettingOption(name);
  EXPECT_NE(option, nullptr) << name;
  return *option;
}

TEST(SettingOptions, NumbersAreTakenWholeAndOnlyWhole) {
  double value = -1;
  EXPECT_TRUE(glimmark::ParseSettingValue(Option("--quantity"), "12.5", &value));
  EXPECT_EQ(value, 12.5);
  // Out of range is the module's business, not the parser's.
  EXPECT_TRUE(glimmark::ParseSettingValue(Option("--intensity"), "-300", &value));
  EXPECT_EQ(value, -300);
  EXPECT_TRUE(glimmark::ParseSettingValue(Option("--points"), "6", &value));
  EXPECT_EQ(value, 6);
  for (const char* bad : {"", "abc", "12x", " 5", "nan", "inf", "1e999"})
    EXPECT_FALSE(glimmark::ParseSettingValue(Option("--length"), bad, &value)) << bad;
  for (const char* bad : {"6.5", "six", "99999999999", "1e3"})
    EXPECT_FALSE(glimmark::ParseSettingValue(Option("--points"), bad, &value)) << bad;
  EXPECT_EQ(glimmark::FindSettingOption("--dialog"), nullptr);
}

TEST(SettingOptions, OnlyWhatTheSixteenBitFieldHoldsIsTakenAndTheRefusalNamesTheRange) {
  // The dialog's ranges as the help pages give them.
  struct Row {
    const char* name;
    const char* dialog;
  };
  for (const Row& option : {Row{"--intensity", "0..100"}, Row{"--points", "2..8"}, Row{"--saturation", "-100..100"}}) {
    double value = 0;
    for (const char* bad : {"-32769", "32768", "65536", "99999999999999999999", "-99999999999999999999", "abc"}) {
      EXPECT_FALSE(glimmark::ParseSettingValue(Option(option.name), bad, &value)) << option.name << " " << bad;
      const std::string refusal = glimmark::SettingValueRefusal(Option(option.name), bad);
      EXPECT_NE(refusal.find(std::string(option.name) + " takes "), std::string::npos) << refusal;
      EXPECT_NE(refusal.find(" from -32768 to 32767 (the dialog offers " + std::string(option.dialog) + "), not '" +
                             bad + "'"),
                std::string::npos)
          << refusal;
    }
    for (double edge : {-32768.0, 32767.0}) {
      EXPECT_TRUE(glimmark::ParseSettingValue(Option(option.name), std::to_string(static_cast<int>(edge)), &value));
      EXPECT_EQ(value, edge);
    }
  }
  // Percentages keep their whole part, as the module stores them.
  double value = 0;
  EXPECT_TRUE(glimmark::ParseSettingValue(Option("--length"), "32767.9", &value));
  EXPECT_TRUE(glimmark::ParseSettingValue(Option("--length"), "-32768.9", &value));
  EXPECT_FALSE(glimmark::ParseSettingValue(Option("--length"), "32768", &value));
  EXPECT_FALSE(glimmark::ParseSettingValue(Option("--length"), "-32769", &value));
}

TEST(SettingOptions, AWarningSaysWhatIsDrawnWhenItDiffersFromTheValueGiven) {
  struct Case {
    const char* option;
    double value;
    const char* note;  // empty: drawn as given
  };
  const Case cases[] = {
      {"--intensity", 150, "--intensity 150 is drawn as 100; the filter keeps 150 but draws Intensity within 0..100"},
      {"--saturation", -300,
       "--saturation -300 is drawn as -100; the filter keeps -300 but draws Color Saturation "
       "within -100..100"},
      {"--points", 0, "--points 0 is drawn as 1; the filter keeps 0 but draws Number of Points within 1..360"},
      {"--quantity", 12.5, "--quantity 12.5 is drawn as 12; the filter keeps whole numbers"},
      {"--points", 12, ""},  // beyond the dialog's 2..8, still drawn
      {"--angle", 400, ""},  // angles turn
      {"--flare", 100, ""},
      {"--length", -0.5, "--length -0.5 is drawn as 0; the filter keeps whole numbers"},
  };
  for (const Case& c : cases) EXPECT_EQ(glimmark::SettingDrawnNote(Option(c.option), c.value), c.note);
}

TEST(Messages, EveryStatusTheModuleReturnsHasPlainWords) {
  const std::pair<int16_t, const char*> known[] = {
      {-20, "the rendering failed"}, {-50, "could not be used"},
      {-108, "not enough memory"},   {-128, "cancelled"},
      {-148, "not enough memory"},   {-1715, "the filter has reported"},
      {-30100, "bad parameters"},    {-30101, "mode"},
      {-30900, "lacks a service"},
  };
  for (const auto& [status, words] : known) {
    const std::string text = glimmark::StatusWords(status);
    EXPECT_NE(text.find(words), std::string::npos) << text;
    EXPECT_EQ(text.find("unknown"), std::string::npos) << text;
    EXPECT_NE(text.find("(status " + std::to_string(status) + ")"), std::string::npos) << text;
  }
  EXPECT_EQ(glimmark::StatusWords(-4242), "an unknown error (status -4242)");
  // A cause is never empty.
  EXPECT_EQ(glimmark::CauseText("unknown image type", ENOENT), "unknown image type");
  EXPECT_EQ(glimmark::CauseText("", ENOENT), std::strerror(ENOENT));
  EXPECT_EQ(glimmark::CauseText(" \n", 0), "unknown error");
}

TEST(SettingsDescriptor, HoldsTheEightKeysInWritingOrderWithTheirTypes) {
  const DescriptorItems items = glimmark::BuildSettingsDescriptor({}, nullptr);
  const char* keys[] = {"qntY", "Intn", "Lngt", "Angl", "numP", "spsH", "Strt", "sflB"};
  ASSERT_EQ(items.size(), 8u);
  for (size_t i = 0; i < 8; ++i) EXPECT_EQ(glimmark::KeyText(items[i].key), keys[i]);
  EXPECT_EQ(items[4].type, typeInteger);
  EXPECT_EQ(items[3].type, typeUnitFloat);
  EXPECT_EQ(items[3].unit, unitAngle);
  EXPECT_EQ(items[0].unit, unitPercent);
  // Factory values of the module's parameter set.
  EXPECT_EQ(glimmark::DescriptorLines(items),
            "qntY 50\nIntn 50\nLngt 50\nAngl 15\nnumP 6\nspsH 50\nStrt 30\nsflB 30\n");
}

TEST(SettingOptions, HelpNamesTheDialogsRangeAndWhatIsDrawnWhereTheyDiffer) {
  const std::string help = glimmark::SettingsHelp();
  for (const char* line : {"--quantity P    Quantity (qntY): percent, 0..100, factory 50\n",
                           "--angle DEG     Angle (Angl): degrees, -90..90, factory 15; drawn: any\n",
                           "--points N      Number of Points (numP): count, 2..8, factory 6; drawn: 1..360\n",
                           "--saturation P  Color Saturation (Strt): percent, -100..100, factory 30\n"})
    EXPECT_NE(help.find(line), std::string::npos) << line << "in\n" << help;
}

TEST(SettingsDescriptor, GivenBeatsRestoredBeatsFactory) {
  DescriptorItems restored = {
      DescriptorItem::UnitFloat(FourCC("Intn"), unitPercent, 80),
      DescriptorItem::Integer(FourCC("numP"), 9),
      DescriptorItem::Float(FourCC("Lngt"), 12.25),                 // plain float, still a number
      DescriptorItem::Boolean(FourCC("spsH"), true),                // not a number: factory
      DescriptorItem::UnitFloat(FourCC("zzzz"), unitPercent, 1),   // foreign key: dropped
  };
  const DescriptorItems items =
      glimmark::BuildSettingsDescriptor({{FourCC("numP"), 3}, {FourCC("Angl"), 400}}, &restored);
  EXPECT_EQ(glimmark::DescriptorLines(items),
            "qntY 50\nIntn 80\nLngt 12.25\nAngl 400\nnumP 3\nspsH 50\nStrt 30\nsflB 30\n");
}

TEST(DescriptorText, OddKeysAndValuesStayReadable) {
  const DescriptorItems items = {DescriptorItem::Integer(0x00000001, -7), DescriptorItem::Float(FourCC("abcd"), 0.1),
                                 DescriptorItem::Boolean(FourCC("flag"), false)};
  EXPECT_EQ(glimmark::DescriptorLines(items), "0x00000001 -7\nabcd 0.1\nflag false\n");
}

hostkit::HostState SampleState() {
  hostkit::HostState state;
  state.hasLastDescriptor = true;
  state.lastDescriptor = glimmark::BuildSettingsDescriptor({{FourCC("numP"), 5}}, nullptr);
  state.registry.push_back({"93de9c7d-entry", {DescriptorItem::RawData(FourCC("data"), {1, 2, 3, 4, 5})}});
  state.registry.push_back({"second", {DescriptorItem::Integer(FourCC("vers"), 2)}});
  return state;
}

TEST(HostStateFile, RoundTripsEverything) {
  const hostkit::HostState state = SampleState();
  hostkit::HostState read;
  std::string why;
  ASSERT_TRUE(hostkit::DecodeHostState(hostkit::EncodeHostState(state), &read, &why)) << why;
  EXPECT_TRUE(read.hasLastDescriptor);
  EXPECT_EQ(read.lastDescriptor, state.lastDescriptor);
  ASSERT_EQ(read.registry.size(), 2u);
  EXPECT_EQ(read.registry[0].key, "93de9c7d-entry");
  EXPECT_EQ(read.registry[0].items, state.registry[0].items);
  EXPECT_EQ(read.registry[1].items, state.registry[1].items);
}

TEST(HostStateFile, EveryTruncationAndEveryFlippedByteIsRefused) {
  const std::vector<uint8_t> bytes = hostkit::EncodeHostState(SampleState());
  hostkit::HostState untouched;
  untouched.registry.push_back({"kept", {}});
  for (size_t length = 0; length < bytes.size(); ++length) {
    hostkit::HostState read = untouched;
    std::string why;
    EXPECT_FALSE(hostkit::DecodeHostState(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length), &read, &why))
        << length;
    EXPECT_FALSE(why.empty());
    ASSERT_EQ(read.registry.size(), 1u);  // a refused file changes nothing
  }
  for (size_t at = 0; at < bytes.size(); ++at) {
    std::vector<uint8_t> damaged = bytes;
    damaged[at] ^= 0x40;
    hostkit::HostState read;
    EXPECT_FALSE(hostkit::DecodeHostState(damaged, &read, nullptr)) << at;
  }
  std::vector<uint8_t> longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(hostkit::DecodeHostState(longer, &untouched, nullptr));
}

TEST(HostStateFile, SavedAtomicallyAndLoadedBack) {
  const std::string folder = ::testing::TempDir() + "glimmark-state-" + std::to_string(std::rand());
  const std::string path = folder + "/nested/host-state.bin";
  hostkit::HostState read;
  std::string why;
  EXPECT_EQ(hostkit::LoadHostState(path, &read, &why), hostkit::StateLoad::kMissing);
  ASSERT_TRUE(hostkit::SaveHostState(path, SampleState(), &why)) << why;
  ASSERT_EQ(hostkit::LoadHostState(path, &read, &why), hostkit::StateLoad::kLoaded) << why;
  EXPECT_EQ(read.registry.size(), 2u);
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("[settings]\nquantity=50\n", file);
  std::fclose(file);
  EXPECT_EQ(hostkit::LoadHostState(path, &read, &why), hostkit::StateLoad::kUnusable);
  EXPECT_NE(why.find("not a glimmark host state file"), std::string::npos);
  std::remove(path.c_str());
}

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(ReplacedFiles, WholeOrNotAtAllAndOnlyOverRegularFiles) {
  const fs::path folder = fs::path(::testing::TempDir()) / ("glimmark-replace-" + std::to_string(std::rand()));
  fs::create_directories(folder / "taken.txt");
  std::string why;
  const std::string text = "# glimmark descriptor\nqntY 50\n";
  ASSERT_TRUE(hostkit::ReplaceFileContents((folder / "new.txt").string(), text.data(), text.size(), &why)) << why;
  EXPECT_EQ(Contents(folder / "new.txt"), text);
  ASSERT_TRUE(hostkit::ReplaceFileContents((folder / "new.txt").string(), "x", 1, &why)) << why;
  EXPECT_EQ(Contents(folder / "new.txt"), "x");
  // A folder in the way is refused, and so is one that is missing.
  EXPECT_FALSE(hostkit::ReplaceFileContents((folder / "taken.txt").string(), "x", 1, &why));
  EXPECT_EQ(why, "it is a folder, not a file");
  EXPECT_EQ(hostkit::ReplaceabilityProblem((folder / "taken.txt").string()), why);
  EXPECT_FALSE(hostkit::ReplaceFileContents((folder / "missing" / "x.txt").string(), "x", 1, &why));
  EXPECT_NE(why.find("cannot create"), std::string::npos) << why;
  EXPECT_EQ(fs::remove_all(folder / "taken.txt"), 1u);
  size_t left = 0;
  for (const auto& entry : fs::directory_iterator(folder)) left += entry.path().filename() != "new.txt";
  EXPECT_EQ(left, 0u) << "temporaries left behind";
  fs::remove_all(folder);
}

#if !defined(_WIN32)
// Runs `work` on a thread of its own; false when it still waits after five
// seconds, as an open of a named pipe without a writer does (a writer that
// comes and goes then releases it).
bool FinishesPromptly(const fs::path& pipe, const std::function<void()>& work) {
  std::future<void> done = std::async(std::launch::async, work);
  if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
  const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) close(writer);
  done.wait();
  return false;
}

TEST(ReplacedFiles, NamedPipesAreNeitherReadNorReplacedAndLinksStayLinks) {
  const fs::path folder = fs::path(::testing::TempDir()) / ("glimmark-pipes-" + std::to_string(std::rand()));
  fs::create_directories(folder);
  const fs::path pipe = folder / "host-state.bin";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  EXPECT_TRUE(FinishesPromptly(pipe, [&] {
    hostkit::HostState state;
    std::string why;
    EXPECT_EQ(hostkit::LoadHostState(pipe.string(), &state, &why), hostkit::StateLoad::kUnusable);
    EXPECT_EQ(why, "it is a named pipe, not a regular file");
    EXPECT_FALSE(hostkit::SaveHostState(pipe.string(), SampleState(), &why));
    EXPECT_EQ(why, "it is a named pipe, not a regular file");
  }));
  EXPECT_EQ(fs::status(pipe).type(), fs::file_type::fifo);

  // Through a link the file it names is replaced; the link stays.
  const fs::path file = folder / "real.txt", link = folder / "link.txt";
  std::ofstream(file) << "old";
  fs::create_symlink(file, link);
  std::string why;
  ASSERT_TRUE(hostkit::ReplaceFileContents(link.string(), "new", 3, &why)) << why;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Contents(file), "new");
  fs::remove_all(folder);
}
#endif

TEST(PhaseTimes, WellFormedLinesOnly) {
  const auto phases = glimmark::ParsePhaseTimes(
      "read\t12.5\nanalysis\t3\r\n\nno tab here\nrendering\t-1\nconversion and blend\t7.25\n"
      "write-back\tabc\n\tnameless\t1\nbell\a\t2\nwrite-back\t0.5");
  ASSERT_EQ(phases.size(), 4u);
  EXPECT_EQ(phases[0].name, "read");
  EXPECT_EQ(phases[0].milliseconds, 12.5);
  EXPECT_EQ(phases[1].name, "analysis");
  EXPECT_EQ(phases[2].name, "conversion and blend");
  EXPECT_EQ(phases[3].name, "write-back");
  EXPECT_EQ(phases[3].milliseconds, 0.5);
  EXPECT_TRUE(glimmark::ParsePhaseTimes("").empty());
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "p\t1\n";
  EXPECT_EQ(glimmark::ParsePhaseTimes(many).size(), 64u);
  EXPECT_TRUE(glimmark::ReadPhaseTimes(::testing::TempDir() + "no-such-phase-file").empty());
}

hostkit::AdvanceStateCall Call(std::chrono::steady_clock::time_point base, int startMs, int lengthMs, bool in,
                               bool out) {
  hostkit::AdvanceStateCall call{};
  call.start = base + std::chrono::milliseconds(startMs);
  call.seconds = lengthMs / 1000.0;
  call.deliveredInput = in;
  call.deliveredOutput = out;
  return call;
}

TEST(HostSideSplit, InputThenWorkThenOutput) {
  const auto base = std::chrono::steady_clock::now();
  // Input tiles at 0..10 and 20..30, work until 100, output (with input
  // again, to blend) from 100 to 150, a last empty call ending at 160.
  const std::vector<hostkit::AdvanceStateCall> calls = {
      Call(base, 0, 10, true, false),    Call(base, 20, 10, true, false), Call(base, 100, 20, true, true),
      Call(base, 130, 20, false, true), Call(base, 155, 5, false, false),
  };
  const auto phases = glimmark::HostSideSplit(calls);
  ASSERT_EQ(phases.size(), 3u);
  EXPECT_NEAR(phases[0].milliseconds, 30, 0.01);
  EXPECT_NEAR(phases[1].milliseconds, 70, 0.01);
  EXPECT_NEAR(phases[2].milliseconds, 60, 0.01);
  EXPECT_TRUE(glimmark::HostSideSplit({Call(base, 0, 1, true, false)}).empty());
  EXPECT_TRUE(glimmark::HostSideSplit({Call(base, 0, 1, false, true)}).empty());
  EXPECT_TRUE(glimmark::HostSideSplit({}).empty());
}

TEST(Progress, PercentStaysInRange) {
  EXPECT_EQ(glimmark::ProgressPercent(0, 10), 0);
  EXPECT_EQ(glimmark::ProgressPercent(5, 10), 50);
  EXPECT_EQ(glimmark::ProgressPercent(15, 10), 100);
  EXPECT_EQ(glimmark::ProgressPercent(-3, 10), 0);
  EXPECT_EQ(glimmark::ProgressPercent(2000000000, 2100000000), 95);
  EXPECT_EQ(glimmark::ProgressPercent(1, 0), -1);
}

}  // namespace
