#pragma once
// The two codecs behind image.h's file routines: PNG through libpng
// (image_png.cpp) and TIFF through libtiff (image_tiff.cpp). image.cpp picks
// one by the file's first bytes or the output name; the codecs report the
// cause of a failure in plain words through *error.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "hostkit/file_io.h"
#include "hostkit/image.h"

namespace hostkit {
namespace codecs {

// The largest embedded profile either codec accepts.
constexpr size_t kMaxIccBytes = size_t(16) << 20;

// zlib's effort for both formats. On a 6000 × 4000 photo, level 3 writes
// in about a third of the time of zlib's default 6 for files about 15%
// larger (floats 25%).
constexpr int kDeflateLevel = 3;

using Cancelled = std::function<bool()>;

// With `profileOnly`, reads only as far as the profile: false when the file
// or its profile is unusable. Otherwise reads the whole image; an unusable
// profile then leaves iccProfile empty and the pixels are read all the same.
bool ReadPng(InputFile* file, bool profileOnly, HostImage* image, std::string* error);
bool ReadTiff(InputFile* file, bool profileOnly, HostImage* image, std::string* error);

// `image` has 1 to 4 planes and pixels of its size (image.cpp checks).
// `note` hears of a profile libpng would not embed for this image.
bool WritePng(OutputFile* file, const HostImage& image, const Cancelled& cancelled, std::string* error,
              std::string* note);
bool WriteTiff(OutputFile* file, const HostImage& image, const Cancelled& cancelled, std::string* error);

// The text of a cancelled write.
extern const char kCancelledText[];

// The file's own 16-bit samples of `image` when it carries them for its
// present layout, else null.
inline const uint16_t* FileSamplesOf(const HostImage& image) {
  const bool valid = image.bytesPerSample == 2 && image.fileSamples16.size() * 2 == image.pixels.size();
  return valid ? image.fileSamples16.data() : nullptr;
}

// The 16-bit file value for host sample `host`: the file's own value
// `original` where the host sample still matches it, else the host sample's.
inline uint16_t FileValue16(uint16_t host, const uint16_t* original) {
  if (original != nullptr && FileToHost16(*original) == host) return *original;
  return HostToFile16(host);
}

}  // namespace codecs
}  // namespace hostkit
