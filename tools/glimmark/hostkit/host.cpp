#include "hostkit/host.h"

#include <algorithm>
#include <cstring>

#include "hostkit/active_host.h"
#include "hostkit/host_code.h"
#include "hostkit/host_platform.h"

namespace hostkit {

namespace {

// A module that keeps asking for data forever must not hang the host.
constexpr int kMaxContinueCalls = 1 << 20;

int16_t Clamp16(int32_t value) {
  return static_cast<int16_t>(std::clamp<int32_t>(value, -32768, 32767));
}

Rect ToRect16(const VRect& rect) {
  return Rect{Clamp16(rect.top), Clamp16(rect.left), Clamp16(rect.bottom), Clamp16(rect.right)};
}

}  // namespace

Host::Host(PluginMainProc entry, HostOptions options) : entry_(entry), options_(options) {
  BuildSuites();
  descriptorParameters_.descriptorParametersVersion = kCurrentDescriptorParametersVersion;
  descriptorParameters_.playInfo = plugInDialogDisplay;
  descriptorParameters_.recordInfo = plugInDialogOptional;
  if (options_.createWindow) window_ = CreateHostWindow();
  platformData_.hwnd = window_;
  ActivateHost(this);
}

Host::~Host() {
  DestroyHostWindow(window_);
  DeactivateHost(this);
}

void Host::SetImage(HostImage image) {
  image_ = std::move(image);
  mask_.clear();
  filterRectSet_ = false;
}

bool Host::SetMask(std::vector<uint8_t> mask) {
  if (!mask.empty() && mask.size() != static_cast<size_t>(image_.width) * static_cast<size_t>(image_.height))
    return false;
  mask_ = std::move(mask);
  return true;
}

void Host::SetFilterRect(const VRect& rect) {
  filterRect_ = rect;
  filterRectSet_ = true;
}

void Host::SetUpRecord() {
  FilterRecord& r = record_;
  if (!filterRectSet_) filterRect_ = VRect{0, 0, image_.height, image_.width};
  r.serialNumber = 0;
  r.imageSize = Point{Clamp16(image_.height), Clamp16(image_.width)};
  r.planes = static_cast<int16_t>(image_.planes);
  r.filterRect = ToRect16(filterRect_);
  r.background = PSRGBColor{65535, 65535, 65535};
  r.foreground = PSRGBColor{0, 0, 0};
  r.maxSpace = options_.maxSpace;
  r.maxSpace64 = options_.maxSpace;
  r.bufferSpace = 0;
  r.bufferSpace64 = 0;
  r.inRect = r.outRect = r.maskRect = Rect{0, 0, 0, 0};
  r.inLoPlane = r.inHiPlane = r.outLoPlane = r.outHiPlane = 0;
  r.inData = r.outData = nullptr;
  r.inRowBytes = r.outRowBytes = 0;
  r.isFloating = 0;
  r.haveMask = mask_.empty() ? 0 : 1;
  // Hosts offer to apply the selection themselves unless the module says it
  // does by clearing autoMask.
  r.autoMask = 1;
  // With a selection the host shows the whole mask until the module asks for
  // a rectangle of it; a non-null maskData is how modules learn there is one.
  r.maskData = mask_.empty() ? nullptr : mask_.data();
  r.maskRowBytes = mask_.empty() ? 0 : image_.width;
  const uint8_t white[4] = {255, 255, 255, 0}, black[4] = {0, 0, 0, 0};
  std::copy(white, white + 4, r.backColor);
  std::copy(black, black + 4, r.foreColor);
  r.hostSig = options_.hostSignature;
  r.hostProc = nullptr;
  r.imageMode = options_.imageModeOverride >= 0 ? options_.imageModeOverride : image_.mode();
  r.imageHRes = r.imageVRes = 72 << 16;
  r.floatCoord = Point{Clamp16(filterRect_.top), Clamp16(filterRect_.left)};
  r.wholeSize = r.imageSize;
  r.monitor = PlugInMonitor{};
  r.monitor.gamma = static_cast<Fixed>(2.2 * 65536);
  r.supportsDummyChannels = 0;
  r.supportsAlternateLayouts = 0;
  r.wantLayout = piLayoutTraditional;
  if (options_.filterCase != kFilterCaseFromDocument) {
    r.filterCase = options_.filterCase;
  } else if (image_.hasTransparency()) {
    r.filterCase = mask_.empty() ? filterCaseEditableTransparencyNoSelection
                                 : filterCaseEditableTransparencyWithSelection;
  } else {
    r.filterCase = mask_.empty() ? filterCaseFlatImageNoSelection : filterCaseFlatImageWithSelection;
  }
  r.dummyPlaneValue = -1;
  r.supportsAbsolute = 0;
  r.wantsAbsolute = 0;
  r.cannotUndo = 0;
  r.supportsPadding = 1;
  r.inputPadding = r.outputPadding = r.maskPadding = plugInWantsErrorOnBoundsException;
  r.samplingSupport = hostDoesNotSupportSampling;
  r.inputRate = r.maskRate = 1 << 16;
  // Hosts count the colour planes and the transparency plane separately;
  // planes = colour + transparency.
  r.inLayerPlanes = r.outLayerPlanes = r.absLayerPlanes = static_cast<int16_t>(image_.colourPlanes());
  r.inTransparencyMask = r.outTransparencyMask = r.absTransparencyMask = image_.hasTransparency() ? 1 : 0;
  r.inLayerMasks = r.outLayerMasks = r.absLayerMasks = 0;
  r.inInvertedLayerMasks = r.outInvertedLayerMasks = r.absInvertedLayerMasks = 0;
  r.inNonLayerPlanes = r.outNonLayerPlanes = r.absNonLayerPlanes = 0;
  r.inTileWidth = r.outTileWidth = r.absTileWidth = r.maskTileWidth = options_.tileWidth;
  r.inTileHeight = r.outTileHeight = r.absTileHeight = r.maskTileHeight = options_.tileHeight;
  r.inTileOrigin = r.outTileOrigin = r.absTileOrigin = r.maskTileOrigin = Point{0, 0};
  r.depth = image_.depthBits();

  // The document's colour profile, in a handle of the host's as editors do.
  if (r.iCCprofileData != nullptr) handles_.Dispose(r.iCCprofileData);
  r.iCCprofileData = image_.iccProfile.empty() ? nullptr : handles_.NewFromBytes(image_.iccProfile);
  r.iCCprofileSize = r.iCCprofileData != nullptr ? static_cast<int32_t>(image_.iccProfile.size()) : 0;
  r.canUseICCProfiles = 1;

  bigDocument_ = BigDocumentStruct{};
  bigDocument_.imageSize32 = VPoint{image_.height, image_.width};
  bigDocument_.filterRect32 = filterRect_;
  bigDocument_.floatCoord32 = VPoint{filterRect_.top, filterRect_.left};
  bigDocument_.wholeSize32 = bigDocument_.imageSize32;
  if (options_.blankRect16 && options_.offerBigDocument) {
    r.filterRect = Rect{0, 0, 0, 0};
    r.imageSize = r.wholeSize = r.floatCoord = Point{0, 0};
  }

  inBuffer_.clear();
  outBuffer_.clear();
  maskBuffer_.clear();
  output_ = PendingOutput();
  lastInRect_ = VRect{};
  ForgetRunSnapshot();  // a new run begins
  ApplyOptions();
}

void Host::ApplyOptions() {
  handleProcs_.numHandleProcs = options_.handleProcsCount;
  record_.handleProcs = options_.offerHandleProcs ? &handleProcs_ : nullptr;
  record_.platformData = options_.offerPlatformData ? &platformData_ : nullptr;
  record_.sSPBasic = options_.offerBasicSuite ? &basicSuite_ : nullptr;
  record_.propertyProcs = options_.propertyProcsInRecord ? &propertyProcs_ : nullptr;
  record_.bigDocumentData = options_.offerBigDocument ? &bigDocument_ : nullptr;
  record_.errorString = options_.offerErrorString ? &errorString_ : nullptr;
  record_.advanceState = options_.offerAdvanceState ? advanceProc_ : nullptr;
  descriptorParameters_.readDescriptorProcs = options_.nullDescriptorProcs ? nullptr : &readProcs_;
  descriptorParameters_.writeDescriptorProcs = options_.nullDescriptorProcs ? nullptr : &writeProcs_;
  record_.descriptorParameters = options_.offerDescriptorParameters ? &descriptorParameters_ : nullptr;
}

int16_t Host::Call(int16_t selector, void* recordPointer) {
  HostCodeScope hostCode;
  if (!entry_) return errPlugInHostInsufficient;
  ActivateHost(this);
  selectorThread_ = std::this_thread::get_id();
  inSelector_ = true;
  watchLevel_ = 0;
  errorString_[0] = 0;
  int16_t result = options_.incomingResult;
  const auto start = std::chrono::steady_clock::now();
  {
    ModuleCodeScope module;
    entry_(selector, recordPointer, &dataSlot_, &result);
  }
  const std::chrono::duration<double> inside = std::chrono::steady_clock::now() - start;
  // Output handed out during the call reaches the image when the call ends.
  if (selector != filterSelectorAbout) FlushOutput();
  inSelector_ = false;
  stats_.selectors.push_back(SelectorCall{selector, result, inside.count()});
  return result;
}

int16_t Host::CallAbout() {
  HostCodeScope hostCode;
  about_ = AboutRecord{};
  about_.platformData = options_.offerPlatformData ? &platformData_ : nullptr;
  about_.sSPBasic = options_.offerBasicSuite ? &basicSuite_ : nullptr;
  return Call(filterSelectorAbout, &about_);
}

int16_t Host::CallParameters() {
  HostCodeScope hostCode;
  SetUpRecord();
  return Call(filterSelectorParameters, &record_);
}

int16_t Host::CallPrepare() {
  HostCodeScope hostCode;
  SetUpRecord();
  return Call(filterSelectorPrepare, &record_);
}

int16_t Host::CallStart() {
  HostCodeScope hostCode;
  ForgetRunSnapshot();
  if (options_.revertFailedStart) {
    runSnapshot_ = image_.pixels;
    runSnapshotTaken_ = true;
  }
  int16_t result;
  if (!options_.dropParametersAtStart) {
    result = Call(filterSelectorStart, &record_);
  } else {
    Handle kept = record_.parameters;
    record_.parameters = nullptr;
    result = Call(filterSelectorStart, &record_);
    if (!record_.parameters) {
      record_.parameters = kept;
    } else if (record_.parameters != kept) {
      handles_.Dispose(kept);  // the module made a new one; it replaces ours
    }
  }
  if (result != noErr) RevertRun();
  return result;
}

int16_t Host::CallContinue() {
  HostCodeScope hostCode;
  OSErr result = Deliver();
  if (result == noErr) result = Call(filterSelectorContinue, &record_);
  if (result != noErr) RevertRun();
  return result;
}

int16_t Host::CallFinish() {
  HostCodeScope hostCode;
  const int16_t result = Call(filterSelectorFinish, &record_);
  if (result != noErr) RevertRun();
  ForgetRunSnapshot();  // the run is over either way
  return result;
}

int16_t Host::CallRaw(int16_t selector) { return Call(selector, &record_); }

int16_t Host::RunFilter(bool withParameters) {
  HostCodeScope hostCode;
  int16_t status = noErr;
  if (withParameters && (status = CallParameters()) != noErr) return status;
  if ((status = CallPrepare()) != noErr) return status;
  if ((status = CallStart()) != noErr) return status;
  if (!options_.neverContinue) {
    for (int calls = 0; RequestsData(); ++calls) {
      if (calls == kMaxContinueCalls) {
        RevertRun();
        return paramErr;
      }
      if ((status = CallContinue()) != noErr) return status;
    }
  }
  return CallFinish();
}

void Host::RevertRun() {
  if (runSnapshotTaken_ && runSnapshot_.size() == image_.pixels.size()) image_.pixels.swap(runSnapshot_);
  ForgetRunSnapshot();
}

void Host::ForgetRunSnapshot() {
  runSnapshot_.clear();
  runSnapshot_.shrink_to_fit();
  runSnapshotTaken_ = false;
}

std::vector<uint8_t> Host::ParametersBytes() const { return handles_.Bytes(record_.parameters); }

int Host::DataByte() const {
  Handle handle = reinterpret_cast<Handle>(dataSlot_);
  if (!handles_.IsValid(handle)) return -1;
  std::vector<uint8_t> bytes = handles_.Bytes(handle);
  return bytes.empty() ? -1 : bytes[0];
}

void Host::ForgetStoredState() {
  handles_.Dispose(record_.parameters);
  record_.parameters = nullptr;
  Handle data = reinterpret_cast<Handle>(dataSlot_);
  if (handles_.IsValid(data)) handles_.Dispose(data);
  dataSlot_ = 0;
}

void Host::SetScriptDescriptor(const DescriptorItems& items) { SetScriptDescriptorBytes(EncodeDescriptor(items)); }

void Host::SetScriptDescriptorBytes(const std::vector<uint8_t>& bytes) {
  ClearScriptDescriptor();
  descriptorParameters_.descriptor = handles_.NewFromBytes(bytes);
}

bool Host::GetScriptDescriptor(DescriptorItems* items) const {
  Handle handle = descriptorParameters_.descriptor;
  return handles_.IsValid(handle) && DecodeDescriptor(handles_.Bytes(handle), items);
}

void Host::ClearScriptDescriptor() {
  if (handles_.IsValid(descriptorParameters_.descriptor)) handles_.Dispose(descriptorParameters_.descriptor);
  descriptorParameters_.descriptor = nullptr;
}

bool Host::GetRegistryEntry(const std::string& key, DescriptorItems* items, bool* persistent) const {
  auto found = registry_.find(key);
  if (found == registry_.end()) return false;
  if (items) *items = found->second.first;
  if (persistent) *persistent = found->second.second;
  return true;
}

void Host::SetRegistryEntry(const std::string& key, const DescriptorItems& items, bool persistent) {
  registry_[key] = {items, persistent};
}

int Host::OutstandingSuites() const {
  int count = 0;
  for (const auto& entry : acquired_) count += entry.second;
  return count;
}

std::string Host::ErrorStringText() const {
  return std::string(reinterpret_cast<const char*>(errorString_ + 1), errorString_[0]);
}

}  // namespace hostkit
