// Entry of static_tests: takes the module paths off the command line and
// hands the rest to GoogleTest.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "options.h"

namespace {

std::string g_module32;
std::string g_module64;

}  // namespace

const std::string& ModulePath(int bits) {
  return bits == 64 ? g_module64 : g_module32;
}

int main(int argc, char** argv) {
  std::vector<char*> rest;
  rest.push_back(argv[0]);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string* target = nullptr;
    const char* value = nullptr;
    for (auto [name, path] : {std::pair{"--module32", &g_module32}, std::pair{"--module64", &g_module64}}) {
      const size_t n = std::strlen(name);
      if (std::strcmp(arg, name) == 0) {
        target = path;
        if (i + 1 >= argc) {
          std::fprintf(stderr, "static_tests: %s needs a path\n", name);
          return 2;
        }
        value = argv[++i];
      } else if (std::strncmp(arg, name, n) == 0 && arg[n] == '=') {
        target = path;
        value = arg + n + 1;
      }
    }
    if (target != nullptr) {
      *target = value;
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());
  rest.push_back(nullptr);
  testing::InitGoogleTest(&restCount, rest.data());
  return RUN_ALL_TESTS();
}
