#pragma once
// The Parameter Set in the host's descriptor registry: the host keeps it
// between filter runs (and across sessions: the entry is persistent). The
// entry holds one raw data value whose bytes are the 255-byte file image of
// the set (Parameter Set first, zeros after).
//
// Both routines acquire the registry suite and the action descriptor suite
// (version 3, else 2) through the basic suite they are given and release
// them before returning. A host without either suite, or one that leaves a
// needed procedure empty, is answered -30900 and nothing changes.
#include <cstdint>

#include "host_abi/host_interface.h"
#include "params/parameter_set.h"

inline constexpr char PARAMETER_REGISTRY_KEY[] = "93de9c7d-1906-4770-a930-6275943844bd";
constexpr DescriptorKeyID PARAMETER_BLOCK_KEY = FourCC("PBlk");

// 0: the stored set (current version) is in *set. -30900: nothing usable is
// stored, the entry is damaged, or the host lacks the suites; *set untouched.
// -30905: a set of another version is stored (reported); *set untouched.
int16_t ReadRegistryParameters(const SPBasicSuite* basic, ParameterSet* set);

// Stores *current, stamped with the current version, as the persistent
// entry. 0, or -30900 after reporting what failed.
int16_t WriteRegistryParameters(const SPBasicSuite* basic, const ParameterSet* current);
