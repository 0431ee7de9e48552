#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings_store_support.h"

namespace storetest {

void UsePrivateStore() {
  static const std::string folder =
      (std::filesystem::temp_directory_path() / ("glimmark-store-" + std::to_string(getpid()))).string();
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
}

void RemoveStore() {
  std::error_code ignored;
  const char* folder = std::getenv("XDG_CONFIG_HOME");
  if (folder != nullptr) std::filesystem::remove_all(std::filesystem::path(folder) / "Brightwerk Software", ignored);
}

}  // namespace storetest
