#include "analysis/analysis_image.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "image/pixel_access.h"
#include "runtime/report.h"
#include "runtime/status.h"

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
    if (source->mask.buffer != nullptr)
      std::memcpy(destination->mask.buffer, source->mask.buffer, pixels);
    else
      std::memset(destination->mask.buffer, 255, pixels);
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

// The mean of each source block, with the pixel routines' own arithmetic
// written out for the common modes so that the reduction does not pay a call
// per pixel; other modes go through the pixel routine.
class BlockReducer {
 public:
  BlockReducer(const Image* source, Image* destination) : source_(source), destination_(destination) {
    for (uint32_t i = 0; i < 256; ++i) alpha8_[i] = AlphaFrom8(static_cast<uint8_t>(i));
    if (source->gammaTables != nullptr && source->mode == IMAGE_MODE_RGB8) kind_ = RGB8;
    if (source->gammaTables != nullptr && source->mode == IMAGE_MODE_RGB16) {
      kind_ = RGB16;
      alpha16_.resize(65536);
      for (uint32_t i = 0; i < 65536; ++i) alpha16_[i] = AlphaFrom16(static_cast<uint16_t>(i));
    }
    if (source->mode == IMAGE_MODE_RGB_FLOAT || source->mode == IMAGE_MODE_GRAY_FLOAT) {
      kind_ = source->mode == IMAGE_MODE_RGB_FLOAT ? RGB_FLOAT : GRAY_FLOAT;
      memo_.assign(MEMO_ENTRIES, 0);
    }
  }

  // Destination rows [rowBegin, rowEnd); false when stopped.
  bool Rows(int64_t rowBegin, int64_t rowEnd, const std::atomic<bool>* stop) {
    const ImageRect& s = source_->bufferRect;
    const ImageRect& d = destination_->bufferRect;
    const int64_t sw = s.right - s.left, sh = s.bottom - s.top;
    const int64_t dw = d.right - d.left, dh = d.bottom - d.top;
    const int64_t blockWidth = (sw + dw - 1) / dw;
    const int64_t blockHeight = (sh + dh - 1) / dh;
    for (int64_t j = rowBegin; j < rowEnd; ++j) {
      const int64_t top = j * sh / dh;
      const int64_t bottom = std::min(top + blockHeight, sh);
      for (int64_t i = 0; i < dw; ++i) {
        const int64_t left = i * sw / dw;
        const int64_t right = std::min(left + blockWidth, sw);
        uint64_t sum[5] = {0, 0, 0, 0, 0};
        for (int64_t y = top; y < bottom; ++y) AddRun(s.top + y, left, right, sum);
        const uint64_t count = static_cast<uint64_t>((bottom - top) * (right - left));
        const PixelValue mean{static_cast<uint32_t>(sum[0] / count), static_cast<uint32_t>(sum[1] / count),
                              static_cast<uint32_t>(sum[2] / count), static_cast<uint32_t>(sum[3] / count),
                              static_cast<uint32_t>(sum[4] / count)};
        destination_->writePixel(destination_, &mean, static_cast<int32_t>(d.left + i),
                                 static_cast<int32_t>(d.top + j));
      }
      if (Stopped(stop)) return false;
    }
    return true;
  }

 private:
  enum Kind { OTHER, RGB8, RGB16, RGB_FLOAT, GRAY_FLOAT };

  // A float sample's linear value, remembered: with a gamma other than 1
  // each one costs a pow(), and images hold far fewer distinct values than
  // samples. The memo is this reducer's own (one per thread).
  static constexpr int MEMO_BITS = 12;
  static constexpr size_t MEMO_ENTRIES = size_t{1} << MEMO_BITS;
  uint32_t LinearOf(float sample) {
    uint32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    uint64_t& entry = memo_[(bits * 0x9E3779B1u) >> (32 - MEMO_BITS)];
    // Key bits + 1 in the upper half: an empty entry (0) matches nothing.
    if ((entry >> 32) == uint64_t{bits} + 1) return static_cast<uint32_t>(entry);
    const uint32_t value = LinearOfFloatSample(source_, sample);
    entry = (uint64_t{bits} + 1) << 32 | value;
    return value;
  }

  // Adds columns [left, right) (relative to the buffer) of row y to sum.
  void AddRun(int64_t y, int64_t left, int64_t right, uint64_t* sum) {
    const ImageRect& r = source_->bufferRect;
    const size_t first = static_cast<size_t>(y - r.top) * static_cast<size_t>(source_->bufferWidth);
    const uint8_t* mask =
        source_->mask.buffer != nullptr ? static_cast<const uint8_t*>(source_->mask.buffer) + first : nullptr;
    if (mask != nullptr) {
      for (int64_t x = left; x < right; ++x) sum[4] += alpha8_[mask[x]];
    } else {
      sum[4] += static_cast<uint64_t>(right - left) * PIXEL_OPAQUE;
    }
    if (kind_ == RGB8) {
      const uint32_t* linear = source_->gammaTables->code8ToLinear;
      const uint8_t* p = static_cast<const uint8_t*>(source_->pixels.buffer) + (first + static_cast<size_t>(left)) * 4;
      for (int64_t x = left; x < right; ++x, p += 4) {
        sum[0] += linear[p[2]];  // blue first in memory
        sum[1] += linear[p[1]];
        sum[2] += linear[p[0]];
        sum[3] += alpha8_[p[3]];
      }
    } else if (kind_ == RGB16) {
      const uint32_t* linear = source_->gammaTables->code16ToLinear;
      const uint16_t* p =
          static_cast<const uint16_t*>(source_->pixels.buffer) + (first + static_cast<size_t>(left)) * 4;
      for (int64_t x = left; x < right; ++x, p += 4) {
        sum[0] += linear[p[0]];
        sum[1] += linear[p[1]];
        sum[2] += linear[p[2]];
        sum[3] += alpha16_[p[3]];
      }
    } else if (kind_ == RGB_FLOAT || kind_ == GRAY_FLOAT) {
      const float* p = static_cast<const float*>(source_->pixels.buffer) + (first + static_cast<size_t>(left)) * 4;
      for (int64_t x = left; x < right; ++x, p += 4) {
        const uint32_t red = LinearOf(p[0]);
        sum[0] += red;
        sum[1] += kind_ == GRAY_FLOAT ? red : LinearOf(p[1]);
        sum[2] += kind_ == GRAY_FLOAT ? red : LinearOf(p[2]);
        sum[3] += AlphaOfFloatSample(p[3]);
      }
    } else {
      PixelValue v;
      for (int64_t x = left; x < right; ++x) {
        source_->readPixel(source_, &v, static_cast<int32_t>(r.left + x), static_cast<int32_t>(y));
        sum[0] += v.red;
        sum[1] += v.green;
        sum[2] += v.blue;
        sum[3] += v.alpha;
      }
    }
  }

  const Image* source_;
  Image* destination_;
  Kind kind_ = OTHER;
  uint32_t alpha8_[256];
  std::vector<uint32_t> alpha16_;
  std::vector<uint64_t> memo_;
};

// Destination rows [rowBegin, rowEnd) of the reduction.
bool ReduceRows(const Image* source, Image* destination, int64_t rowBegin, int64_t rowEnd,
                const std::atomic<bool>* stop) {
  std::unique_ptr<BlockReducer> reducer;
  try {
    reducer = std::make_unique<BlockReducer>(source, destination);
  } catch (const std::bad_alloc&) {
    REPORT_DEBUG("CopyImageWithReduction() could not allocate its conversion tables.");
    return false;
  }
  return reducer->Rows(rowBegin, rowEnd, stop);
}

// Splits the destination rows over up to `threads` threads (this one
// included). Each row is computed the same way whoever computes it.
bool ReduceBlocks(const Image* source, Image* destination, const std::atomic<bool>* stop, int32_t threads) {
  const int64_t dh = destination->bufferRect.bottom - destination->bufferRect.top;
  const int64_t parts = std::clamp<int64_t>(std::min<int64_t>(threads, dh / 64), 1, 24);
  std::atomic<bool> ok{true};
  std::vector<std::thread> helpers;
  int64_t inlineFrom = 0;
  for (int64_t k = 1; k < parts; ++k) {
    const int64_t begin = dh * k / parts, end = dh * (k + 1) / parts;
    try {
      helpers.emplace_back([=, &ok] {
        if (!ReduceRows(source, destination, begin, end, stop)) ok = false;
      });
    } catch (const std::exception&) {
      // Without another thread this one does the rest.
      inlineFrom = begin;
      break;
    }
  }
  const int64_t ownEnd = parts > 1 ? dh / parts : dh;
  bool result = ReduceRows(source, destination, 0, ownEnd, stop);
  if (inlineFrom > 0) result = ReduceRows(source, destination, inlineFrom, dh, stop) && result;
  for (std::thread& helper : helpers) helper.join();
  return result && ok.load();
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

bool CopyImageWithReduction(const Image* source, Image* destination, const std::atomic<bool>* stop, int32_t threads) {
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
  return ReduceBlocks(source, destination, stop, threads);
}

bool BuildAnalysisImage(const Image* host, Image* analysis, double* scale, ConvertToLinearWorking convert,
                        const std::atomic<bool>* stop, int32_t threads, AnalysisImageTimings* timings,
                        int16_t* status) {
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
                                  host->gamma, true, status) &&
                      CopyImageWithReduction(host, analysis, stop, threads);
  if (timings != nullptr) timings->reduction = seconds(start);
  if (!copied) return false;
  start = Clock::now();
  const bool converted = convert(analysis);
  if (timings != nullptr) timings->conversion = seconds(start);
  // A conversion that left the image without gamma tables had no memory for
  // the new gamma's tables.
  if (!converted && analysis->gammaTables == nullptr && status != nullptr) *status = STATUS_OUT_OF_MEMORY;
  return converted;
}
