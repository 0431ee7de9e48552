#pragma once
// Moving the filter rectangle between the host and memory.
//
// ReadHostImage copies the whole filter rectangle (colour planes, the
// transparency plane into alpha, and the selection mask) into one Image,
// the host image copy; WriteHostImage writes its colour planes back;
// ReleaseHostImage lets the host finish the transfer and frees the copy.
// Each tile travels with all its planes in one advanceState call,
// interleaved, and is de-interleaved here: that is what every host serves
// correctly, including engines that deliver plane 0 for any single plane
// other than 0.
//
// 16-bit host samples (0..32768) become 0..65535 in memory and are rounded
// on the way back, so a value the filter did not touch returns unchanged.
//
// Threads: the transfer functions call host procedures and run on the UI
// thread only. They report their own failures and store the status of the
// current selector call.
#include <cstdint>

#include "image/image.h"

struct HostImageCopy {
  Image image;
  int32_t diagonal;  // integer part of sqrt(width^2 + height^2) + 1
};

// What colour management tells the transfer about the document: its profile
// (may be null), that profile's gamma, and whether it is a gray profile.
struct EditorProfileInfo {
  ColorProfileHandle profile;
  double gamma;
  bool isGray;
};

// Reads the filter rectangle into the copy. False (status stored, message
// reported) for modes the plug-in does not take, host refusals and memory
// exhaustion; the host image is never changed by reading. *ownMemory (may
// be null) tells whether the failure was the plug-in's own memory for the
// copy, as opposed to anything the host said or offered.
bool ReadHostImage(const EditorProfileInfo& editorProfile, HostImageCopy* copy, bool* ownMemory = nullptr);

// Writes the colour planes of `copy` back in 2048-pixel tiles with host
// progress per tile. Returns the status: 0, a host refusal (reported), or
// -128 when the user aborted before the first tile; once a tile is written
// the rest follows whatever the user asks, so no host keeps half a result.
int16_t WriteHostImage(const Image* copy);

// Ends the host transfer (when nothing failed) and frees the copy.
void ReleaseHostImage(HostImageCopy* copy);

// The host proxy image levels the preview builds: level 0 is the full image,
// scales decrease with the level.
constexpr int HOST_PROXY_LEVEL_COUNT = 17;
struct HostProxyLevel {
  Image image;
  double scaleX;
  double scaleY;
};
struct HostProxyImage {
  HostProxyLevel levels[HOST_PROXY_LEVEL_COUNT];
  bool rendered;
};

// Chooses the level for the requested scale pair (scale[0] horizontal,
// scale[1] vertical), copies its record into *image and replaces the pair
// with the level's scales. False (reported) before the levels exist or for
// null arguments.
bool GetHostProxyImageInfo(const HostProxyImage& proxy, Image* image, double* scale);
