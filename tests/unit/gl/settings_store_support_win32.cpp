#include <windows.h>

#include <string>

#include "../test_hooks_support.h"
#include "settings_store_support.h"

namespace storetest {

namespace {
const std::string& TestParent() {
  static const std::string parent =
      "Software\\Brightwerk Software\\Glimmark Tests\\" + std::to_string(GetCurrentProcessId());
  return parent;
}
}  // namespace

// The suites of one Wine prefix run side by side: each process keeps its
// settings under a key of its own, never the product's.
void UsePrivateStore() {
  testhooks::Hooks().SetOverride(TEST_OVERRIDE_MACHINE_SETTINGS, (TestParent() + "\\OpenGLSettings").c_str());
}

void RemoveStore() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, TestParent().c_str()); }

}  // namespace storetest
