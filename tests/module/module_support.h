#pragma once
// What the module suites share: the built module, loaded once per process and
// kept loaded until the process ends, as a host keeps a filter loaded between
// runs (the module's process-wide logging state lives as long as it does).
#include "host_abi/host_interface.h"
#include "hostkit/host.h"

namespace moduletest {

// PluginMain of the module next to the test program; null (with a test
// failure recorded) when it cannot be loaded.
PluginMainProc ModuleEntry();

// The eight scripted settings as a recording host replays them; Quantity
// and the rest in percent, Angle in degrees.
struct Settings {
  double quantity = 50, intensity = 50, length = 50, angle = 15;
  int32_t points = 6;
  double sharpness = 50, saturation = 30, softFlare = 30;
};
hostkit::DescriptorItems SettingsDescriptor(const Settings& settings);

// Hands the host a complete descriptor of `settings` to replay without a
// dialog (play mode 0), as a recorded action does.
void ReplaySettings(hostkit::Host* host, const Settings& settings);

// Settings under which a run still reads, analyses and writes back the
// whole image but no light source qualifies for an effect (Quantity 0), for
// tests of everything around the drawing.
void ReplayDrawNothing(hostkit::Host* host);

}  // namespace moduletest
