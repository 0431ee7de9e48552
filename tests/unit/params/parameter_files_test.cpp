// Parameter files: "LastSavedParameters.sss" in the settings folder and the
// preset files, with the version rule, bad files of every kind, and the
// writer that never leaves a damaged file.
#include "params/parameter_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "../test_hooks_support.h"
#include "runtime/user_folders.h"
#include "store_test_support.h"

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

// A file image written independently of the code under test: the set's
// bytes as they are, then zeros up to `size`.
Bytes Image(const ParameterSet& set, size_t size = 255) {
  Bytes bytes(size, 0);
  if (size > 0) std::memcpy(bytes.data(), &set, std::min(size, sizeof set));
  return bytes;
}

ParameterSet WithVersion(int16_t major, int16_t minor, int16_t revision, int16_t build) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.versionMajor = major;
  set.versionMinor = minor;
  set.versionRevision = revision;
  set.versionBuild = build;
  return set;
}

ParameterSet Edited() {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.angle = -45;
  set.numberOfPoints = 8;
  set.quantity = 90;
  set.carriedValue = 12345;
  return set;
}

class ParameterFiles : public storetest::QuietLogTest {
 protected:
  void SetUp() override {
    QuietLogTest::SetUp();
#if !defined(_WIN32)
    setenv("XDG_DATA_HOME", (folder_ / "data").string().c_str(), 1);
#endif
    ResetUserDataFoldersForTesting();
    OpenQuietLog();
    ASSERT_TRUE(InitializeUserDataFolders());
    // Each test has names of its own: parallel runs share one Wine prefix.
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    settingsName_ = "files-test-" + test + ".sss";
    presets_ = folder_ / "presets";
    fs::create_directories(presets_);
  }

  void TearDown() override {
    testhooks::Hooks().stopParameterFileWriteBeforeReplace = false;
    std::error_code ignored;
    fs::remove(SettingsPath(), ignored);
    ResetUserDataFoldersForTesting();
    QuietLogTest::TearDown();
  }

  fs::path SettingsPath() const {
    char folder[USER_FOLDER_PATH_CHARS] = {0};
    if (!IsFileSystemInitialized() || !GetUserDataFolder(folder, sizeof folder)) return fs::path();
    return fs::path(folder) / settingsName_;
  }

  static void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  static Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // Files in the preset folder other than the named ones (temporaries).
  size_t StrayFiles(const std::vector<std::string>& expected) const {
    size_t stray = 0;
    for (const auto& entry : fs::directory_iterator(presets_)) {
      const std::string name = entry.path().filename().string();
      if (std::find(expected.begin(), expected.end(), name) == expected.end()) ++stray;
    }
    return stray;
  }

  // Every reader agrees on whether `bytes` are a usable file of `expected`;
  // only imported files escape deletion.
  void CheckFile(const Bytes& bytes, bool usable, const ParameterSet& expected) {
    WriteBytes(SettingsPath(), bytes);
    ParameterSet set = FACTORY_PARAMETER_SET;
    EXPECT_EQ(LoadLastSavedParameters(&set, settingsName_.c_str()), usable);
    EXPECT_EQ(std::memcmp(&set, &expected, sizeof set) == 0, usable);

    const fs::path preset = presets_ / "sized.sss";
    WriteBytes(preset, bytes);
    set = FACTORY_PARAMETER_SET;
    EXPECT_EQ(ReadParameterFile(preset.string().c_str(), &set), usable ? PARAMETER_FILE_USABLE : PARAMETER_FILE_INVALID);
    EXPECT_EQ(ImportPresetFile(preset.string().c_str(), &set), usable);
    EXPECT_TRUE(fs::exists(preset)) << "an imported file is never deleted";
    // The same bytes in memory get the same verdict.
    ParameterSet fromMemory = FACTORY_PARAMETER_SET;
    EXPECT_EQ(ReadParameterFileBytes("sized.sss", bytes.data(), bytes.size(), &fromMemory),
              usable ? PARAMETER_FILE_USABLE : PARAMETER_FILE_INVALID);
    if (usable) {
      EXPECT_EQ(std::memcmp(&fromMemory, &expected, sizeof fromMemory), 0);
    }
    const std::string log = TakeLog();
    EXPECT_EQ(Contains(log, "User Message: 'Invalid Parameter Set'"), !usable) << log;
  }

  std::string settingsName_;
  fs::path presets_;
};

TEST_F(ParameterFiles, FirstRunFindsNothingThenSavedSettingsComeBack) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.intensity = 1;
  EXPECT_FALSE(LoadLastSavedParameters(&set, settingsName_.c_str()));
  EXPECT_EQ(set.intensity, 1) << "nothing loaded, nothing changed";
  EXPECT_TRUE(Contains(TakeLog(), "does not yet exist")) << "a first run is only traced";

  ParameterSet edited = Edited();
  edited.versionBuild = 3;  // a stale stamp is replaced by the current one
  ASSERT_TRUE(SaveLastSavedParameters(&edited, settingsName_.c_str()));
  const Bytes stored = ReadBytes(SettingsPath());
  ParameterSet expected = Edited();
  EXPECT_EQ(stored, Image(expected)) << "255 bytes: the stamped set, then zeros";

  ASSERT_TRUE(LoadLastSavedParameters(&set, settingsName_.c_str()));
  EXPECT_EQ(0, std::memcmp(&set, &expected, sizeof set));
  EXPECT_FALSE(Contains(TakeLog(), "Debug Message"));
}

TEST_F(ParameterFiles, OnlyTheCurrentVersionIsUsedWhateverTheOtherFieldsHold) {
  ParameterSet odd = WithVersion(0, 0, 0, 5);
  odd.intensity = 32000;  // out of every range: ranges are the dialog's business
  odd.padding1[0] = 9;
  WriteBytes(SettingsPath(), Image(odd));
  ParameterSet set = FACTORY_PARAMETER_SET;
  ASSERT_TRUE(LoadLastSavedParameters(&set, settingsName_.c_str()));
  EXPECT_EQ(0, std::memcmp(&set, &odd, sizeof set));

  for (const ParameterSet& other : {WithVersion(0, 0, 0, 4), WithVersion(0, 0, 1, 5), WithVersion(1, 0, 0, 5),
                                    WithVersion(0, 0, 0, 6), WithVersion(-1, -1, -1, -1)}) {
    WriteBytes(SettingsPath(), Image(other));
    set = FACTORY_PARAMETER_SET;
    set.length = 77;
    EXPECT_FALSE(LoadLastSavedParameters(&set, settingsName_.c_str()));
    EXPECT_EQ(set.length, 77);
    const std::string log = TakeLog();
    EXPECT_TRUE(Contains(log, "No parameter file conversion could be done")) << log;
    char stored[128];
    std::snprintf(stored, sizeof stored, "Stored version = %d.%d.%d.%d, current version = 0.0.0.5", other.versionMajor,
                  other.versionMinor, other.versionRevision, other.versionBuild);
    EXPECT_TRUE(Contains(log, stored)) << log;
  }
}

// Sizes from 40 (the set alone) to 255 (as written) are whole sets; anything
// else cannot be one of ours, whatever its first bytes say. Nor can a file
// with anything but zeros after the set.
TEST_F(ParameterFiles, TruncatedEmptyAndOversizedFilesAreRefused) {
  const ParameterSet current = Edited();
  const struct {
    size_t size;
    bool usable;
  } cases[] = {{0, false}, {1, false}, {8, false}, {39, false}, {40, true}, {200, true}, {255, true},
               {256, false}, {4096, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE("a file of " + std::to_string(c.size) + " bytes");
    CheckFile(Image(current, c.size), c.usable, current);
  }
  Bytes junk = Image(current);
  junk[254] = 1;
  CheckFile(junk, false, current);
  ParameterSet set = FACTORY_PARAMETER_SET;
  EXPECT_EQ(ReadParameterFileBytes("no bytes", nullptr, 40, &set), PARAMETER_FILE_INVALID);
  EXPECT_EQ(std::memcmp(&set, &FACTORY_PARAMETER_SET, sizeof set), 0);
}

TEST_F(ParameterFiles, BadPresetsInTheParametersFolderAreReportedAndDeleted) {
  const fs::path good = presets_ / "Good.sss";
  const fs::path old = presets_ / "Old.sss";
  const fs::path foreign = presets_ / "Foreign.sss";
  const fs::path empty = presets_ / "Empty.sss";
  WriteBytes(good, Image(Edited()));
  WriteBytes(old, Image(WithVersion(0, 0, 0, 4)));
  const std::string text = "A text file that happens to end in .sss, written by some other program.\n";
  WriteBytes(foreign, Bytes(text.begin(), text.end()));
  WriteBytes(empty, Bytes());

  ParameterSet set = FACTORY_PARAMETER_SET;
  ASSERT_TRUE(LoadPresetFile(good.string().c_str(), &set));
  const ParameterSet edited = Edited();
  EXPECT_EQ(0, std::memcmp(&set, &edited, sizeof set));
  EXPECT_TRUE(fs::exists(good));

  set = FACTORY_PARAMETER_SET;
  EXPECT_FALSE(LoadPresetFile(old.string().c_str(), &set));
  std::string log = TakeLog();
  EXPECT_TRUE(Contains(log, "User Message: 'Parameter Set Conversion'")) << log;
  EXPECT_TRUE(Contains(log, "Build = '4')was saved in an obsolete format")) << log;
  EXPECT_FALSE(fs::exists(old));

  for (const fs::path& bad : {foreign, empty}) {
    EXPECT_FALSE(LoadPresetFile(bad.string().c_str(), &set));
    log = TakeLog();
    EXPECT_TRUE(Contains(log, "User Message: 'Invalid Parameter Set'")) << log;
    EXPECT_TRUE(Contains(log, "The file is being deleted.")) << log;
    EXPECT_FALSE(fs::exists(bad));
  }
  EXPECT_EQ(0, std::memcmp(&set, &FACTORY_PARAMETER_SET, sizeof set)) << "failed loads change nothing";

  // A file that is not there is reported, and nothing else happens.
  EXPECT_FALSE(LoadPresetFile((presets_ / "Missing.sss").string().c_str(), &set));
  EXPECT_TRUE(Contains(TakeLog(), "_tfopen() failed with FilePath"));
}

TEST_F(ParameterFiles, ImportedFilesOfOtherVersionsAreReportedButKept) {
  const fs::path old = presets_ / "FromAFriend.sss";
  WriteBytes(old, Image(WithVersion(0, 0, 1, 5)));
  ParameterSet set = FACTORY_PARAMETER_SET;
  EXPECT_FALSE(ImportPresetFile(old.string().c_str(), &set));
  const std::string log = TakeLog();
  EXPECT_TRUE(Contains(log, "Your current settings have not been changed.")) << log;
  EXPECT_TRUE(fs::exists(old));
  EXPECT_EQ(0, std::memcmp(&set, &FACTORY_PARAMETER_SET, sizeof set));
}

TEST_F(ParameterFiles, SavingReplacesWholeFilesAndAnInterruptedSaveKeepsTheOldOne) {
  const fs::path path = presets_ / "Mine.sss";
  ParameterSet first = Edited();
  ASSERT_TRUE(SaveParametersFile(path.string().c_str(), &first));
  EXPECT_EQ(ReadBytes(path), Image(first));
  EXPECT_EQ(StrayFiles({"Mine.sss"}), 0u) << "no temporary file stays behind";

  // The process dies after the new bytes are on disk but before they
  // replace the file: the old file is still whole.
  ParameterSet second = FACTORY_PARAMETER_SET;
  second.length = 5;
  testhooks::Hooks().stopParameterFileWriteBeforeReplace = true;
  EXPECT_FALSE(SaveParametersFile(path.string().c_str(), &second));
  testhooks::Hooks().stopParameterFileWriteBeforeReplace = false;
  EXPECT_EQ(ReadBytes(path), Image(first));
  ParameterSet set;
  EXPECT_EQ(ReadParameterFile(path.string().c_str(), &set), PARAMETER_FILE_USABLE);
  EXPECT_EQ(set.length, first.length);

  // The next save goes through over the left-over temporary.
  ASSERT_TRUE(SaveParametersFile(path.string().c_str(), &second));
  EXPECT_EQ(ReadBytes(path), Image(second));
  EXPECT_EQ(StrayFiles({"Mine.sss"}), 0u);

  // A folder that does not exist: a report, no file anywhere.
  const fs::path nowhere = presets_ / "no-such-folder" / "x.sss";
  EXPECT_FALSE(SaveParametersFile(nowhere.string().c_str(), &second));
  EXPECT_FALSE(fs::exists(nowhere.parent_path()));
  EXPECT_TRUE(Contains(TakeLog(), "SaveParametersFile() failed"));

  // A folder standing where the file should go is left alone.
  const fs::path occupied = presets_ / "Occupied.sss";
  fs::create_directories(occupied / "inside");
  EXPECT_FALSE(SaveParametersFile(occupied.string().c_str(), &second));
  EXPECT_TRUE(fs::is_directory(occupied / "inside"));
  EXPECT_EQ(StrayFiles({"Mine.sss", "Occupied.sss"}), 0u);
}

TEST_F(ParameterFiles, NothingIsReadOrWrittenWithoutTheUserFolders) {
  const fs::path path = presets_ / "Unreached.sss";
  WriteBytes(path, Image(Edited()));
  ResetUserDataFoldersForTesting();
  ParameterSet set = FACTORY_PARAMETER_SET;
  EXPECT_FALSE(LoadPresetFile(path.string().c_str(), &set));
  EXPECT_FALSE(ImportPresetFile(path.string().c_str(), &set));
  EXPECT_FALSE(SaveParametersFile((presets_ / "New.sss").string().c_str(), &set));
  EXPECT_FALSE(SaveLastSavedParameters(&set, settingsName_.c_str()));
  EXPECT_FALSE(LoadLastSavedParameters(&set, settingsName_.c_str()));
  EXPECT_TRUE(fs::exists(path)) << "not even a bad-file deletion";
  EXPECT_FALSE(fs::exists(presets_ / "New.sss"));
  EXPECT_EQ(0, std::memcmp(&set, &FACTORY_PARAMETER_SET, sizeof set));
}

#if !defined(_WIN32)
// Runs `read` on a thread of its own; false when it still waits after five
// seconds, as a read that opened a named pipe without a writer does. The
// waiting reader is then released by a writer that comes and goes.
bool FinishesPromptly(const fs::path& pipe, const std::function<void()>& read) {
  std::future<void> done = std::async(std::launch::async, read);
  if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
  const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
  if (writer >= 0) close(writer);
  done.wait();
  return false;
}

TEST_F(ParameterFiles, PipesAndFoldersInPlaceOfFilesAreRefusedWithoutWaitingAndKept) {
  const fs::path pipe = presets_ / "Pipe.sss";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const fs::path folder = presets_ / "Folder.sss";
  fs::create_directories(folder);
  for (const fs::path& odd : {pipe, folder}) {
    ParameterSet set = FACTORY_PARAMETER_SET;
    EXPECT_TRUE(FinishesPromptly(pipe, [&] {
      EXPECT_EQ(ReadParameterFile(odd.c_str(), &set), PARAMETER_FILE_NOT_REGULAR);
      EXPECT_FALSE(LoadPresetFile(odd.c_str(), &set));
      EXPECT_FALSE(ImportPresetFile(odd.c_str(), &set));
    })) << odd;
    EXPECT_EQ(0, std::memcmp(&set, &FACTORY_PARAMETER_SET, sizeof set));
    EXPECT_TRUE(fs::exists(odd)) << "a preset reader deletes only files";
    const std::string log = TakeLog();
    EXPECT_TRUE(Contains(log, std::string(odd == pipe ? "is a named pipe" : "is a folder") + ", not a regular file"))
        << log;
    // Both preset readers tell the user; neither says it deletes anything.
    size_t told = 0;
    for (size_t at = log.find("(it is not even a regular file)"); at != std::string::npos;
         at = log.find("(it is not even a regular file)", at + 1))
      ++told;
    EXPECT_EQ(told, 2u) << log;
    EXPECT_FALSE(Contains(log, "deleted")) << log;
  }

  // In place of the last saved settings: the run goes on without them, and
  // the next save puts a file where the pipe was.
  ASSERT_EQ(mkfifo(SettingsPath().c_str(), 0600), 0);
  ParameterSet set = FACTORY_PARAMETER_SET;
  EXPECT_TRUE(
      FinishesPromptly(SettingsPath(), [&] { EXPECT_FALSE(LoadLastSavedParameters(&set, settingsName_.c_str())); }));
  EXPECT_TRUE(Contains(TakeLog(), "is a named pipe, not a regular file; it is not read."));
  const ParameterSet edited = Edited();
  ASSERT_TRUE(SaveLastSavedParameters(&edited, settingsName_.c_str()));
  EXPECT_EQ(ReadBytes(SettingsPath()), Image(edited));
}
#endif

}  // namespace
