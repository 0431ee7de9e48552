#pragma once
// Host: everything one host of the filter interface owns, and the calls that
// drive a module through its selectors.
//
// A Host keeps what a real host keeps between filter runs: the parameters
// handle, the module's data slot, the recorded scripting descriptor and the
// descriptor registry, so "repeat the last filter" (a run without the
// Parameters selector) behaves as in an editor. Options make it behave like
// poorer hosts (missing suites and records, odd incoming values) so that the
// module's fallbacks can be exercised.
//
// Callbacks have no context argument, so the procedures find their host
// through one process-wide "active host": the Host constructed last, and
// again whichever Host is calling into a module. One module run at a time.
// Host procedures are meant for the thread that called the selector; calls
// from other threads are counted in stats().callsFromOtherThreads.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "host_abi/host_interface.h"
#include "hostkit/descriptors.h"
#include "hostkit/handles.h"
#include "hostkit/image.h"

namespace hostkit {

constexpr int16_t kFilterCaseFromDocument = -32768;

struct HostOptions {
  // Suites and records a host may leave out.
  bool offerBasicSuite = true;          // sSPBasic (record and About)
  bool offerPropertySuite = true;       // through AcquireSuite
  bool offerErrorSuite = true;
  bool offerDescriptorSuites = true;    // registry and action descriptor suites
  int32_t maxActionDescriptorVersion = 3;  // 2 or 3
  bool propertyProcsInRecord = true;    // FilterRecord.propertyProcs
  bool offerBigDocument = true;
  bool offerDescriptorParameters = true;
  bool nullDescriptorProcs = false;     // descriptorParameters present, procedures null
  bool offerHandleProcs = true;
  int16_t handleProcsCount = kCurrentHandleProcsCount;
  bool offerPlatformData = true;
  bool createWindow = false;            // Windows: a hidden top-level window as parent
  bool offerErrorString = true;
  bool offerAdvanceState = true;
  // Behaviour.
  int16_t incomingResult = 0;           // *result when the module is entered
  bool dropParametersAtStart = false;   // pass no parameters handle to Start
  bool neverContinue = false;           // RunFilter never calls Continue
  int16_t tileWidth = 512;              // 0 = not set
  int16_t tileHeight = 512;
  int32_t abortAtCall = 0;              // abortProc answers TRUE from this call on; 0 = never
  // Count abortAtCall only over the abort calls made after the first output
  // delivery (stats().outputDeliveries > 0): aborts the write-back at a
  // chosen point whatever the module polled before it.
  bool abortCountsFromFirstOutput = false;
  int32_t maxSpace = 1 << 30;
  int32_t extraRowBytes = 0;            // padding at the end of delivered rows
  OSType hostSignature = FourCC("GmHk");
  // filterCase as sent; kFilterCaseFromDocument derives it from the mask
  // and the transparency plane (1, 2, 4 or 5), as hosts do.
  int16_t filterCase = kFilterCaseFromDocument;
  // advanceState answers `advanceStateFailure` at its N-th call (counting
  // from 1 in each Host's stats); 0 = never.
  int32_t failAdvanceStateAtCall = 0;
  OSErr advanceStateFailure = memFullErr;
  // The N-th request of the module for memory of the host's (counting from 1
  // in each Host's stats: new and resized handles, basic-suite blocks, action
  // descriptors, descriptor readers and writers and the descriptor a writer
  // hands back, complex properties) is refused as out of memory, the way a
  // host answers when it has none left; 0 = never.
  int32_t refuseAllocationAtRequest = 0;
  // Behave like the engine that serves a request for one plane p > 0 as
  // plane 0 (input and output), and refreshes input only when the input
  // rectangle changes.
  bool planeZeroQuirk = false;
  // An editor treats a failed filter run as one that never happened: the
  // document's pixels are saved when Start is called and put back when
  // Start, or a Continue or Finish of the same run, ends with a non-zero
  // status (or the host fails a delivery before Continue). Off, the
  // document keeps whatever the module wrote before it failed.
  bool revertFailedStart = true;
  // The image mode sent instead of the document's; -1 sends the document's.
  // Presents modes hostkit holds no pixels for (CMYK, Lab, indexed, ...)
  // with the document's planes and depth.
  int16_t imageModeOverride = -1;
  // With the big-document record offered, send 0 in the 16-bit filter
  // rectangle, image size, float coordinate and whole size, so that only
  // the 32-bit fields say where to work.
  bool blankRect16 = false;
  // A front end's view of the run: `abortRequested` is asked at every
  // abortProc call (TRUE once it answers true, whatever abortAtCall says);
  // `progressSink` receives every progressProc call. Either may be empty.
  // They run on whichever thread the module calls from.
  std::function<bool()> abortRequested;
  std::function<void(int32_t done, int32_t total)> progressSink;
};

struct ProgressCall {
  int32_t done;
  int32_t total;
};

struct SelectorCall {
  int16_t selector;
  int16_t result;
  double seconds = 0;  // time inside the module's entry point
};

// One advanceState call as the module made it: the rectangles and plane
// ranges it requested (empty rectangles for none; the planes as asked, before
// any quirk maps them), what the host delivered and how long the host took.
struct AdvanceStateCall {
  VRect inRect;
  VRect outRect;
  VRect maskRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  int16_t outLoPlane;
  int16_t outHiPlane;
  OSErr result;
  bool deliveredInput;
  bool deliveredOutput;
  bool deliveredMask;
  std::chrono::steady_clock::time_point start;  // entry into the host procedure
  double seconds;                               // time spent inside it
};

struct HostStats {
  int32_t abortCalls = 0;
  std::vector<ProgressCall> progress;   // capped; progressCalls counts all
  int32_t progressCalls = 0;
  int32_t advanceStateCalls = 0;
  std::vector<AdvanceStateCall> advanceStates;  // capped; advanceStateCalls counts all
  double advanceStateSeconds = 0;       // total time inside advanceState
  int32_t inputDeliveries = 0;          // advanceState calls that delivered input
  int32_t outputDeliveries = 0;         // ... that handed out an output buffer
  int32_t maskDeliveries = 0;           // ... that delivered a mask rectangle
  int32_t abortCallsAfterFirstOutput = 0;
  int32_t watchSetCalls = 0;
  intptr_t lastWatchValue = 0;
  int32_t errorSuiteCalls = 0;
  std::string lastErrorSuiteText;
  int32_t callsFromOtherThreads = 0;
  int32_t allocationRequests = 0;       // see HostOptions::refuseAllocationAtRequest
  std::vector<SelectorCall> selectors;  // every selector called, in order
};

class Host {
 public:
  explicit Host(PluginMainProc entry, HostOptions options = HostOptions());
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  HostOptions& options() { return options_; }

  // The document. The filter rectangle defaults to the whole image.
  void SetImage(HostImage image);
  const HostImage& image() const { return image_; }
  HostImage& image() { return image_; }
  // A selection mask, one byte per image pixel (255 = selected); empty clears.
  // False (and nothing changed) when the size does not match the image.
  bool SetMask(std::vector<uint8_t> mask);
  const std::vector<uint8_t>& mask() const { return mask_; }
  void SetFilterRect(const VRect& rect);

  // Selectors; each returns the module's status.
  int16_t CallAbout();
  int16_t CallParameters();
  int16_t CallPrepare();
  int16_t CallStart();
  int16_t CallContinue();
  int16_t CallFinish();
  // Any selector value with the filter record, no set-up, no data served.
  int16_t CallRaw(int16_t selector);

  // [Parameters] → Prepare → Start → Continue (while data is requested) →
  // Finish, stopping at the first non-zero status.
  int16_t RunFilter(bool withParameters);

  // True while the module's requested rectangles ask for data.
  bool RequestsData() const;

  FilterRecord& record() { return record_; }
  AboutRecord& aboutRecord() { return about_; }
  HandleTable& handles() { return handles_; }

  // State kept between runs.
  bool HasParameters() const { return record_.parameters != nullptr; }
  std::vector<uint8_t> ParametersBytes() const;
  intptr_t dataSlot() const { return dataSlot_; }
  void SetDataSlot(intptr_t value) { dataSlot_ = value; }
  // First byte of the handle in the data slot; -1 when the slot holds none.
  int DataByte() const;
  // Disposes of the parameters and data handles, as a host restarted afresh.
  void ForgetStoredState();

  // Scripting.
  void SetScriptDescriptor(const DescriptorItems& items);
  // A descriptor handle holding these bytes as they are, encoded or not (a
  // damaged or foreign recording).
  void SetScriptDescriptorBytes(const std::vector<uint8_t>& bytes);
  // False when there is no descriptor or it cannot be decoded.
  bool GetScriptDescriptor(DescriptorItems* items) const;
  void ClearScriptDescriptor();
  void SetPlayInfo(int16_t playInfo) { descriptorParameters_.playInfo = playInfo; }
  void SetRecordInfo(int16_t recordInfo) { descriptorParameters_.recordInfo = recordInfo; }

  // Descriptor registry.
  bool GetRegistryEntry(const std::string& key, DescriptorItems* items, bool* persistent = nullptr) const;
  void SetRegistryEntry(const std::string& key, const DescriptorItems& items, bool persistent);
  void ClearRegistry() { registry_.clear(); }
  // Every entry, in key order: key → (items, persistent).
  const std::map<std::string, std::pair<DescriptorItems, bool>>& registry() const { return registry_; }

  // What the module left behind; all 0 after a clean run.
  int OutstandingSuites() const;
  size_t LiveActionDescriptors() const { return actionDescriptors_.size(); }
  size_t OpenDescriptorReaders() const { return readers_.size(); }
  size_t OpenDescriptorWriters() const { return writers_.size(); }
  size_t LiveBlocks() const { return blocks_; }

  // The Pascal string in errorString, as text.
  std::string ErrorStringText() const;
  const HostStats& stats() const { return stats_; }
  void ResetStats() { stats_ = HostStats(); }

 private:
  friend struct HostCallbacks;

  struct PendingOutput {
    bool pending = false;
    VRect rect{};
    int32_t loPlane = 0;
    int32_t hiPlane = 0;
    int32_t rowBytes = 0;
  };

  void BuildSuites();
  void SetUpRecord();
  void ApplyOptions();
  int16_t Call(int16_t selector, void* record);
  // The image-transfer protocol (transfer.cpp).
  OSErr Deliver();
  void FlushOutput();
  bool UsingBigCoordinates() const;
  VRect RequestedRect(int which) const;
  OSErr FillInput(const VRect& rect, int32_t lo, int32_t hi);
  void FillOutput(const VRect& rect, int32_t lo, int32_t hi);
  void FillMask(const VRect& rect);
  void PaddingSample(int16_t padding, uint8_t* sample) const;
  // A failed run: the document as it was when Start was called (when saved).
  void RevertRun();
  void ForgetRunSnapshot();

  PluginMainProc entry_;
  HostOptions options_;
  HostImage image_;
  std::vector<uint8_t> mask_;
  VRect filterRect_{};
  bool filterRectSet_ = false;

  FilterRecord record_{};
  AboutRecord about_{};
  PlatformData platformData_{};
  intptr_t window_ = 0;
  BigDocumentStruct bigDocument_{};
  Str255 errorString_{};
  intptr_t dataSlot_ = 0;
  intptr_t watchLevel_ = 0;  // 'wtch', reset at every call into the module

  HandleTable handles_;
  HandleProcs handleProcs_{};
  PropertyProcs propertyProcs_{};
  PIDescriptorParameters descriptorParameters_{};
  ReadDescriptorProcs readProcs_{};
  WriteDescriptorProcs writeProcs_{};
  SPBasicSuite basicSuite_{};
  PSErrorSuite1 errorSuite_{};
  PSDescriptorRegistryProcs registryProcs_{};
  PSActionDescriptorProcs actionProcs_{};
  AdvanceStateProc advanceProc_ = nullptr;

  std::map<std::string, int> acquired_;
  std::map<std::string, std::pair<DescriptorItems, bool>> registry_;
  std::unordered_map<void*, std::unique_ptr<DescriptorItems>> actionDescriptors_;
  std::unordered_map<void*, std::unique_ptr<DescriptorReader>> readers_;
  std::unordered_map<void*, std::unique_ptr<DescriptorWriter>> writers_;
  size_t blocks_ = 0;

  std::vector<uint8_t> inBuffer_, outBuffer_, maskBuffer_;
  PendingOutput output_;
  VRect lastInRect_{};
  std::vector<uint8_t> runSnapshot_;  // the pixels when Start was called
  bool runSnapshotTaken_ = false;

  std::thread::id selectorThread_;
  bool inSelector_ = false;
  HostStats stats_;
};

}  // namespace hostkit
