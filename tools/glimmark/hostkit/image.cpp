#include "hostkit/image.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_ONLY_HDR
#include <stb_image.h>
#include <stb_image_write.h>

#if defined(GLIMMARK_HOSTKIT_LIBPNG)
#include <png.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "host_abi/host_interface.h"
#include "hostkit/host_platform.h"

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
  return result;
}

namespace {

struct StbFree {
  void operator()(void* data) const { stbi_image_free(data); }
};

bool EndsWithHdr(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) { return char(c >= 'A' && c <= 'Z' ? c + 32 : c); });
  return tail == ".hdr";
}

std::string StbReason() {
  // stb names an unknown PNG chunk by its type, raw bytes that may be
  // control characters or start with a zero (an empty reason).
  const char* reason = stbi_failure_reason();
  std::string text = reason != nullptr ? reason : "";
  for (char& c : text)
    if (c < 0x20 || c > 0x7E) c = '?';
  return text.empty() ? "unreadable image" : text;
}

bool Fits(int width, int height, std::string* error) {
  // Coordinates of the interface are 32-bit; stb already refuses huge files.
  if (width <= 0 || height <= 0) {
    if (error) *error = "the image is empty";
    return false;
  }
  return true;
}

// Writes through `write` into a temporary name beside `path`, then renames.
template <typename WriteFn>
bool WriteAtomically(const std::string& path, WriteFn write, std::string* error) {
  const std::string temporary = path + ".tmp" + std::to_string(CurrentProcessId());
  std::string reason;
  if (!write(temporary, &reason)) {
    RemoveFileQuietly(temporary);
    if (error) *error = reason.empty() ? "cannot write the file" : reason;
    return false;
  }
  if (!MoveFileOver(temporary, path, &reason)) {
    RemoveFileQuietly(temporary);
    if (error) *error = reason;
    return false;
  }
  return true;
}

#if defined(GLIMMARK_HOSTKIT_LIBPNG)
bool Write16BitPng(const std::string& path, const HostImage& image, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    *error = "cannot create the file";
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    *error = "out of memory";
    return false;
  }
  std::vector<uint8_t> row(static_cast<size_t>(image.width) * static_cast<size_t>(image.planes) * 2);
  // libpng reports errors by longjmp; nothing with a destructor is created
  // between here and the end of the writing.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    *error = "cannot write the PNG data";
    return false;
  }
  png_init_io(png, file);
  static const int kTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                               PNG_COLOR_TYPE_RGB_ALPHA};
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 16,
               kTypes[image.planes - 1], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      for (int32_t p = 0; p < image.planes; ++p) {
        uint16_t value;
        if (image.bytesPerSample == 2) {
          uint16_t host;
          std::memcpy(&host, image.Pixel(x, y) + 2 * p, 2);
          value = HostToFile16(host);
        } else {
          double v = image.Get(x, y, p);
          v = v > 0 ? std::min(v, 1.0) : 0.0;
          value = static_cast<uint16_t>(std::lround(v * 65535));
        }
        uint8_t* out = row.data() + (static_cast<size_t>(x) * image.planes + p) * 2;
        out[0] = static_cast<uint8_t>(value >> 8);  // PNG is big-endian
        out[1] = static_cast<uint8_t>(value & 0xFF);
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0) {
    *error = "cannot finish the file";
    return false;
  }
  return true;
}
#endif

}  // namespace

bool CanWrite16BitPng() {
#if defined(GLIMMARK_HOSTKIT_LIBPNG)
  return true;
#else
  return false;
#endif
}

namespace {

constexpr size_t kMaxIccBytes = size_t(16) << 20;

bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>* bytes, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    if (error) *error = "cannot open the file";
    return false;
  }
  bytes->clear();
  uint8_t chunk[65536];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (bytes->size() + got > limit) {
      std::fclose(file);
      if (error) *error = "the file is too large";
      return false;
    }
    bytes->insert(bytes->end(), chunk, chunk + got);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed && error) *error = "read error";
  return !failed;
}

uint32_t BigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

}  // namespace

bool ReadIccFile(const std::string& path, std::vector<uint8_t>* profile, std::string* error) {
  if (!ReadWholeFile(path, kMaxIccBytes, profile, error)) return false;
  if (profile->size() < 128) {
    if (error) *error = "too short for an ICC profile";
    return false;
  }
  return true;
}

bool ReadPngIccProfile(const std::string& path, std::vector<uint8_t>* profile, std::string* error) {
  profile->clear();
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, size_t(1) << 31, &file, error)) return false;
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (file.size() < 8 || std::memcmp(file.data(), kSignature, 8) != 0) return true;  // not a PNG: no profile
  size_t at = 8;
  while (at + 12 <= file.size()) {
    const uint32_t length = BigEndian32(&file[at]);
    if (length > file.size() - at - 12) break;  // truncated: whatever follows is ignored
    const uint8_t* type = &file[at + 4];
    const uint8_t* data = &file[at + 8];
    if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0) break;
    if (std::memcmp(type, "iCCP", 4) == 0) {
      // Profile name (1-79 bytes), a zero byte, compression method 0, zlib data.
      const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data, 0, std::min<size_t>(length, 80)));
      const size_t header = end != nullptr ? static_cast<size_t>(end - data) + 2 : length + 1;
      if (end == nullptr || header > length || end[1] != 0) {
        if (error) *error = "damaged iCCP chunk";
        return false;
      }
      int outLength = 0;
      char* inflated = stbi_zlib_decode_malloc(reinterpret_cast<const char*>(data + header),
                                               static_cast<int>(length - header), &outLength);
      if (inflated == nullptr || outLength < 128 || static_cast<size_t>(outLength) > kMaxIccBytes) {
        stbi_image_free(inflated);
        if (error) *error = "damaged iCCP chunk";
        return false;
      }
      profile->assign(inflated, inflated + outLength);
      stbi_image_free(inflated);
      return true;
    }
    at += size_t(length) + 12;
  }
  return true;
}

bool ReadImageFile(const std::string& path, HostImage* image, std::string* error) {
  int width = 0, height = 0, channels = 0;
  if (stbi_is_hdr(path.c_str())) {
    std::unique_ptr<float, StbFree> data(stbi_loadf(path.c_str(), &width, &height, &channels, 3));
    if (!data) {
      if (error) *error = StbReason();
      return false;
    }
    if (!Fits(width, height, error)) return false;
    if (!image->Allocate(width, height, 3, 4)) {
      if (error) *error = "image too large";
      return false;
    }
    std::memcpy(image->pixels.data(), data.get(), image->pixels.size());
    return true;
  }
  const bool sixteen = stbi_is_16_bit(path.c_str()) != 0;
  std::unique_ptr<void, StbFree> data(sixteen ? static_cast<void*>(stbi_load_16(path.c_str(), &width, &height, &channels, 0))
                                              : static_cast<void*>(stbi_load(path.c_str(), &width, &height, &channels, 0)));
  if (!data) {
    if (error) *error = StbReason();
    return false;
  }
  if (!Fits(width, height, error)) return false;
  if (channels < 1 || channels > 4 || !image->Allocate(width, height, channels, sixteen ? 2 : 1)) {
    if (error) *error = "image too large or of an unknown layout";
    return false;
  }
  // A damaged profile chunk does not spoil the pixels: the document is read
  // without a profile, as an editor would.
  if (!ReadPngIccProfile(path, &image->iccProfile, nullptr)) image->iccProfile.clear();
  if (!sixteen) {
    std::memcpy(image->pixels.data(), data.get(), image->pixels.size());
  } else {
    const uint16_t* in = static_cast<const uint16_t*>(data.get());
    const size_t count = image->pixels.size() / 2;
    for (size_t i = 0; i < count; ++i) {
      const uint16_t value = FileToHost16(in[i]);
      std::memcpy(image->pixels.data() + 2 * i, &value, 2);
    }
  }
  return true;
}

bool WriteImageFile(const std::string& path, const HostImage& image, std::string* error) {
  if (image.empty() || image.planes < 1 || image.planes > 4 ||
      image.pixels.size() != image.rowBytes() * static_cast<size_t>(image.height) ||
      image.rowBytes() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    if (error) *error = "no image to write";
    return false;
  }
  if (EndsWithHdr(path)) {
    const HostImage rgb = ConvertImage(image, ModeName::kRgb32);
    if (rgb.empty()) {
      if (error) *error = "out of memory";
      return false;
    }
    std::vector<float> data(static_cast<size_t>(rgb.width) * static_cast<size_t>(rgb.height) * 3);
    for (int32_t y = 0; y < rgb.height; ++y)
      for (int32_t x = 0; x < rgb.width; ++x)
        for (int32_t p = 0; p < 3; ++p)
          data[(static_cast<size_t>(y) * rgb.width + x) * 3 + p] = static_cast<float>(rgb.Get(x, y, p));
    return WriteAtomically(
        path,
        [&](const std::string& temporary, std::string*) {
          return stbi_write_hdr(temporary.c_str(), rgb.width, rgb.height, 3, data.data()) != 0;
        },
        error);
  }
  if (image.bytesPerSample == 1) {
    return WriteAtomically(
        path,
        [&](const std::string& temporary, std::string*) {
          return stbi_write_png(temporary.c_str(), image.width, image.height, image.planes, image.pixels.data(),
                                static_cast<int>(image.rowBytes())) != 0;
        },
        error);
  }
#if defined(GLIMMARK_HOSTKIT_LIBPNG)
  return WriteAtomically(
      path, [&](const std::string& temporary, std::string* reason) { return Write16BitPng(temporary, image, reason); },
      error);
#else
  if (error) *error = "this build writes only 8-bit PNG and .hdr files; use an 8-bit mode or an .hdr name";
  return false;
#endif
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
