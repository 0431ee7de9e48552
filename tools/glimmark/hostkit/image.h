#pragma once
// The host's document: planes interleaved per pixel, rows without padding.
// Samples are 8-bit, 16-bit in the host's 0..32768 range, or 32-bit float
// (native byte order). Planes are the colour planes (1 gray, 3 RGB) followed
// by an optional transparency plane.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hostkit {

// The full-scale value of a 16-bit host sample.
constexpr uint16_t kHost16Max = 32768;

// 16-bit conversions between PNG samples (0..65535) and host samples
// (0..32768), both rounding to nearest. The host range is the coarser one,
// so every host value survives host → file → host unchanged.
uint16_t FileToHost16(uint16_t fileValue);
uint16_t HostToFile16(uint16_t hostValue);  // values above 32768 saturate

struct HostImage {
  int32_t width = 0;
  int32_t height = 0;
  int32_t planes = 3;          // 1 gray, 2 gray + transparency, 3 RGB, 4 RGB + transparency
  int32_t bytesPerSample = 1;  // 1, 2 or 4
  std::vector<uint8_t> pixels;
  // The document's ICC colour profile (empty: none); the host offers it to
  // the filter with the image.
  std::vector<uint8_t> iccProfile;

  // False (and the image left empty) for sizes that do not fit in memory or
  // in the interface's 32-bit coordinates, or an unknown layout.
  bool Allocate(int32_t width, int32_t height, int32_t planes, int32_t bytesPerSample = 1);
  bool empty() const { return width <= 0 || height <= 0; }
  int32_t colourPlanes() const { return planes >= 3 ? 3 : 1; }
  bool hasTransparency() const { return planes == 2 || planes == 4; }
  int32_t depthBits() const { return bytesPerSample * 8; }
  // The interface's image mode (plugInMode...).
  int16_t mode() const;
  size_t pixelBytes() const { return static_cast<size_t>(planes) * static_cast<size_t>(bytesPerSample); }
  size_t rowBytes() const { return static_cast<size_t>(width) * pixelBytes(); }
  uint8_t* Pixel(int32_t x, int32_t y) {
    return pixels.data() + static_cast<size_t>(y) * rowBytes() + static_cast<size_t>(x) * pixelBytes();
  }
  const uint8_t* Pixel(int32_t x, int32_t y) const {
    return pixels.data() + static_cast<size_t>(y) * rowBytes() + static_cast<size_t>(x) * pixelBytes();
  }

  // A sample as a fraction of full scale (0..1 for integer samples; floats
  // as stored), and the reverse, rounding integers to nearest and clamping.
  double Get(int32_t x, int32_t y, int32_t plane) const;
  void Set(int32_t x, int32_t y, int32_t plane, double value);
};

// Image modes the command line accepts, by name.
enum class ModeName { kFromFile, kGray8, kRgb8, kGray16, kRgb16, kGray32, kRgb32 };
bool ParseModeName(const std::string& text, ModeName* mode);

// The image in another mode: grayscale from colour by Rec. 601 luma, colour
// from grayscale by copying, depths by scaling full scale to full scale
// (floats clamped to 0..1 when they become integers). The transparency plane
// is kept.
HostImage ConvertImage(const HostImage& image, ModeName mode);

// Reads a PNG (8 or 16 bits; gray, gray + alpha, RGB, RGBA; alpha becomes
// the transparency plane) or a Radiance .hdr file (float RGB), chosen by the
// file's contents.
bool ReadImageFile(const std::string& path, HostImage* image, std::string* error);
// Writes by the name's extension: ".hdr" writes float RGB (transparency is
// dropped, grayscale is widened); any other name writes a PNG with the
// image's planes, 8-bit for 8-bit images and 16-bit otherwise (floats clamped
// to 0..1). 16-bit PNG needs the native build (libpng); the Windows tool
// refuses it with a clear message. The file is written beside `path` under a
// temporary name and renamed over it, so a failure never leaves a partial file.
// The embedded ICC profile of a PNG file (its iCCP chunk), decompressed.
// True with an empty profile when the file carries none; false when the
// file cannot be read or its profile chunk is damaged.
bool ReadPngIccProfile(const std::string& path, std::vector<uint8_t>* profile, std::string* error);
// A whole ICC profile file (at most 16 MB).
bool ReadIccFile(const std::string& path, std::vector<uint8_t>* profile, std::string* error);

bool WriteImageFile(const std::string& path, const HostImage& image, std::string* error,
                    const std::function<bool()>& cancelled = {});
// True when this build can write 16-bit PNG files.
bool CanWrite16BitPng();

// Compatibility names for the 8-bit PNG routines.
inline bool ReadPng(const std::string& path, HostImage* image, std::string* error) {
  return ReadImageFile(path, image, error);
}
inline bool WritePng(const std::string& path, const HostImage& image, std::string* error) {
  return WriteImageFile(path, image, error);
}

// A selection mask (one byte per pixel) from an image file: the first plane
// of its 8-bit grayscale form. The size must match.
bool ReadMaskFile(const std::string& path, int32_t width, int32_t height, std::vector<uint8_t>* mask,
                  std::string* error);

}  // namespace hostkit
