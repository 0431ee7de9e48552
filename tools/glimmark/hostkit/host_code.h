#pragma once
// Whose code the calling thread is running: the host's own (a host procedure
// serving the module, or the host between selector calls) or the module's.
// A test that makes the module's allocations fail asks this so that it never
// fails the host's: a real host answers a request it cannot serve with an
// error code, it never throws into the module.
namespace hostkit {

// True while a HostCodeScope is open on this thread and no ModuleCodeScope
// opened inside it.
bool InHostCode();

class HostCodeScope {
 public:
  HostCodeScope();
  ~HostCodeScope();
  HostCodeScope(const HostCodeScope&) = delete;
  HostCodeScope& operator=(const HostCodeScope&) = delete;
};

// Around a call into the module: the host's scopes are set aside until it
// returns (the module's host procedure calls open their own).
class ModuleCodeScope {
 public:
  ModuleCodeScope();
  ~ModuleCodeScope();
  ModuleCodeScope(const ModuleCodeScope&) = delete;
  ModuleCodeScope& operator=(const ModuleCodeScope&) = delete;

 private:
  int saved_;
};

}  // namespace hostkit
