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

// 16-bit conversions between file samples (0..65535) and host samples
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
  // Why the file's embedded profile was left out (damaged, too large);
  // empty when there was none or it was kept.
  std::string profileProblem;
  // For an image read from a 16-bit file: the file's own samples, in the
  // order of the host samples. The host range is coarser, so about half of
  // the file values have no host value of their own; a 16-bit write puts
  // back the file's value wherever the host sample still equals
  // FileToHost16 of it, and a run that changed nothing gives the file's
  // samples back exactly. Empty otherwise; whoever changes the layout drops
  // it (Allocate does).
  std::vector<uint16_t> fileSamples16;

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
// is kept, and the file's 16-bit samples only when the layout stays.
HostImage ConvertImage(const HostImage& image, ModeName mode);

// Image files. Errors are the cause in plain words ("the file is cut off",
// "No space left on device"); callers name the file.
//
// Reads a PNG (8 or 16 bits; gray, gray + alpha, RGB, RGBA; palettes and
// smaller depths expanded to 8 bits) or a TIFF (8- or 16-bit integer or
// 32-bit float samples; gray or RGB, each with an optional transparency
// plane), chosen by the file's contents. Alpha becomes the transparency
// plane; the embedded ICC profile becomes iccProfile. Checksums are checked:
// a damaged file is an error, never drawn as it is. A profile that cannot
// be used (damaged, or over 16 MB) does not spoil the pixels: the image is
// read without one, as an editor would.
bool ReadImageFile(const std::string& path, HostImage* image, std::string* error);
// The embedded ICC profile of a PNG (its iCCP chunk) or TIFF file. True
// with an empty profile when the file carries none or is of another kind;
// false when the file cannot be read or its profile is damaged or larger
// than 16 MB (a compressed profile is refused before it is inflated).
bool ReadEmbeddedIccProfile(const std::string& path, std::vector<uint8_t>* profile, std::string* error);
inline bool ReadPngIccProfile(const std::string& path, std::vector<uint8_t>* profile, std::string* error) {
  return ReadEmbeddedIccProfile(path, profile, error);
}
// A whole ICC profile file (at most 16 MB).
bool ReadIccFile(const std::string& path, std::vector<uint8_t>* profile, std::string* error);

// Whether a file of this name can be written, and if not why: the format
// goes by the extension, and Radiance .hdr files are no longer written.
bool CanWriteImageFile(const std::string& path, std::string* error);
// Writes by the name's extension: ".tif" or ".tiff" writes a TIFF in the
// image's depth (8- or 16-bit integers, 32-bit floats as they are, not
// clamped); any other name a PNG, 8-bit for 8-bit images and 16-bit
// otherwise (floats clamped to 0..1). Both keep the image's planes and embed
// its ICC profile. The file is written beside `path` under a temporary name
// and renamed over it only once it is whole (see file_io.h): on a failure
// `path` keeps its old contents. `cancelled` is asked between rows; when it
// says yes the writing stops and *error is "cancelled".
// `note` (when given) says what the file lacks that the image had: a
// profile the format cannot carry for this image is left out.
bool WriteImageFile(const std::string& path, const HostImage& image, std::string* error,
                    const std::function<bool()>& cancelled = {}, std::string* note = nullptr);
// True: every build writes 16-bit PNG files (kept for callers that asked).
bool CanWrite16BitPng();

// Compatibility names for the PNG routines.
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
