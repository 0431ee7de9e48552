#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "console.h"

namespace glimmark {

namespace {

std::atomic<bool> g_interrupted{false};

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

void SetStopAction(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (int stop : kStopSignals) sigaction(stop, &action, nullptr);
}

extern "C" void OnInterrupt(int) {
  g_interrupted.store(true);
  // The next Ctrl+C or SIGTERM is not ours to soften: the default action
  // ends the tool. (sigaction may be called from a handler.)
  SetStopAction(SIG_DFL);
}

bool Absolute(const char* path) { return path != nullptr && path[0] == '/'; }

}  // namespace

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void InstallInterruptHandler() { SetStopAction(&OnInterrupt); }

bool InterruptRequested() { return g_interrupted.load(); }

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

void UnsetEnvironmentValue(const std::string& name) { unsetenv(name.c_str()); }

std::string CreateTemporaryFile() {
  const char* folder = getenv("TMPDIR");
  std::string pattern = std::string(Absolute(folder) ? folder : "/tmp") + "/glimmark-phases-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int file = mkstemp(name.data());
  if (file < 0) return std::string();
  close(file);
  return std::string(name.data());
}

std::string ConfigFolder() {
  // Relative values are invalid by the XDG rules and are passed over.
  const char* config = getenv("XDG_CONFIG_HOME");
  if (Absolute(config)) return std::string(config) + "/glimmark";
  const char* home = getenv("HOME");
  if (Absolute(home)) return std::string(home) + "/.config/glimmark";
  return std::string();
}

char FolderSeparator() { return '/'; }

bool ResidentMemory(uint64_t* now, uint64_t* peak) {
  *now = *peak = 0;
  std::FILE* file = std::fopen("/proc/self/status", "r");
  if (file == nullptr) return false;
  char line[256];
  bool found = false;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    unsigned long long kilobytes = 0;
    if (std::sscanf(line, "VmRSS: %llu kB", &kilobytes) == 1) {
      *now = kilobytes * 1024;
      found = true;
    } else if (std::sscanf(line, "VmHWM: %llu kB", &kilobytes) == 1) {
      *peak = kilobytes * 1024;
    }
  }
  std::fclose(file);
  return found && *peak != 0;
}

bool ResetResidentPeak() {
  std::FILE* file = std::fopen("/proc/self/clear_refs", "w");
  if (file == nullptr) return false;
  const bool written = std::fputs("5", file) >= 0;
  return std::fclose(file) == 0 && written;
}

}  // namespace glimmark
