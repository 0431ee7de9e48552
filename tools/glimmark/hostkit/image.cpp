#include "hostkit/image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>

#include "host_abi/host_interface.h"
#include "hostkit/file_io.h"
#include "hostkit/image_codecs.h"

namespace hostkit {

uint16_t FileToHost16(uint16_t fileValue) {
  return static_cast<uint16_t>((uint32_t(fileValue) * 2u * kHost16Max + 65535u) / (2u * 65535u));
}

uint16_t HostToFile16(uint16_t hostValue) {
  if (hostValue >= kHost16Max) return 65535;
  return static_cast<uint16_t>((uint32_t(hostValue) * 2u * 65535u + kHost16Max) / (2u * kHost16Max));
}

bool HostImage::Allocate(int32_t newWidth, int32_t newHeight, int32_t newPlanes, int32_t newBytes) {
  width = height = 0;
  pixels.clear();
  fileSamples16.clear();
  if (newWidth <= 0 || newHeight <= 0 || newPlanes <= 0 || newPlanes > 4) return false;
  if (newBytes != 1 && newBytes != 2 && newBytes != 4) return false;
  const uint64_t bytes = static_cast<uint64_t>(newWidth) * static_cast<uint64_t>(newHeight) *
                         static_cast<uint64_t>(newPlanes) * static_cast<uint64_t>(newBytes);
  if (bytes > std::numeric_limits<size_t>::max() / 2 || bytes > (uint64_t(1) << 40)) return false;
  try {
    pixels.assign(static_cast<size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  width = newWidth;
  height = newHeight;
  planes = newPlanes;
  bytesPerSample = newBytes;
  return true;
}

int16_t HostImage::mode() const {
  const bool gray = colourPlanes() == 1;
  switch (bytesPerSample) {
    case 2: return gray ? plugInModeGray16 : plugInModeRGB48;
    case 4: return gray ? plugInModeGray32 : plugInModeRGB96;
    default: return gray ? plugInModeGrayScale : plugInModeRGBColor;
  }
}

double HostImage::Get(int32_t x, int32_t y, int32_t plane) const {
  const uint8_t* sample = Pixel(x, y) + static_cast<size_t>(plane) * static_cast<size_t>(bytesPerSample);
  if (bytesPerSample == 1) return *sample / 255.0;
  if (bytesPerSample == 2) {
    uint16_t value;
    std::memcpy(&value, sample, 2);
    return value / double(kHost16Max);
  }
  float value;
  std::memcpy(&value, sample, 4);
  return value;
}

void HostImage::Set(int32_t x, int32_t y, int32_t plane, double value) {
  uint8_t* sample = Pixel(x, y) + static_cast<size_t>(plane) * static_cast<size_t>(bytesPerSample);
  if (bytesPerSample == 4) {
    const float stored = static_cast<float>(value);
    std::memcpy(sample, &stored, 4);
    return;
  }
  if (!(value > 0)) value = 0;  // also NaN
  value = std::min(value, 1.0);
  if (bytesPerSample == 1) {
    *sample = static_cast<uint8_t>(std::lround(value * 255));
  } else {
    const uint16_t stored = static_cast<uint16_t>(std::lround(value * kHost16Max));
    std::memcpy(sample, &stored, 2);
  }
}

bool ParseModeName(const std::string& text, ModeName* mode) {
  static const struct {
    const char* name;
    ModeName mode;
  } kNames[] = {{"gray8", ModeName::kGray8},   {"rgb8", ModeName::kRgb8},   {"gray16", ModeName::kGray16},
                {"rgb16", ModeName::kRgb16},   {"gray32", ModeName::kGray32}, {"rgb32", ModeName::kRgb32}};
  for (const auto& entry : kNames) {
    if (text == entry.name) {
      *mode = entry.mode;
      return true;
    }
  }
  return false;
}

HostImage ConvertImage(const HostImage& image, ModeName mode) {
  if (mode == ModeName::kFromFile || image.empty()) return image;
  const bool gray = mode == ModeName::kGray8 || mode == ModeName::kGray16 || mode == ModeName::kGray32;
  const int32_t bytes = (mode == ModeName::kGray8 || mode == ModeName::kRgb8)     ? 1
                        : (mode == ModeName::kGray16 || mode == ModeName::kRgb16) ? 2
                                                                                  : 4;
  const int32_t colour = gray ? 1 : 3;
  const int32_t alpha = image.hasTransparency() ? 1 : 0;
  if (colour == image.colourPlanes() && bytes == image.bytesPerSample) return image;
  HostImage result;
  if (!result.Allocate(image.width, image.height, colour + alpha, bytes)) return HostImage();
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      if (colour == image.colourPlanes()) {
        for (int32_t p = 0; p < colour; ++p) result.Set(x, y, p, image.Get(x, y, p));
      } else if (colour == 1) {
        result.Set(x, y, 0, 0.299 * image.Get(x, y, 0) + 0.587 * image.Get(x, y, 1) + 0.114 * image.Get(x, y, 2));
      } else {
        for (int32_t p = 0; p < 3; ++p) result.Set(x, y, p, image.Get(x, y, 0));
      }
      if (alpha) result.Set(x, y, colour, image.Get(x, y, image.colourPlanes()));
    }
  }
  // A profile describes one colour space: it travels only while that stays.
  if (colour == image.colourPlanes()) result.iccProfile = image.iccProfile;
  result.profileProblem = image.profileProblem;
  return result;
}

namespace codecs {
const char kCancelledText[] = "cancelled";
}  // namespace codecs

namespace {

enum class FileKind { kPng, kTiff, kRadiance, kOther };

// The kind of file by its first bytes; the file is left at its start.
FileKind Sniff(InputFile* file) {
  uint8_t head[8] = {};
  const size_t got = file->Read(head, sizeof head);
  file->Seek(0);
  static const uint8_t kPng[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (got == 8 && std::memcmp(head, kPng, 8) == 0) return FileKind::kPng;
  // Little- and big-endian TIFF, classic (42) and 64-bit (43).
  if (got >= 4 && ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
                   (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43))))
    return FileKind::kTiff;
  if (got >= 2 && head[0] == '#' && head[1] == '?') return FileKind::kRadiance;
  return FileKind::kOther;
}

std::string LowerExtension(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return std::string();
  std::string tail = path.substr(dot);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail;
}

bool IsTiffName(const std::string& path) {
  const std::string extension = LowerExtension(path);
  return extension == ".tif" || extension == ".tiff";
}

const char kRadianceGone[] =
    "Radiance .hdr files are no longer supported; use a 32-bit float TIFF (.tif) for images beyond white";

constexpr size_t kMaxIccBytes = codecs::kMaxIccBytes;

// Opens `path` and tells its kind; false with *error when it cannot be read
// or is of no kind this host reads.
bool OpenImage(const std::string& path, InputFile* file, FileKind* kind, std::string* error) {
  std::string reason;
  if (!file->Open(path, &reason)) {
    if (error) *error = reason;
    return false;
  }
  *kind = Sniff(file);
  if (!file->error().empty()) {
    if (error) *error = file->error();
    return false;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, std::string* error) {
  InputFile file;
  std::string reason;
  if (!file.Open(path, &reason)) {
    if (error) *error = reason;
    return false;
  }
  if (file.size() > limit) {
    if (error) *error = "the file is too large";
    return false;
  }
  bytes->resize(static_cast<size_t>(file.size()));
  if (file.Read(bytes->data(), bytes->size()) != bytes->size()) {
    if (error) *error = file.error().empty() ? "the file changed while it was read" : file.error();
    return false;
  }
  return true;
}

}  // namespace

bool CanWrite16BitPng() { return true; }

bool ReadIccFile(const std::string& path, std::vector<uint8_t>* profile, std::string* error) {
  if (!ReadWholeFile(path, kMaxIccBytes, profile, error)) return false;
  if (profile->size() < 128) {
    if (error) *error = "too short for an ICC profile";
    return false;
  }
  return true;
}

bool ReadEmbeddedIccProfile(const std::string& path, std::vector<uint8_t>* profile, std::string* error) {
  profile->clear();
  InputFile file;
  FileKind kind;
  if (!OpenImage(path, &file, &kind, error)) return false;
  if (kind != FileKind::kPng && kind != FileKind::kTiff) return true;  // no profile
  HostImage header;
  std::string reason;
  const bool ok = kind == FileKind::kPng ? codecs::ReadPng(&file, true, &header, &reason)
                                         : codecs::ReadTiff(&file, true, &header, &reason);
  if (!ok) {
    if (error) *error = reason;
    return false;
  }
  profile->swap(header.iccProfile);
  return true;
}

bool ReadImageFile(const std::string& path, HostImage* image, std::string* error) {
  InputFile file;
  FileKind kind;
  if (!OpenImage(path, &file, &kind, error)) return false;
  std::string reason;
  bool ok = false;
  switch (kind) {
    case FileKind::kPng:
      ok = codecs::ReadPng(&file, false, image, &reason);
      break;
    case FileKind::kTiff:
      ok = codecs::ReadTiff(&file, false, image, &reason);
      break;
    case FileKind::kRadiance:
      reason = kRadianceGone;
      break;
    case FileKind::kOther:
      reason = "not a PNG or TIFF image";
      break;
  }
  if (!ok && error) *error = reason;
  return ok;
}

bool CanWriteImageFile(const std::string& path, std::string* error) {
  if (LowerExtension(path) == ".hdr") {
    if (error) *error = kRadianceGone;
    return false;
  }
  return true;
}

bool WriteImageFile(const std::string& path, const HostImage& image, std::string* error,
                    const std::function<bool()>& cancelled, std::string* note) {
  if (!CanWriteImageFile(path, error)) return false;
  if (image.empty() || image.planes < 1 || image.planes > 4 ||
      (image.bytesPerSample != 1 && image.bytesPerSample != 2 && image.bytesPerSample != 4) ||
      image.pixels.size() != image.rowBytes() * static_cast<size_t>(image.height) ||
      image.width > 0x7fffffff / 8 / image.planes) {
    if (error) *error = "no image to write";
    return false;
  }
  OutputFile file;
  std::string reason;
  if (!file.Open(path, &reason)) {
    if (error) *error = reason;
    return false;
  }
  const bool ok = IsTiffName(path) ? codecs::WriteTiff(&file, image, cancelled, &reason)
                                   : codecs::WritePng(&file, image, cancelled, &reason, note);
  if (!ok) {
    file.Abandon();
    if (error) *error = reason;
    return false;
  }
  if (!file.Commit(&reason)) {
    if (error) *error = reason;
    return false;
  }
  return true;
}

bool ReadMaskFile(const std::string& path, int32_t width, int32_t height, std::vector<uint8_t>* mask,
                  std::string* error) {
  HostImage file;
  if (!ReadImageFile(path, &file, error)) return false;
  if (file.width != width || file.height != height) {
    if (error)
      *error = "the mask is " + std::to_string(file.width) + "x" + std::to_string(file.height) +
               ", the image " + std::to_string(width) + "x" + std::to_string(height);
    return false;
  }
  const HostImage gray = ConvertImage(file, ModeName::kGray8);
  if (gray.empty()) {
    if (error) *error = "out of memory";
    return false;
  }
  mask->resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) (*mask)[static_cast<size_t>(y) * width + x] = gray.Pixel(x, y)[0];
  return true;
}

}  // namespace hostkit
