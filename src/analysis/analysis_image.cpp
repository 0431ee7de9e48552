#include "analysis/analysis_image.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "host/pixel_access.h"
#include "runtime/report.h"

namespace {

bool Stopped(const std::atomic<bool>* stop) { return stop != nullptr && stop->load(std::memory_order_relaxed); }

bool SameRect(const ImageRect& a, const ImageRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

int32_t Reduced(int32_t v, double scale) { return static_cast<int32_t>(v / scale + 1e-10); }

bool CopyBytes(const Image* source, Image* destination) {
  const size_t pixels = static_cast<size_t>(source->bufferWidth) * static_cast<size_t>(source->bufferHeight);
  const size_t bytes = pixels * 4 * static_cast<size_t>(source->bytesPerChannel);
  if (bytes > 0) std::memcpy(destination->pixels.buffer, source->pixels.buffer, bytes);
  if (destination->mask.buffer != nullptr && pixels > 0) {
    if (source->mask.buffer != nullptr) std::memcpy(destination->mask.buffer, source->mask.buffer, pixels);
    else std::memset(destination->mask.buffer, 255, pixels);
  }
  return true;
}

bool CopyPixels(const Image* source, Image* destination, const std::atomic<bool>* stop) {
  const ImageRect& r = destination->bufferRect;
  PixelValue p;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    for (int32_t x = r.left; x < r.right; ++x) {
      source->readPixel(source, &p, x, y);
      destination->writePixel(destination, &p, x, y);
    }
    if (Stopped(stop)) return false;
  }
  return true;
}

bool ReduceBlocks(const Image* source, Image* destination, const std::atomic<bool>* stop) {
  const ImageRect& s = source->bufferRect;
  const ImageRect& d = destination->bufferRect;
  const int64_t sw = s.right - s.left, sh = s.bottom - s.top;
  const int64_t dw = d.right - d.left, dh = d.bottom - d.top;
  const int64_t blockWidth = (sw + dw - 1) / dw;
  const int64_t blockHeight = (sh + dh - 1) / dh;
  PixelValue p;
  for (int64_t j = 0; j < dh; ++j) {
    const int64_t top = j * sh / dh;
    const int64_t bottom = std::min(top + blockHeight, sh);
    for (int64_t i = 0; i < dw; ++i) {
      const int64_t left = i * sw / dw;
      const int64_t right = std::min(left + blockWidth, sw);
      uint64_t sum[5] = {0, 0, 0, 0, 0};
      for (int64_t y = top; y < bottom; ++y) {
        for (int64_t x = left; x < right; ++x) {
          source->readPixel(source, &p, static_cast<int32_t>(s.left + x), static_cast<int32_t>(s.top + y));
          sum[0] += p.red;
          sum[1] += p.green;
          sum[2] += p.blue;
          sum[3] += p.alpha;
          sum[4] += p.mask;
        }
      }
      const uint64_t count = static_cast<uint64_t>((bottom - top) * (right - left));
      const PixelValue mean{static_cast<uint32_t>(sum[0] / count), static_cast<uint32_t>(sum[1] / count),
                            static_cast<uint32_t>(sum[2] / count), static_cast<uint32_t>(sum[3] / count),
                            static_cast<uint32_t>(sum[4] / count)};
      destination->writePixel(destination, &mean, static_cast<int32_t>(d.left + i), static_cast<int32_t>(d.top + j));
    }
    if (Stopped(stop)) return false;
  }
  return true;
}

}  // namespace

AnalysisGeometry ComputeAnalysisGeometry(const ImageRect& hostRect) {
  AnalysisGeometry geometry{1.0, hostRect};
  const int64_t width = static_cast<int64_t>(hostRect.right) - hostRect.left;
  const int64_t height = static_cast<int64_t>(hostRect.bottom) - hostRect.top;
  if (height > ANALYSIS_MAXIMUM_ROWS) {
    geometry.scale = static_cast<double>(std::max(width, height)) / ANALYSIS_MAXIMUM_ROWS;
    geometry.rect.left = Reduced(hostRect.left, geometry.scale);
    geometry.rect.top = Reduced(hostRect.top, geometry.scale);
    geometry.rect.right = Reduced(hostRect.right, geometry.scale);
    geometry.rect.bottom = Reduced(hostRect.bottom, geometry.scale);
  }
  if (geometry.rect.right <= geometry.rect.left) geometry.rect.right = geometry.rect.left + 1;
  if (geometry.rect.bottom <= geometry.rect.top) geometry.rect.bottom = geometry.rect.top + 1;
  return geometry;
}

bool CopyImageWithReduction(const Image* source, Image* destination, const std::atomic<bool>* stop) {
  if (Stopped(stop)) return false;
  if (source == nullptr || destination == nullptr || destination->pixels.buffer == nullptr) {
    REPORT_DEBUG("CopyImageWithReduction() received an image without pixels.");
    return false;
  }
  const ImageRect& d = destination->bufferRect;
  const ImageRect& s = source->bufferRect;
  if (d.right <= d.left || d.bottom <= d.top) return true;
  if (s.right <= s.left || s.bottom <= s.top || source->pixels.buffer == nullptr) {
    // Nothing to copy from: a transparent destination has nothing to find.
    const PixelValue transparent{0, 0, 0, 0, 0};
    FillImageRect(d, transparent, destination);
    return true;
  }
  if (SameRect(s, d)) {
    if (source->mode == destination->mode && source->bytesPerChannel == destination->bytesPerChannel)
      return CopyBytes(source, destination);
    return CopyPixels(source, destination, stop);
  }
  return ReduceBlocks(source, destination, stop);
}

bool BuildAnalysisImage(const Image* host, Image* analysis, double* scale, ConvertToLinearWorking convert,
                        const std::atomic<bool>* stop, AnalysisImageTimings* timings) {
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); };
  if (host == nullptr || analysis == nullptr || scale == nullptr || convert == nullptr) {
    REPORT_DEBUG("BuildAnalysisImage() received a NULL argument.");
    return false;
  }
  const AnalysisGeometry geometry = ComputeAnalysisGeometry(host->imageRect);
  *scale = geometry.scale;
  Clock::time_point start = Clock::now();
  const bool copied = CreateImage(geometry.rect, false, analysis, geometry.rect, IMAGE_MODE_RGB16, host->profile,
                                  host->gamma, true, nullptr) &&
                      CopyImageWithReduction(host, analysis, stop);
  if (timings != nullptr) timings->reduction = seconds(start);
  if (!copied) return false;
  start = Clock::now();
  const bool converted = convert(analysis);
  if (timings != nullptr) timings->conversion = seconds(start);
  return converted;
}
