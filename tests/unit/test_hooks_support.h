#pragma once
// The one test hooks record of the unit test executable, installed on first
// use. Tests set the fields they need and put them back.
#include "runtime/test_hooks.h"

namespace testhooks {

inline TestHooks& Hooks() {
  static TestHooks hooks;
  static const bool installed = (InstallTestHooks(&hooks), true);
  (void)installed;
  return hooks;
}

}  // namespace testhooks
