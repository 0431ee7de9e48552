#include "hostkit/host_platform.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace hostkit {

const char* const kDefaultModuleFileName = "Glimmark2.so";

void* OpenLibrary(const std::string& path, std::string* error) {
  // RTLD_LOCAL keeps the module's symbols from resolving against ours.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library && error) {
    const char* reason = dlerror();
    *error = reason ? reason : "unknown error";
  }
  return library;
}

void* FindLibrarySymbol(void* library, const char* name) {
  return library ? dlsym(library, name) : nullptr;
}

void CloseLibrary(void* library) {
  if (library) dlclose(library);
}

std::string ExecutableDirectory() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return std::string();
  std::string path(buffer, static_cast<size_t>(length));
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

char PathSeparator() { return '/'; }

bool MoveFileOver(const std::string& from, const std::string& to, std::string* error) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return true;
  if (error) *error = std::strerror(errno);
  return false;
}

void RemoveFileQuietly(const std::string& path) { unlink(path.c_str()); }

int CurrentProcessId() { return static_cast<int>(getpid()); }

intptr_t CreateHostWindow() { return 0; }
void DestroyHostWindow(intptr_t) {}

}  // namespace hostkit
