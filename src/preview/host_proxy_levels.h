#pragma once
// The preview's copies of the host image in the display's colours (linear
// light, 16 bits per channel, as the stars are drawn), one per
// power-of-two reduction, so that any zoom draws from a copy no more than
// twice its size on screen.
//
// Level 1 is the host image at full size, or at the largest reduction whose
// pixels fit the memory cap (a 32767 x 32767 document would otherwise need
// gigabytes); each further level is half the previous one in both
// directions, averaged in linear light. Level 0 stands for the host image
// copy itself, in the image's own colours: it is never shown, and the level
// lookup (GetHostProxyImageInfo) chooses among levels 1 to 16 — for a scale
// s the smallest level whose scale is still at least s, or level 1 for any
// scale from its own upwards.
//
// LayOutHostProxyLevels fixes every level's size and scale at once, so that
// the lookup can choose before anything is built; a level's pixels are made
// when it is first asked for: from the level above it when that exists,
// else straight from the host image.
//
// Threads: the preview's render thread only.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "host/host_image.h"
#include "image/image.h"

// What level 1 may hold at most (pixel bytes).
constexpr size_t HOST_PROXY_MEMORY_CAP = size_t{512} << 20;

// The sizes and scales of the levels of `source` (its bufferRect), nothing
// allocated; the proxy is marked rendered. Releases what the proxy held.
void LayOutHostProxyLevels(HostProxyImage* proxy, const Image& source, size_t memoryCap = HOST_PROXY_MEMORY_CAP);

// The level the lookup chooses for `scale` (horizontal, vertical), built if
// needed: *image gets its record, `scale` its scales. False after a report,
// or when `stop` (may be null) was set while building (nothing is kept then;
// the next call starts again).
bool GetHostProxyLevel(HostProxyImage* proxy, const Image& source, ColorProfileHandle displayProfile, double scale[2],
                       Image* image, const std::atomic<bool>* stop = nullptr);

// Builds one level (and the levels it is made from). False as above.
bool BuildHostProxyLevel(HostProxyImage* proxy, int32_t level, const Image& source, ColorProfileHandle displayProfile,
                         const std::atomic<bool>* stop = nullptr);

// Frees every level's pixels and zeroes the record.
void ReleaseHostProxyImage(HostProxyImage* proxy);
