// The image-transfer side of the host: what advanceState (and the host
// before each Continue) does with the rectangles and plane ranges the module
// requested. Input is a fresh copy of the image, interleaved planes
// inLoPlane..inHiPlane; output starts as the current pixels and is written
// back into the image (inside the filter rectangle only) on the next
// delivery or when the selector returns.
#include <algorithm>
#include <cstring>

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
  record_.inData = nullptr;
  record_.outData = nullptr;
  record_.inRowBytes = record_.outRowBytes = 0;
  record_.maskData = mask_.empty() ? nullptr : mask_.data();
  record_.maskRowBytes = mask_.empty() ? 0 : image_.width;

  const VRect in = RequestedRect(0), out = RequestedRect(1), mask = RequestedRect(2);
  for (const VRect* rect : {&in, &out, &mask}) {
    if (rect->right < rect->left || rect->bottom < rect->top) return paramErr;
    const uint64_t pixels = uint64_t(rect->right - rect->left) * uint64_t(rect->bottom - rect->top);
    if (pixels * uint64_t(std::max(image_.planes, 1)) > kMaxBufferBytes) return memFullErr;
  }
  if (!IsEmpty(in)) {
    if (record_.inLoPlane < 0 || record_.inHiPlane < record_.inLoPlane || record_.inHiPlane >= image_.planes)
      return paramErr;
    OSErr result = FillInput(in, record_.inLoPlane, record_.inHiPlane);
    if (result != noErr) return result;
  }
  if (!IsEmpty(out)) {
    if (record_.outLoPlane < 0 || record_.outHiPlane < record_.outLoPlane ||
        record_.outHiPlane >= image_.planes)
      return paramErr;
    FillOutput(out, record_.outLoPlane, record_.outHiPlane);
  }
  if (!IsEmpty(mask) && !mask_.empty()) FillMask(mask);
  return noErr;
}

OSErr Host::FillInput(const VRect& rect, int32_t lo, int32_t hi) {
  const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top, count = hi - lo + 1;
  const size_t rowBytes = static_cast<size_t>(width) * count + std::max(options_.extraRowBytes, 0);
  const int16_t padding = record_.inputPadding;
  const bool inside = rect.left >= 0 && rect.top >= 0 && rect.right <= image_.width && rect.bottom <= image_.height;
  if (!inside && (padding == plugInWantsErrorOnBoundsException || padding < plugInWantsErrorOnBoundsException ||
                  padding > 255))
    return paramErr;
  const uint8_t fill = padding >= 0 ? static_cast<uint8_t>(padding) : 0;
  inBuffer_.assign(rowBytes * static_cast<size_t>(height), fill);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = inBuffer_.data() + rowBytes * static_cast<size_t>(y);
    int32_t sy = rect.top + y;
    const bool rowInside = sy >= 0 && sy < image_.height;
    if (!rowInside && padding != plugInWantsEdgeReplication) continue;
    sy = std::clamp(sy, 0, image_.height - 1);
    for (int32_t x = 0; x < width; ++x) {
      int32_t sx = rect.left + x;
      const bool columnInside = sx >= 0 && sx < image_.width;
      if ((!rowInside || !columnInside) && padding != plugInWantsEdgeReplication) continue;
      sx = std::clamp(sx, 0, image_.width - 1);
      std::memcpy(row + static_cast<size_t>(x) * count, image_.Pixel(sx, sy) + lo, static_cast<size_t>(count));
    }
  }
  record_.inData = inBuffer_.data();
  record_.inRowBytes = static_cast<int32_t>(rowBytes);
  return noErr;
}

void Host::FillOutput(const VRect& rect, int32_t lo, int32_t hi) {
  const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top, count = hi - lo + 1;
  const size_t rowBytes = static_cast<size_t>(width) * count + std::max(options_.extraRowBytes, 0);
  outBuffer_.assign(rowBytes * static_cast<size_t>(height), 0);
  for (int32_t y = 0; y < height; ++y) {
    const int32_t sy = rect.top + y;
    if (sy < 0 || sy >= image_.height) continue;
    uint8_t* row = outBuffer_.data() + rowBytes * static_cast<size_t>(y);
    for (int32_t x = 0; x < width; ++x) {
      const int32_t sx = rect.left + x;
      if (sx < 0 || sx >= image_.width) continue;
      std::memcpy(row + static_cast<size_t>(x) * count, image_.Pixel(sx, sy) + lo, static_cast<size_t>(count));
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
    const int32_t sy = rect.top + y;
    if (sy < 0 || sy >= image_.height) continue;
    for (int32_t x = 0; x < width; ++x) {
      const int32_t sx = rect.left + x;
      if (sx < 0 || sx >= image_.width) continue;
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
  const int32_t count = output_.hiPlane - output_.loPlane + 1;
  // Only the filter rectangle of the document changes.
  const int32_t top = std::max({rect.top, filterRect_.top, 0});
  const int32_t bottom = std::min({rect.bottom, filterRect_.bottom, image_.height});
  const int32_t left = std::max({rect.left, filterRect_.left, 0});
  const int32_t right = std::min({rect.right, filterRect_.right, image_.width});
  for (int32_t y = top; y < bottom; ++y) {
    const uint8_t* row = outBuffer_.data() + static_cast<size_t>(output_.rowBytes) * static_cast<size_t>(y - rect.top);
    for (int32_t x = left; x < right; ++x) {
      std::memcpy(image_.Pixel(x, y) + output_.loPlane, row + static_cast<size_t>(x - rect.left) * count,
                  static_cast<size_t>(count));
    }
  }
}

}  // namespace hostkit
