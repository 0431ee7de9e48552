#include "hostkit/host_code.h"

namespace hostkit {

namespace {
thread_local int t_hostDepth = 0;
}  // namespace

bool InHostCode() { return t_hostDepth > 0; }

HostCodeScope::HostCodeScope() { ++t_hostDepth; }
HostCodeScope::~HostCodeScope() { --t_hostDepth; }

ModuleCodeScope::ModuleCodeScope() : saved_(t_hostDepth) { t_hostDepth = 0; }
ModuleCodeScope::~ModuleCodeScope() { t_hostDepth = saved_; }

}  // namespace hostkit
