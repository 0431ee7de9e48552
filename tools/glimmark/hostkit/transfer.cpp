// The image-transfer side of the host: what advanceState (and the host
// before each Continue) does with the rectangles and plane ranges the module
// requested. Input is a fresh copy of the image, interleaved planes
// inLoPlane..inHiPlane, samples of the image's depth; output starts as the
// current pixels and is written back into the image (inside the filter
// rectangle only) on the next delivery or when the selector returns. The
// mask comes as one byte per pixel and follows the mask padding.
#include <algorithm>
#include <cstring>
#include <limits>

#include "hostkit/host.h"

namespace hostkit {

namespace {

// Bigger requests than this are refused as out of memory.
constexpr uint64_t kMaxBufferBytes = uint64_t(1) << 31;

bool IsEmpty(const VRect& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

VRect FromRect16(const Rect& rect) { return VRect{rect.top, rect.left, rect.bottom, rect.right}; }

}  // namespace

bool Host::UsingBigCoordinates() const {
  return record_.bigDocumentData && bigDocument_.PluginUsing32BitCoordinates != 0;
}

VRect Host::RequestedRect(int which) const {
  if (UsingBigCoordinates()) {
    return which == 0 ? bigDocument_.inRect32 : which == 1 ? bigDocument_.outRect32 : bigDocument_.maskRect32;
  }
  return FromRect16(which == 0 ? record_.inRect : which == 1 ? record_.outRect : record_.maskRect);
}

bool Host::RequestsData() const {
  for (int which = 0; which < 3; ++which)
    if (!IsEmpty(RequestedRect(which))) return true;
  return false;
}

OSErr Host::Deliver() {
  FlushOutput();
  const VRect in = RequestedRect(0), out = RequestedRect(1), mask = RequestedRect(2);
  const size_t sample = static_cast<size_t>(image_.bytesPerSample);
  for (const VRect* rect : {&in, &out, &mask}) {
    if (rect->right < rect->left || rect->bottom < rect->top) return paramErr;
    const uint64_t pixels = uint64_t(int64_t(rect->right) - rect->left) * uint64_t(int64_t(rect->bottom) - rect->top);
    if (pixels * uint64_t(std::max(image_.planes, 1)) * sample > kMaxBufferBytes) return memFullErr;
  }
  int32_t inLo = record_.inLoPlane, inHi = record_.inHiPlane;
  int32_t outLo = record_.outLoPlane, outHi = record_.outHiPlane;
  if (options_.planeZeroQuirk) {
    // The engine this mimics serves a lone plane p > 0 as plane 0.
    if (inLo == inHi && inLo > 0) inLo = inHi = 0;
    if (outLo == outHi && outLo > 0) outLo = outHi = 0;
  }
  // The quirky engine refreshes input only when the rectangle changes.
  const bool keepInput = options_.planeZeroQuirk && !IsEmpty(in) && !inBuffer_.empty() && record_.inData &&
                         in.top == lastInRect_.top && in.left == lastInRect_.left &&
                         in.bottom == lastInRect_.bottom && in.right == lastInRect_.right;
  if (!keepInput) {
    record_.inData = nullptr;
    record_.inRowBytes = 0;
  }
  record_.outData = nullptr;
  record_.outRowBytes = 0;
  record_.maskData = mask_.empty() ? nullptr : mask_.data();
  record_.maskRowBytes = mask_.empty() ? 0 : image_.width;

  if (!IsEmpty(in) && !keepInput) {
    if (inLo < 0 || inHi < inLo || inHi >= image_.planes) return paramErr;
    OSErr result = FillInput(in, inLo, inHi);
    if (result != noErr) return result;
    lastInRect_ = in;
  }
  if (!IsEmpty(out)) {
    if (outLo < 0 || outHi < outLo || outHi >= image_.planes) return paramErr;
    FillOutput(out, outLo, outHi);
  }
  if (!IsEmpty(mask) && !mask_.empty()) FillMask(mask);
  return noErr;
}

void Host::PaddingSample(int16_t padding, uint8_t* sample) const {
  // A padding value v of 0..255 is v/255 of full scale in every depth.
  const int32_t value = std::clamp<int32_t>(padding, 0, 255);
  if (image_.bytesPerSample == 1) {
    sample[0] = static_cast<uint8_t>(value);
  } else if (image_.bytesPerSample == 2) {
    const uint16_t v = static_cast<uint16_t>((value * 2 * kHost16Max + 255) / (2 * 255));
    std::memcpy(sample, &v, 2);
  } else {
    const float v = static_cast<float>(value) / 255.0f;
    std::memcpy(sample, &v, 4);
  }
}

OSErr Host::FillInput(const VRect& rect, int32_t lo, int32_t hi) {
  const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top, count = hi - lo + 1;
  const size_t sample = static_cast<size_t>(image_.bytesPerSample);
  const size_t pixelBytes = static_cast<size_t>(count) * sample;
  const size_t rowBytes = static_cast<size_t>(width) * pixelBytes + std::max(options_.extraRowBytes, 0);
  if (rowBytes > size_t(std::numeric_limits<int32_t>::max())) return memFullErr;
  const int16_t padding = record_.inputPadding;
  const bool inside = rect.left >= 0 && rect.top >= 0 && rect.right <= image_.width && rect.bottom <= image_.height;
  if (!inside && (padding == plugInWantsErrorOnBoundsException || padding < plugInWantsErrorOnBoundsException ||
                  padding > 255))
    return paramErr;
  inBuffer_.assign(rowBytes * static_cast<size_t>(height), 0);
  if (!inside && padding >= 0) {
    uint8_t fill[4] = {};
    PaddingSample(padding, fill);
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* row = inBuffer_.data() + rowBytes * static_cast<size_t>(y);
      for (size_t i = 0; i < static_cast<size_t>(width) * static_cast<size_t>(count); ++i)
        std::memcpy(row + i * sample, fill, sample);
    }
  }
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = inBuffer_.data() + rowBytes * static_cast<size_t>(y);
    int32_t sy = rect.top + y;
    const bool rowInside = sy >= 0 && sy < image_.height;
    if (!rowInside && padding != plugInWantsEdgeReplication) continue;
    sy = std::clamp(sy, 0, image_.height - 1);
    if (inside && pixelBytes == image_.pixelBytes()) {
      // Every plane of columns inside the document: the row as it is.
      std::memcpy(row, image_.Pixel(rect.left, sy), static_cast<size_t>(width) * pixelBytes);
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      int32_t sx = rect.left + x;
      const bool columnInside = sx >= 0 && sx < image_.width;
      if ((!rowInside || !columnInside) && padding != plugInWantsEdgeReplication) continue;
      sx = std::clamp(sx, 0, image_.width - 1);
      std::memcpy(row + static_cast<size_t>(x) * pixelBytes, image_.Pixel(sx, sy) + static_cast<size_t>(lo) * sample,
                  pixelBytes);
    }
  }
  record_.inData = inBuffer_.data();
  record_.inRowBytes = static_cast<int32_t>(rowBytes);
  return noErr;
}

void Host::FillOutput(const VRect& rect, int32_t lo, int32_t hi) {
  const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top, count = hi - lo + 1;
  const size_t sample = static_cast<size_t>(image_.bytesPerSample);
  const size_t pixelBytes = static_cast<size_t>(count) * sample;
  const size_t rowBytes = static_cast<size_t>(width) * pixelBytes + std::max(options_.extraRowBytes, 0);
  outBuffer_.assign(rowBytes * static_cast<size_t>(height), 0);
  for (int32_t y = 0; y < height; ++y) {
    const int32_t sy = rect.top + y;
    if (sy < 0 || sy >= image_.height) continue;
    uint8_t* row = outBuffer_.data() + rowBytes * static_cast<size_t>(y);
    if (rect.left >= 0 && rect.right <= image_.width && pixelBytes == image_.pixelBytes()) {
      std::memcpy(row, image_.Pixel(rect.left, sy), static_cast<size_t>(width) * pixelBytes);
      continue;
    }
    for (int32_t x = 0; x < width; ++x) {
      const int32_t sx = rect.left + x;
      if (sx < 0 || sx >= image_.width) continue;
      std::memcpy(row + static_cast<size_t>(x) * pixelBytes, image_.Pixel(sx, sy) + static_cast<size_t>(lo) * sample,
                  pixelBytes);
    }
  }
  record_.outData = outBuffer_.data();
  record_.outRowBytes = static_cast<int32_t>(rowBytes);
  output_.pending = true;
  output_.rect = rect;
  output_.loPlane = lo;
  output_.hiPlane = hi;
  output_.rowBytes = static_cast<int32_t>(rowBytes);
}

void Host::FillMask(const VRect& rect) {
  const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top;
  const size_t rowBytes = static_cast<size_t>(width) + std::max(options_.extraRowBytes, 0);
  const int16_t padding = record_.maskPadding;
  maskBuffer_.assign(rowBytes * static_cast<size_t>(height), padding >= 0 && padding <= 255 ? uint8_t(padding) : 0);
  for (int32_t y = 0; y < height; ++y) {
    int32_t sy = rect.top + y;
    const bool rowInside = sy >= 0 && sy < image_.height;
    if (!rowInside && padding != plugInWantsEdgeReplication) continue;
    sy = std::clamp(sy, 0, image_.height - 1);
    for (int32_t x = 0; x < width; ++x) {
      int32_t sx = rect.left + x;
      const bool columnInside = sx >= 0 && sx < image_.width;
      if ((!rowInside || !columnInside) && padding != plugInWantsEdgeReplication) continue;
      sx = std::clamp(sx, 0, image_.width - 1);
      maskBuffer_[rowBytes * static_cast<size_t>(y) + static_cast<size_t>(x)] =
          mask_[static_cast<size_t>(sy) * static_cast<size_t>(image_.width) + static_cast<size_t>(sx)];
    }
  }
  record_.maskData = maskBuffer_.data();
  record_.maskRowBytes = static_cast<int32_t>(rowBytes);
}

void Host::FlushOutput() {
  if (!output_.pending) return;
  output_.pending = false;
  const VRect& rect = output_.rect;
  const size_t sample = static_cast<size_t>(image_.bytesPerSample);
  const size_t pixelBytes = static_cast<size_t>(output_.hiPlane - output_.loPlane + 1) * sample;
  // Only the filter rectangle of the document changes.
  const int32_t top = std::max({rect.top, filterRect_.top, 0});
  const int32_t bottom = std::min({rect.bottom, filterRect_.bottom, image_.height});
  const int32_t left = std::max({rect.left, filterRect_.left, 0});
  const int32_t right = std::min({rect.right, filterRect_.right, image_.width});
  for (int32_t y = top; y < bottom; ++y) {
    const uint8_t* row = outBuffer_.data() + static_cast<size_t>(output_.rowBytes) * static_cast<size_t>(y - rect.top);
    if (pixelBytes == image_.pixelBytes()) {
      if (right > left)
        std::memcpy(image_.Pixel(left, y), row + static_cast<size_t>(left - rect.left) * pixelBytes,
                    static_cast<size_t>(right - left) * pixelBytes);
      continue;
    }
    for (int32_t x = left; x < right; ++x) {
      std::memcpy(image_.Pixel(x, y) + static_cast<size_t>(output_.loPlane) * sample,
                  row + static_cast<size_t>(x - rect.left) * pixelBytes, pixelBytes);
    }
  }
}

}  // namespace hostkit
