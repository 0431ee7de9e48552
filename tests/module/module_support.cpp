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

hostkit::DescriptorItems SettingsDescriptor(const Settings& s) {
  using hostkit::DescriptorItem;
  const uint32_t percent = FourCC("#Prc");
  return {DescriptorItem::UnitFloat(FourCC("qntY"), percent, s.quantity),
          DescriptorItem::UnitFloat(FourCC("Intn"), percent, s.intensity),
          DescriptorItem::UnitFloat(FourCC("Lngt"), percent, s.length),
          DescriptorItem::UnitFloat(FourCC("Angl"), FourCC("#Ang"), s.angle),
          DescriptorItem::Integer(FourCC("numP"), s.points),
          DescriptorItem::UnitFloat(FourCC("spsH"), percent, s.sharpness),
          DescriptorItem::UnitFloat(FourCC("Strt"), percent, s.saturation),
          DescriptorItem::UnitFloat(FourCC("sflB"), percent, s.softFlare)};
}

void ReplaySettings(hostkit::Host* host, const Settings& settings) {
  host->SetScriptDescriptor(SettingsDescriptor(settings));
  host->SetPlayInfo(plugInDialogDontDisplay);
}

void ReplayDrawNothing(hostkit::Host* host) {
  Settings none;
  none.quantity = 0;
  ReplaySettings(host, none);
}

}  // namespace moduletest
