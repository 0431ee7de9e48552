#pragma once
// Paths of the modules under test, from the command line of static_tests:
//   static_tests [--module32 PATH] [--module64 PATH] [GoogleTest options]
// A module that is not named has its checks skipped.
#include <string>

// Empty when the module of that width (32 or 64) was not given.
const std::string& ModulePath(int bits);
