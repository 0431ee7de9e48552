#include "module_support.h"

#include <gtest/gtest.h>

#include <string>

#include "hostkit/module.h"

namespace moduletest {

PluginMainProc ModuleEntry() {
  static hostkit::Module* module = nullptr;
  static std::string error;
  if (module == nullptr) {
    module = new hostkit::Module;  // never unloaded: see the header
    if (!module->Load(hostkit::Module::DefaultPath(), &error)) error = "cannot load the module: " + error;
  }
  if (!module->IsLoaded()) ADD_FAILURE() << error;
  return module->entry();
}

}  // namespace moduletest
