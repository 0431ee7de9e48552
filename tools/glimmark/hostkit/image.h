#pragma once
// The host's document: 8-bit samples, planes interleaved per pixel, rows
// without padding. Later modes (16-bit, float, masks as planes) grow here.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostkit {

struct HostImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t planes = 3;
  std::vector<uint8_t> pixels;

  // False (and the image left empty) for sizes that do not fit in memory or
  // in the interface's 32-bit coordinates.
  bool Allocate(int32_t width, int32_t height, int32_t planes);
  bool empty() const { return width <= 0 || height <= 0; }
  size_t rowBytes() const { return static_cast<size_t>(width) * static_cast<size_t>(planes); }
  uint8_t* Pixel(int32_t x, int32_t y) {
    return pixels.data() + static_cast<size_t>(y) * rowBytes() + static_cast<size_t>(x) * planes;
  }
  const uint8_t* Pixel(int32_t x, int32_t y) const {
    return pixels.data() + static_cast<size_t>(y) * rowBytes() + static_cast<size_t>(x) * planes;
  }
};

// Reads a PNG (any bit depth or colour type the library accepts) as 8-bit
// RGB; alpha is dropped for now.
bool ReadPng(const std::string& path, HostImage* image, std::string* error);
// Writes an 8-bit PNG with 1 to 4 planes into a temporary file beside `path`
// and renames it over `path`, so a failure never leaves a partial file.
bool WritePng(const std::string& path, const HostImage& image, std::string* error);

}  // namespace hostkit
