// Machine-wide settings on Windows: a registry key below HKEY_LOCAL_MACHINE.
// The primary display adapter from the display device list.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/test_hooks.h"

struct MachineSettingsKey {
  HKEY handle;
};

uint32_t PlatformOpenMachineSettings(const char* keyPath, bool forWriting, MachineSettingsKey** key, bool* created) {
  *key = nullptr;
  if (created != nullptr) *created = false;
  TestHooks* hooks = ActiveTestHooks();
  if (forWriting && hooks != nullptr && hooks->machineSettingsReadOnly.load()) return ERROR_ACCESS_DENIED;
  std::string testKey;
  if (hooks != nullptr && hooks->Override(TEST_OVERRIDE_MACHINE_SETTINGS, &testKey)) keyPath = testKey.c_str();
  HKEY handle = nullptr;
  LSTATUS status;
  if (forWriting) {
    DWORD disposition = 0;
    status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &handle, &disposition);
    if (status == ERROR_SUCCESS && created != nullptr) *created = disposition == REG_CREATED_NEW_KEY;
  } else {
    status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &handle);
  }
  if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
  auto* result = new (std::nothrow) MachineSettingsKey{handle};
  if (result == nullptr) {
    RegCloseKey(handle);
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  *key = result;
  return 0;
}

uint32_t PlatformReadMachineNumber(MachineSettingsKey* key, const char* name, uint32_t* value) {
  DWORD type = 0;
  DWORD number = 0;
  DWORD size = sizeof number;
  LSTATUS status = RegQueryValueExA(key->handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&number), &size);
  if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
  if (type != REG_DWORD || size != sizeof number) return ERROR_INVALID_DATA;
  *value = number;
  return 0;
}

uint32_t PlatformReadMachineText(MachineSettingsKey* key, const char* name, std::string* text, size_t maxBytes) {
  std::vector<char> buffer(maxBytes + 1, '\0');
  DWORD type = 0;
  DWORD size = static_cast<DWORD>(maxBytes);
  LSTATUS status =
      RegQueryValueExA(key->handle, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
  if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
  if (type != REG_SZ) return ERROR_INVALID_DATA;
  // A stored text need not end with its zero; the extra byte ends it here.
  buffer[size < maxBytes ? size : maxBytes] = '\0';
  *text = buffer.data();
  return 0;
}

uint32_t PlatformWriteMachineNumber(MachineSettingsKey* key, const char* name, uint32_t value) {
  DWORD number = value;
  return static_cast<uint32_t>(
      RegSetValueExA(key->handle, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number));
}

uint32_t PlatformWriteMachineText(MachineSettingsKey* key, const char* name, const char* text) {
  return static_cast<uint32_t>(RegSetValueExA(key->handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                              static_cast<DWORD>(std::strlen(text) + 1)));
}

uint32_t PlatformCloseMachineSettings(MachineSettingsKey* key) {
  LSTATUS status = RegCloseKey(key->handle);
  delete key;
  return static_cast<uint32_t>(status);
}

bool PlatformErrorIsNotFound(uint32_t code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }
bool PlatformErrorIsAccessDenied(uint32_t code) { return code == ERROR_ACCESS_DENIED; }

bool PlatformPrimaryDisplayDevice(DisplayDeviceInfo* device) {
  DISPLAY_DEVICEA entry;
  for (DWORD index = 0;; ++index) {
    std::memset(&entry, 0, sizeof entry);
    entry.cb = sizeof entry;
    if (!EnumDisplayDevicesA(nullptr, index, &entry, 0)) return false;
    if ((entry.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) == 0) continue;
    device->name = entry.DeviceName;
    device->description = entry.DeviceString;
    device->stateFlags = entry.StateFlags;
    device->deviceId = entry.DeviceID;
    device->deviceKey = entry.DeviceKey;
    return true;
  }
}

static_assert(sizeof(DISPLAY_DEVICEA) == 424, "the display device record has the size the system expects");
