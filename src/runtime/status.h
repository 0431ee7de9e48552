#pragma once
// The statuses a selector returns, one name each. The values are the host
// interface's own error codes (host_abi/host_interface.h names them as the
// interface does; the host layer checks that both agree).
#include <cstdint>

constexpr int16_t STATUS_OK = 0;
constexpr int16_t STATUS_BAND_RENDERING_FAILED = -20;  // a band of the final rendering failed
constexpr int16_t STATUS_PARAMETER_ERROR = -50;        // a bad or unusable value, image or profile
constexpr int16_t STATUS_OUT_OF_MEMORY = -108;
constexpr int16_t STATUS_USER_CANCELLED = -128;
constexpr int16_t STATUS_FAILURE_REPORTED = -1715;  // the failure was already shown to the user
constexpr int16_t STATUS_BAD_PARAMETERS = -30100;   // the host's parameters cannot be used
