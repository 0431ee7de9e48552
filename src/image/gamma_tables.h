#pragma once
// Process-wide cache of gamma table sets.
//
// Every Image points at the set of its gamma; the tables convert between
// 8- and 16-bit gamma-coded values and 24-bit linear light (16777215 is full
// intensity). A set is built at most once per distinct gamma, at most
// GAMMA_CACHE_CAPACITY sets per process, and is never freed or changed once
// published, so the pointers handed out stay valid for the whole process.
//
// Threads: lookups of a published set take no lock. Adding a set is
// serialised by one insertion lock; the set's tables are filled completely
// before the count that makes it visible is released, and readers acquire
// that count, so no thread ever sees a half-built set.
#include <cstdint>

struct GammaTables {
  double gamma;
  const uint32_t* code8ToLinear;   // 256 entries
  const uint32_t* code16ToLinear;  // 65536 entries
  const uint8_t* linearToCode8;    // 65536 entries, indexed by the top 16 bits of a linear value
  const uint16_t* linearToCode16;  // 65536 entries, the same index
};

constexpr uint32_t GAMMA_CACHE_CAPACITY = 32;
constexpr uint32_t LINEAR_FULL_SCALE = 16777215;  // 24-bit linear full intensity

// The set for `gamma`: an exact match, else a newly built set, else (cache
// full) the cached set whose gamma is nearest. Null when there is no memory
// for a new set (reported; a later request tries again): another gamma's
// tables would convert the image's light wrongly without anyone knowing.
// Null also for a gamma that is not a finite positive number (reported).
const GammaTables* GetGammaTables(double gamma);

// Number of published sets.
uint32_t GetGammaTableSetCount();

// Nearest integer, halves to the even neighbour, whatever the floating-point
// rounding mode the host left behind. For values >= 0.
double RoundHalfToEven(double value);

// Tests only: frees every set and empties the cache. No other thread may use
// the cache or hold a set meanwhile.
void ResetGammaTablesForTesting();
