#pragma once
// The primary display adapter's ids, for the log and the about box.
#include <cstdint>
#include <string>

struct GPUInformation {
  uint32_t vendorId;
  uint32_t deviceId;
  uint32_t subsystemVendorId;
  uint32_t subsystemDeviceId;
  std::string revision;
};

constexpr uint32_t DISPLAY_DEVICE_REMOTE_FLAG = 0x04000000;

// The ids of a device id text such as
// "PCI\VEN_10DE&DEV_1C82&SUBSYS_11BF1458&REV_A1"; false without "VEN_" or
// when its tokens do not read. A remote session's display (stateFlags with
// DISPLAY_DEVICE_REMOTE_FLAG) is the remote desktop's adapter, whatever the
// text says.
bool ParseGPUDeviceId(const char* deviceIdText, uint32_t stateFlags, GPUInformation* info);

// Enumerates the display devices once per process and traces the primary
// one; later calls answer the remembered result.
bool GetPrimaryGPUInformation(GPUInformation* info = nullptr);
