#include "hostkit/module.h"

#include <utility>

#include "hostkit/host_platform.h"

namespace hostkit {

Module::~Module() { Unload(); }

Module::Module(Module&& other) noexcept
    : library_(std::exchange(other.library_, nullptr)),
      entry_(std::exchange(other.entry_, nullptr)),
      path_(std::move(other.path_)) {}

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    Unload();
    library_ = std::exchange(other.library_, nullptr);
    entry_ = std::exchange(other.entry_, nullptr);
    path_ = std::move(other.path_);
  }
  return *this;
}

std::string Module::DefaultPath() {
  std::string folder = ExecutableDirectory();
  if (folder.empty()) return kDefaultModuleFileName;
  if (folder.back() != PathSeparator()) folder += PathSeparator();
  return folder + kDefaultModuleFileName;
}

bool Module::Load(const std::string& path, std::string* error) {
  Unload();
  std::string reason;
  void* library = OpenLibrary(path, &reason);
  if (!library) {
    if (error) *error = reason;
    return false;
  }
  void* symbol = FindLibrarySymbol(library, "PluginMain");
  if (!symbol) {
    CloseLibrary(library);
    if (error) *error = "the module exports no PluginMain";
    return false;
  }
  library_ = library;
  // Converting a data pointer from dlsym/GetProcAddress to a function pointer
  // is what both platforms document for exported functions.
  entry_ = reinterpret_cast<PluginMainProc>(symbol);
  path_ = path;
  return true;
}

Module Module::FromEntry(PluginMainProc entry, const std::string& name) {
  Module module;
  module.entry_ = entry;
  module.path_ = entry != nullptr ? name : std::string();
  return module;
}

void* Module::Symbol(const char* name) const {
  return library_ != nullptr ? FindLibrarySymbol(library_, name) : nullptr;
}

void Module::Unload() {
  entry_ = nullptr;
  CloseLibrary(std::exchange(library_, nullptr));
  path_.clear();
}

}  // namespace hostkit
