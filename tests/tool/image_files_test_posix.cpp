// The image writer on a real full disk (a tiny tmpfs in a mount namespace of
// a child process, where the system allows it), and a temporary that a live
// process owns.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hostkit/file_platform.h"
#include "hostkit/image.h"

namespace {

constexpr int kCannotMount = 77;

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
  }
  return bytes;
}

// In the child: the checks, each failure one line on `out`; the exit
// status is the number of failures.
int FillTheDisk(const std::string& folder, std::FILE* out) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") != 0)
    return kCannotMount;
  int failures = 0;
  auto check = [&](bool ok, const std::string& what) {
    if (!ok) {
      std::fprintf(out, "%s\n", what.c_str());
      ++failures;
    }
  };
  hostkit::HostImage small, large;
  small.Allocate(4, 4, 3);
  large.Allocate(400, 400, 3);  // 480 KB of noise: more than the disk holds
  uint32_t state = 1;
  for (uint8_t& b : large.pixels) b = static_cast<uint8_t>((state = state * 1664525u + 1013904223u) >> 24);
  for (const char* name : {"/out.png", "/out.tif"}) {
    const std::string target = folder + name;
    std::string error;
    check(hostkit::WriteImageFile(target, small, &error), std::string("small write: ") + error);
    const std::vector<uint8_t> before = ReadBytes(target);
    check(!hostkit::WriteImageFile(target, large, &error), std::string(name) + ": the large write succeeded");
    check(error.find(hostkit::fileplatform::DiskFullText()) != std::string::npos,
          std::string(name) + ": the cause is missing: " + error);
    check(ReadBytes(target) == before, std::string(name) + ": the old file changed");
    std::vector<std::string> names;
    hostkit::fileplatform::ListFolder(folder, &names);
    for (const std::string& entry : names)
      check(entry.find(".tmp") == std::string::npos, std::string(name) + ": left behind " + entry);
  }
  umount(folder.c_str());
  return failures;
}

TEST(ImageFilesPosix, AFullDiskKeepsTheOldFile) {
  const std::string folder = testing::TempDir() + "image_files_full_disk";
  mkdir(folder.c_str(), 0755);
  std::FILE* report = std::tmpfile();
  ASSERT_NE(report, nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int failures = FillTheDisk(folder, report);
    std::fflush(report);
    _exit(failures);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  rmdir(folder.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kCannotMount) GTEST_SKIP() << "no mount namespace or tmpfs for this user";
  std::rewind(report);
  char line[512];
  while (std::fgets(line, sizeof line, report)) ADD_FAILURE() << line;
  std::fclose(report);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ImageFilesPosix, ATemporaryOfALiveProcessStays) {
  const std::string target = testing::TempDir() + "image_files_live.png";
  const pid_t sleeper = fork();
  ASSERT_GE(sleeper, 0);
  if (sleeper == 0) {
    pause();
    _exit(0);
  }
  const std::string live = target + ".tmp" + std::to_string(sleeper);
  if (std::FILE* f = std::fopen(live.c_str(), "wb")) std::fclose(f);
  hostkit::HostImage small;
  small.Allocate(2, 2, 1);
  std::string error;
  EXPECT_TRUE(hostkit::WriteImageFile(target, small, &error)) << error;
  EXPECT_EQ(access(live.c_str(), F_OK), 0) << "removed while its process runs";

  // Once that process has ended, the next write clears its temporary.
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  EXPECT_TRUE(hostkit::WriteImageFile(target, small, &error)) << error;
  EXPECT_NE(access(live.c_str(), F_OK), 0) << "kept after its process ended";
  std::remove(live.c_str());
  std::remove(target.c_str());
}

// Opening a named pipe for reading waits for a writer: images, masks and
// profiles are read from regular files only, at once.
TEST(ImageFilesPosix, NamedPipesAreRefusedWithoutWaiting) {
  const std::string path = ::testing::TempDir() + "/glimmark-pipe-" + std::to_string(getpid());
  std::remove(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  hostkit::HostImage image;
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_FALSE(hostkit::ReadImageFile(path, &image, &error));
  EXPECT_NE(error.find("named pipe"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(hostkit::ReadIccFile(path, &bytes, &error));
  EXPECT_NE(error.find("named pipe"), std::string::npos) << error;
  std::remove(path.c_str());
}

}  // namespace
