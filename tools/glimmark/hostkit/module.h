#pragma once
// A loaded filter module: the shared library and its PluginMain.
#include <string>

#include "host_abi/host_interface.h"

namespace hostkit {

class Module {
 public:
  Module() = default;
  ~Module();
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // The module file next to the running executable (Glimmark2.so natively,
  // Glimmark2.8bf on Windows).
  static std::string DefaultPath();

  // Loads the library and finds PluginMain. On failure nothing stays loaded
  // and *error says why.
  bool Load(const std::string& path, std::string* error);
  // A module whose PluginMain is already in this process (linked into the
  // host program itself, as the fault sweeps do): nothing is loaded or
  // unloaded; `name` stands in for the path.
  static Module FromEntry(PluginMainProc entry, const std::string& name = "(linked in)");
  void Unload();

  bool IsLoaded() const { return entry_ != nullptr; }
  // Another export of the loaded library, or null.
  void* Symbol(const char* name) const;
  PluginMainProc entry() const { return entry_; }
  const std::string& path() const { return path_; }

 private:
  void* library_ = nullptr;
  PluginMainProc entry_ = nullptr;
  std::string path_;
};

}  // namespace hostkit
