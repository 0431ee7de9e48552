#include "preview/host_proxy_levels.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "color/color_management.h"
#include "color/color_transforms.h"
#include "image/pixel_access.h"
#include "runtime/report.h"

namespace {

// Every level holds linear light in 16 bits per channel: the preview screens
// the stars onto it and encodes the display's gamma last, and 8-bit linear
// codes would band in the shadows.
constexpr uint32_t LEVEL_MODE = IMAGE_MODE_RGB16;

int32_t ReducedSize(int32_t size, int64_t factor) {
  return static_cast<int32_t>(std::max<int64_t>(1, (static_cast<int64_t>(size) + factor - 1) / factor));
}

// Averages `factor` x `factor` blocks of `from` (its buffer) into `to` (whose
// buffer starts at 0, 0), in linear light, alpha included. False when told
// to stop (checked per row).
bool Downsample(const Image& from, int64_t factor, Image* to, const std::atomic<bool>* stop) {
  const ImageRect& f = from.bufferRect;
  for (int32_t y = 0; y < to->bufferHeight; ++y) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
    const int64_t top = f.top + y * factor, bottom = std::min<int64_t>(f.bottom, top + factor);
    for (int32_t x = 0; x < to->bufferWidth; ++x) {
      const int64_t left = f.left + x * factor, right = std::min<int64_t>(f.right, left + factor);
      uint64_t sum[4] = {0, 0, 0, 0};
      uint64_t count = 0;
      for (int64_t sy = top; sy < bottom; ++sy)
        for (int64_t sx = left; sx < right; ++sx) {
          PixelValue v;
          from.readPixel(&from, &v, static_cast<int32_t>(sx), static_cast<int32_t>(sy));
          sum[0] += v.red;
          sum[1] += v.green;
          sum[2] += v.blue;
          sum[3] += v.alpha;
          ++count;
        }
      if (count == 0) count = 1;
      const PixelValue out{static_cast<uint32_t>(sum[0] / count), static_cast<uint32_t>(sum[1] / count),
                           static_cast<uint32_t>(sum[2] / count), static_cast<uint32_t>(sum[3] / count),
                           PIXEL_KEEP};
      to->writePixel(to, &out, x, y);
    }
  }
  return true;
}

// Frees a level's pixels and keeps its place in the layout.
void KeepLayout(HostProxyLevel* level) {
  const int32_t width = level->image.width, height = level->image.height;
  ReleaseImage(&level->image);
  level->image.width = width;
  level->image.height = height;
}

bool MakeLevelImage(HostProxyLevel* level, ColorProfileHandle profile, double gamma) {
  // The record holds the level's size from the layout; the pixels come now.
  const ImageRect rect{0, 0, level->image.width, level->image.height};
  Image made{};
  int16_t status = 0;
  if (!CreateImage(rect, true, &made, rect, LEVEL_MODE, profile, gamma, false, &status)) {
    ReleaseImage(&made);
    return false;
  }
  level->image = made;
  return true;
}

}  // namespace

void LayOutHostProxyLevels(HostProxyImage* proxy, const Image& source, size_t memoryCap) {
  ReleaseHostProxyImage(proxy);
  const int32_t width = std::max(1, source.bufferRect.right - source.bufferRect.left);
  const int32_t height = std::max(1, source.bufferRect.bottom - source.bufferRect.top);
  const size_t pixelBytes = 8;
  // Level 1's reduction: the smallest power of two that fits the cap.
  int64_t factor = 1;
  while (factor < (int64_t{1} << 15) &&
         static_cast<double>(ReducedSize(width, factor)) * ReducedSize(height, factor) * pixelBytes >
             static_cast<double>(memoryCap))
    factor *= 2;
  for (int32_t level = 1; level < HOST_PROXY_LEVEL_COUNT; ++level, factor *= 2) {
    HostProxyLevel& l = proxy->levels[level];
    l.image.width = ReducedSize(width, factor);
    l.image.height = ReducedSize(height, factor);
    l.scaleX = l.scaleY = 1.0 / static_cast<double>(factor);
  }
  // Level 0: the host copy's own size and scale, never drawn.
  proxy->levels[0].image.width = width;
  proxy->levels[0].image.height = height;
  proxy->levels[0].scaleX = proxy->levels[0].scaleY = 1.0;
  proxy->rendered = true;
}

bool BuildHostProxyLevel(HostProxyImage* proxy, int32_t level, const Image& source, ColorProfileHandle displayProfile,
                         const std::atomic<bool>* stop) {
  if (level < 1 || level >= HOST_PROXY_LEVEL_COUNT || !proxy->rendered) {
    REPORT_DEBUG("BuildHostProxyLevel() - There is no level %d to build.", level);
    return false;
  }
  HostProxyLevel& l = proxy->levels[level];
  if (l.image.pixels.buffer != nullptr) return true;
  ColorProfileHandle display = displayProfile != nullptr ? displayProfile : GetStandardProfile();
  if (level > 1 && proxy->levels[level - 1].image.pixels.buffer != nullptr) {
    // Half of the level above, which is at hand.
    if (!MakeLevelImage(&l, display, 1.0)) return false;
    if (Downsample(proxy->levels[level - 1].image, 2, &l.image, stop)) return true;
    KeepLayout(&l);  // stopped: made again next time
    return false;
  }
  // Straight from the host image: a zoomed-out first view needs no larger
  // level.
  const double displayGamma = GetImageGammaOfProfile(display);
  const int64_t factor = static_cast<int64_t>(std::llround(1.0 / l.scaleX));
  if (factor == 1) {
    int16_t status = 0;
    if (!MakeLevelImage(&l, display, displayGamma) ||
        !ConvertImageRegion(ImagePoint{0, 0}, source.bufferRect, &source, &l.image, &status)) {
      KeepLayout(&l);
      return false;
    }
    LinearizeImage(&l.image);
    return true;
  }
  // A reduced level: averaged in the document's colours, then converted.
  Image reduced{};
  const ImageRect rect{0, 0, l.image.width, l.image.height};
  int16_t status = 0;
  bool ok = CreateImage(rect, true, &reduced, rect, source.mode, source.profile, source.gamma, false, &status);
  if (ok) {
    ok = Downsample(source, factor, &reduced, stop) && MakeLevelImage(&l, display, displayGamma) &&
         ConvertImageRegion(ImagePoint{0, 0}, rect, &reduced, &l.image, &status);
  }
  ReleaseImage(&reduced);
  if (ok)
    LinearizeImage(&l.image);
  else
    KeepLayout(&l);
  return ok;
}

bool GetHostProxyLevel(HostProxyImage* proxy, const Image& source, ColorProfileHandle displayProfile, double scale[2],
                       Image* image, const std::atomic<bool>* stop) {
  Image chosen{};
  double wanted[2] = {scale[0], scale[1]};
  if (!GetHostProxyImageInfo(*proxy, &chosen, wanted)) return false;
  // The lookup answers with a copy of the record: find which level it is.
  int32_t level = 1;
  for (int32_t i = 1; i < HOST_PROXY_LEVEL_COUNT; ++i)
    if (proxy->levels[i].scaleX == wanted[0] && proxy->levels[i].scaleY == wanted[1]) {
      level = i;
      break;
    }
  if (!BuildHostProxyLevel(proxy, level, source, displayProfile, stop)) return false;
  *image = proxy->levels[level].image;
  scale[0] = wanted[0];
  scale[1] = wanted[1];
  return true;
}

void ReleaseHostProxyImage(HostProxyImage* proxy) {
  for (int32_t i = 1; i < HOST_PROXY_LEVEL_COUNT; ++i) ReleaseImage(&proxy->levels[i].image);
  *proxy = HostProxyImage{};
}
