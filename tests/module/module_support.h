#pragma once
// What the module suites share: the built module, loaded once per process and
// kept loaded until the process ends, as a host keeps a filter loaded between
// runs (the module's process-wide logging state lives as long as it does).
#include "host/host_interface.h"

namespace moduletest {

// PluginMain of the module next to the test program; null (with a test
// failure recorded) when it cannot be loaded.
PluginMainProc ModuleEntry();

}  // namespace moduletest
