#pragma once
// The process-wide active host that context-free callbacks resolve to.
namespace hostkit {
class Host;
void ActivateHost(Host* host);
// Clears the active host if it is `host`.
void DeactivateHost(Host* host);
}  // namespace hostkit
