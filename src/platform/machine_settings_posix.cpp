// Machine-wide settings of the native build: the registry key becomes a text
// file of "name=type:value" lines. Writes replace the file whole, as the
// settings files are written, so a reader never sees half a file.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "platform/platform.h"
#include "runtime/test_hooks.h"
#include "runtime/user_folders.h"

struct MachineSettingsKey {
  std::string path;
  bool writable;
  std::map<std::string, std::string> values;  // name -> "dword:N" or "sz:text"
};

namespace {

bool SettingsFolder(std::string* folder) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    *folder = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return false;
    *folder = std::string(home) + "/.config";
  }
  while (folder->size() > 1 && folder->back() == '/') folder->pop_back();
  return true;
}

// Reads the file into the map; a missing file is an empty key.
int LoadValues(MachineSettingsKey* key) {
  std::FILE* file = std::fopen(key->path.c_str(), "rb");
  if (file == nullptr) return errno;
  char line[2048];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    size_t length = std::strcspn(line, "\r\n");
    line[length] = '\0';
    const char* equals = std::strchr(line, '=');
    if (equals == nullptr || equals == line) continue;
    key->values[std::string(line, static_cast<size_t>(equals - line))] = equals + 1;
  }
  int error = std::ferror(file) ? EIO : 0;
  std::fclose(file);
  return error;
}

int SaveValues(const MachineSettingsKey& key) {
  std::string text;
  for (const auto& entry : key.values) text += entry.first + "=" + entry.second + "\n";
  std::string temporary;
  int error = 0;
  const ReplacingWriteStep step = WriteFileReplacing(key.path, text.data(), text.size(), false, &temporary, &error);
  if (step == ReplacingWriteStep::Done) return 0;
  return error != 0 ? error : EIO;
}

}  // namespace

uint32_t PlatformOpenMachineSettings(const char* keyPath, bool forWriting, MachineSettingsKey** key, bool* created) {
  *key = nullptr;
  if (created != nullptr) *created = false;
  std::string folder;
  if (keyPath == nullptr || !SettingsFolder(&folder)) return ENOENT;
  std::string testKey;
  TestHooks* testHooks = ActiveTestHooks();
  if (testHooks != nullptr && testHooks->Override(TEST_OVERRIDE_MACHINE_SETTINGS, &testKey)) keyPath = testKey.c_str();
  std::string relative(keyPath);
  for (char& c : relative)
    if (c == '\\') c = '/';
  // "Software\..." is the registry's layout; the XDG folder is already that.
  if (relative.rfind("Software/", 0) == 0) relative.erase(0, 9);
  std::string path = folder + "/" + relative;
  TestHooks* hooks = ActiveTestHooks();
  if (forWriting && hooks != nullptr && hooks->machineSettingsReadOnly.load()) return EACCES;

  auto* result = new (std::nothrow) MachineSettingsKey{path, forWriting, {}};
  if (result == nullptr) return ENOMEM;
  int error = LoadValues(result);
  if (error == ENOENT) {
    if (!forWriting) {
      delete result;
      return ENOENT;
    }
    size_t slash = path.rfind('/');
    if (!PlatformCreateFolderTree(path.substr(0, slash)) || (error = SaveValues(*result)) != 0) {
      if (error == 0) error = errno != 0 ? errno : EIO;
      delete result;
      return static_cast<uint32_t>(error);
    }
    if (created != nullptr) *created = true;
  } else if (error != 0) {
    delete result;
    return static_cast<uint32_t>(error);
  } else if (forWriting && access(path.c_str(), W_OK) != 0) {
    error = errno;
    delete result;
    return static_cast<uint32_t>(error);
  }
  *key = result;
  return 0;
}

uint32_t PlatformReadMachineNumber(MachineSettingsKey* key, const char* name, uint32_t* value) {
  auto found = key->values.find(name);
  if (found == key->values.end()) return ENOENT;
  const std::string& text = found->second;
  if (text.rfind("dword:", 0) != 0) return EINVAL;
  char* end = nullptr;
  errno = 0;
  unsigned long number = std::strtoul(text.c_str() + 6, &end, 10);
  if (errno != 0 || end == text.c_str() + 6 || *end != '\0' || number > 0xFFFFFFFFul) return EINVAL;
  *value = static_cast<uint32_t>(number);
  return 0;
}

uint32_t PlatformReadMachineText(MachineSettingsKey* key, const char* name, std::string* text, size_t maxBytes) {
  auto found = key->values.find(name);
  if (found == key->values.end()) return ENOENT;
  if (found->second.rfind("sz:", 0) != 0) return EINVAL;
  std::string value = found->second.substr(3);
  if (value.size() + 1 > maxBytes) return EOVERFLOW;
  *text = value;
  return 0;
}

uint32_t PlatformWriteMachineNumber(MachineSettingsKey* key, const char* name, uint32_t value) {
  if (!key->writable) return EACCES;
  std::string old = key->values[name];
  key->values[name] = "dword:" + std::to_string(value);
  int error = SaveValues(*key);
  if (error != 0) key->values[name] = old;
  return static_cast<uint32_t>(error);
}

uint32_t PlatformWriteMachineText(MachineSettingsKey* key, const char* name, const char* text) {
  if (!key->writable) return EACCES;
  // One value per line: a line break inside would split the file's record.
  if (std::strpbrk(text, "\r\n") != nullptr) return EINVAL;
  std::string old = key->values[name];
  key->values[name] = std::string("sz:") + text;
  int error = SaveValues(*key);
  if (error != 0) key->values[name] = old;
  return static_cast<uint32_t>(error);
}

uint32_t PlatformCloseMachineSettings(MachineSettingsKey* key) {
  delete key;
  return 0;
}

bool PlatformErrorIsNotFound(uint32_t code) { return code == ENOENT; }
bool PlatformErrorIsAccessDenied(uint32_t code) { return code == EACCES || code == EPERM || code == EROFS; }

bool PlatformPrimaryDisplayDevice(DisplayDeviceInfo* /*device*/) { return false; }
