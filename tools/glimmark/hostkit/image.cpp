#include "hostkit/image.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb_image.h>
#include <stb_image_write.h>

#include <cstring>
#include <limits>
#include <new>

#include "hostkit/host_platform.h"

namespace hostkit {

bool HostImage::Allocate(int32_t newWidth, int32_t newHeight, int32_t newPlanes) {
  width = height = 0;
  pixels.clear();
  if (newWidth <= 0 || newHeight <= 0 || newPlanes <= 0 || newPlanes > 32) return false;
  const uint64_t bytes = static_cast<uint64_t>(newWidth) * static_cast<uint64_t>(newHeight) *
                         static_cast<uint64_t>(newPlanes);
  if (bytes > std::numeric_limits<size_t>::max() / 2) return false;
  try {
    pixels.assign(static_cast<size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  width = newWidth;
  height = newHeight;
  planes = newPlanes;
  return true;
}

bool ReadPng(const std::string& path, HostImage* image, std::string* error) {
  int width = 0, height = 0, channels = 0;
  stbi_uc* data = stbi_load(path.c_str(), &width, &height, &channels, 3);
  if (!data) {
    const char* reason = stbi_failure_reason();
    if (error) *error = reason ? reason : "unreadable image";
    return false;
  }
  bool ok = image->Allocate(width, height, 3);
  if (ok) {
    std::memcpy(image->pixels.data(), data, image->pixels.size());
  } else if (error) {
    *error = "image too large";
  }
  stbi_image_free(data);
  return ok;
}

bool WritePng(const std::string& path, const HostImage& image, std::string* error) {
  if (image.empty() || image.planes < 1 || image.planes > 4 ||
      image.pixels.size() != image.rowBytes() * static_cast<size_t>(image.height) ||
      image.rowBytes() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    if (error) *error = "no image to write";
    return false;
  }
  const std::string temporary = path + ".tmp" + std::to_string(CurrentProcessId());
  if (!stbi_write_png(temporary.c_str(), image.width, image.height, image.planes, image.pixels.data(),
                      static_cast<int>(image.rowBytes()))) {
    RemoveFileQuietly(temporary);
    if (error) *error = "cannot write the file";
    return false;
  }
  std::string reason;
  if (!MoveFileOver(temporary, path, &reason)) {
    RemoveFileQuietly(temporary);
    if (error) *error = reason;
    return false;
  }
  return true;
}

}  // namespace hostkit
