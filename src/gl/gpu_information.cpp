#include "gl/gpu_information.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "runtime/report.h"

bool ParseGPUDeviceId(const char* deviceIdText, uint32_t stateFlags, GPUInformation* info) {
  *info = GPUInformation{};
  if ((stateFlags & DISPLAY_DEVICE_REMOTE_FLAG) != 0) {
    info->vendorId = 0x45E;
    info->subsystemVendorId = 0x45E;
    return true;
  }
  const char* start = deviceIdText != nullptr ? std::strstr(deviceIdText, "VEN_") : nullptr;
  if (start == nullptr) return false;
  std::string tokens[4];
  int count = 0;
  for (const char* p = start; count < 4; ++count) {
    const char* end = std::strchr(p, '&');
    tokens[count] = end != nullptr ? std::string(p, static_cast<size_t>(end - p)) : std::string(p);
    if (end == nullptr) {
      ++count;
      break;
    }
    p = end + 1;
  }
  unsigned vendor = 0, device = 0, subsystemDevice = 0, subsystemVendor = 0;
  if (count < 3 || std::sscanf(tokens[0].c_str(), "VEN_%x", &vendor) != 1 ||
      std::sscanf(tokens[1].c_str(), "DEV_%x", &device) != 1 ||
      std::sscanf(tokens[2].c_str(), "SUBSYS_%4x%4x", &subsystemDevice, &subsystemVendor) != 2)
    return false;
  info->vendorId = vendor;
  info->deviceId = device;
  info->subsystemDeviceId = subsystemDevice;
  info->subsystemVendorId = subsystemVendor;
  info->revision = count >= 4 ? tokens[3] : std::string();
  return true;
}

bool GetPrimaryGPUInformation(GPUInformation* info) {
  // The adapters do not change under a running host; each run's log still
  // gets the block.
  static std::once_flag once;
  static bool found = false;
  static bool parsed = false;
  static DisplayDeviceInfo device{};
  static GPUInformation remembered{};
  std::call_once(once, [] {
    found = PlatformPrimaryDisplayDevice(&device);
    if (found) parsed = ParseGPUDeviceId(device.deviceId.c_str(), device.stateFlags, &remembered);
  });
  if (found) {
    REPORT_TRACE(
        "Primary GPU Information:\n     Device Name = '%s'\n     Device String = '%s'\n     State Flags = '0x%08X'\n  "
        "   Device ID String = '%s'\n     Device Key = '%s'\n     GPU Vendor ID = '0x%X', GPU Device ID = '0x%X'\n   "
        "  Subsystem Vendor ID = '0x%X', Subsystem Device ID = '0x%X', Revision = '%s'\n",
        device.name.c_str(), device.description.c_str(), device.stateFlags, device.deviceId.c_str(),
        device.deviceKey.c_str(), remembered.vendorId, remembered.deviceId, remembered.subsystemVendorId,
        remembered.subsystemDeviceId, remembered.revision.c_str());
  }
  if (info != nullptr) *info = remembered;
  return parsed;
}
