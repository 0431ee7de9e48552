// Makes the benchmark's large night photo: an 8-bit RGB PNG upscaled
// (bilinear) from a smaller photo, so that the filter meets the same kind of
// sky and highlights at full camera size.
//   make_night_photo IN OUT WIDTH HEIGHT
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hostkit/image.h"

namespace {

bool ParseSize(const char* text, int* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (*end != '\0' || parsed < 1 || parsed > 30000) return false;
  *value = static_cast<int>(parsed);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int width = 0, height = 0;
  if (argc != 5 || !ParseSize(argv[3], &width) || !ParseSize(argv[4], &height)) {
    std::fprintf(stderr, "usage: make_night_photo IN OUT WIDTH HEIGHT (sizes 1 to 30000)\n");
    return 2;
  }
  hostkit::HostImage file;
  std::string reason;
  if (!hostkit::ReadImageFile(argv[1], &file, &reason)) {
    std::fprintf(stderr, "make_night_photo: cannot read '%s': %s\n", argv[1], reason.c_str());
    return 1;
  }
  const hostkit::HostImage rgb = hostkit::ConvertImage(file, hostkit::ModeName::kRgb8);
  if (rgb.empty()) {
    std::fprintf(stderr, "make_night_photo: not enough memory for '%s'\n", argv[1]);
    return 1;
  }
  const unsigned char* in = rgb.pixels.data();
  const int inWidth = rgb.width, inHeight = rgb.height;
  std::vector<unsigned char> out(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  const double sx = static_cast<double>(inWidth) / width, sy = static_cast<double>(inHeight) / height;
  for (int y = 0; y < height; ++y) {
    const double fy = std::max(0.0, (y + 0.5) * sy - 0.5);
    const int y0 = std::min(static_cast<int>(fy), inHeight - 1), y1 = std::min(y0 + 1, inHeight - 1);
    const double wy = fy - y0;
    for (int x = 0; x < width; ++x) {
      const double fx = std::max(0.0, (x + 0.5) * sx - 0.5);
      const int x0 = std::min(static_cast<int>(fx), inWidth - 1), x1 = std::min(x0 + 1, inWidth - 1);
      const double wx = fx - x0;
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int px, int py) { return in[(static_cast<size_t>(py) * inWidth + px) * 3 + c]; };
        const double top = at(x0, y0) * (1 - wx) + at(x1, y0) * wx;
        const double bottom = at(x0, y1) * (1 - wx) + at(x1, y1) * wx;
        out[(static_cast<size_t>(y) * width + x) * 3 + c] =
            static_cast<unsigned char>(top * (1 - wy) + bottom * wy + 0.5);
      }
    }
  }
  hostkit::HostImage photo;
  photo.Allocate(width, height, 3);
  photo.pixels.swap(out);
  if (!hostkit::WriteImageFile(argv[2], photo, &reason)) {
    std::fprintf(stderr, "make_night_photo: cannot write '%s': %s\n", argv[2], reason.c_str());
    return 1;
  }
  return 0;
}
