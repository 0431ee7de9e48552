// The procedures and suites the host hands to a module. Each one resolves the
// active host, never lets an exception escape into the module, and answers
// bad arguments (null pointers, unknown handles and objects) with an error
// instead of crashing.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "hostkit/active_host.h"
#include "hostkit/host.h"
#include "hostkit/host_code.h"

namespace hostkit {

namespace {

Host* g_active = nullptr;

bool IsEmptyRect(const VRect& rect) { return rect.right <= rect.left || rect.bottom <= rect.top; }

std::string SuiteKey(const char* name, int32_t version) {
  return std::string(name) + "#" + std::to_string(version);
}

// Stub for the action descriptor slots this host does not implement: every
// slot must be callable, so each gets a function of its own type that
// reports the missing service.
template <typename F>
struct Unsupported;
template <typename... Args>
struct Unsupported<OSErr (*)(Args...)> {
  static OSErr Call(Args...) { return errPlugInHostInsufficient; }
};
template <typename F>
void Stub(F& slot) {
  slot = &Unsupported<F>::Call;
}

// A host procedure as the module calls it: its body runs as host code.
template <auto F>
struct InHost;
template <typename R, typename... Args, R (*F)(Args...)>
struct InHost<F> {
  static R Call(Args... args) {
    HostCodeScope scope;
    return F(args...);
  }
};

}  // namespace

void ActivateHost(Host* host) { g_active = host; }
void DeactivateHost(Host* host) {
  if (g_active == host) g_active = nullptr;
}

struct HostCallbacks {
  static Host* Enter() {
    Host* host = g_active;
    if (host && host->inSelector_ && std::this_thread::get_id() != host->selectorThread_)
      ++host->stats_.callsFromOtherThreads;
    return host;
  }

  // Counts one request of the module for memory of the host's; true when
  // the options say to refuse this one.
  static bool Refuse(Host* host) {
    const int32_t request = ++host->stats_.allocationRequests;
    return host->options_.refuseAllocationAtRequest > 0 && request == host->options_.refuseAllocationAtRequest;
  }

  // --- record procedures -------------------------------------------------
  static Boolean TestAbort() {
    Host* host = Enter();
    if (!host) return 0;
    HostStats& stats = host->stats_;
    ++stats.abortCalls;
    if (stats.outputDeliveries > 0) ++stats.abortCallsAfterFirstOutput;
    const int32_t counted =
        host->options_.abortCountsFromFirstOutput ? stats.abortCallsAfterFirstOutput : stats.abortCalls;
    if (host->options_.abortAtCall > 0 && counted >= host->options_.abortAtCall) return 1;
    try {
      return host->options_.abortRequested && host->options_.abortRequested() ? 1 : 0;
    } catch (...) {
      return 0;  // a front end's failure is no reason to stop the module
    }
  }

  static void Progress(int32_t done, int32_t total) {
    Host* host = Enter();
    if (!host) return;
    ++host->stats_.progressCalls;
    if (host->stats_.progress.size() < 100000) {
      try {
        host->stats_.progress.push_back({done, total});
      } catch (...) {
      }
    }
    try {
      if (host->options_.progressSink) host->options_.progressSink(done, total);
    } catch (...) {
    }
  }

  static OSErr AdvanceState() {
    Host* host = Enter();
    if (!host) return paramErr;
    HostStats& stats = host->stats_;
    const auto start = std::chrono::steady_clock::now();
    ++stats.advanceStateCalls;
    AdvanceStateCall call{};
    call.inRect = host->RequestedRect(0);
    call.outRect = host->RequestedRect(1);
    call.maskRect = host->RequestedRect(2);
    const FilterRecord& r = host->record_;
    call.inLoPlane = r.inLoPlane;
    call.inHiPlane = r.inHiPlane;
    call.outLoPlane = r.outLoPlane;
    call.outHiPlane = r.outHiPlane;
    call.start = start;
    OSErr result;
    if (host->options_.failAdvanceStateAtCall > 0 && stats.advanceStateCalls == host->options_.failAdvanceStateAtCall) {
      result = host->options_.advanceStateFailure;
    } else {
      try {
        result = host->Deliver();
      } catch (const std::bad_alloc&) {
        result = memFullErr;
      } catch (...) {
        result = paramErr;
      }
    }
    if (result == noErr) {
      call.deliveredInput = !IsEmptyRect(call.inRect);
      call.deliveredOutput = !IsEmptyRect(call.outRect);
      call.deliveredMask = !IsEmptyRect(call.maskRect) && !host->mask_.empty();
      stats.inputDeliveries += call.deliveredInput ? 1 : 0;
      stats.outputDeliveries += call.deliveredOutput ? 1 : 0;
      stats.maskDeliveries += call.deliveredMask ? 1 : 0;
    }
    call.result = result;
    call.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    stats.advanceStateSeconds += call.seconds;
    if (stats.advanceStates.size() < 100000) {
      try {
        stats.advanceStates.push_back(call);
      } catch (...) {
      }
    }
    return result;
  }

  // --- handles --------------------------------------------------------------
  static Handle NewHandle(int32_t size) {
    Host* host = Enter();
    if (!host || Refuse(host)) return nullptr;
    try {
      return host->handles_.New(size);
    } catch (...) {
      return nullptr;
    }
  }
  static void DisposeHandle(Handle handle) {
    if (Host* host = Enter()) host->handles_.Dispose(handle);
  }
  static int32_t GetHandleSize(Handle handle) {
    Host* host = Enter();
    return host ? host->handles_.Size(handle) : 0;
  }
  static OSErr SetHandleSize(Handle handle, int32_t size) {
    Host* host = Enter();
    if (host && Refuse(host)) return memFullErr;
    return host ? host->handles_.SetSize(handle, size) : nilHandleErr;
  }
  static Ptr LockHandle(Handle handle, Boolean) {
    Host* host = Enter();
    return host ? host->handles_.Lock(handle) : nullptr;
  }
  static void UnlockHandle(Handle handle) {
    if (Host* host = Enter()) host->handles_.Unlock(handle);
  }
  static void RecoverSpace(int32_t size) {
    if (Host* host = Enter()) host->handles_.RecoverSpace(size);
  }

  // --- properties -----------------------------------------------------------
  static OSErr GetProperty(OSType signature, OSType key, int32_t, intptr_t* simple, Handle* complex) {
    Host* host = Enter();
    if (!host || signature != kPhotoshopSignature) return errPlugInPropertyUndefined;
    if (key == propWatchSuspension) {
      if (!simple) return paramErr;
      *simple = host->stats_.lastWatchValue;
      return noErr;
    }
    if (key == propSerialString) {
      if (!complex) return paramErr;
      if (Refuse(host)) return memFullErr;
      static const char kSerial[] = "hostkit";
      *complex = host->handles_.NewFromBytes(std::vector<uint8_t>(kSerial, kSerial + sizeof kSerial - 1));
      return *complex ? noErr : memFullErr;
    }
    return errPlugInPropertyUndefined;
  }
  static OSErr SetProperty(OSType signature, OSType key, int32_t, intptr_t simple, Handle) {
    Host* host = Enter();
    if (!host || signature != kPhotoshopSignature || key != propWatchSuspension) return errPlugInPropertyUndefined;
    ++host->stats_.watchSetCalls;
    host->stats_.lastWatchValue = simple;
    return noErr;
  }

  // --- read descriptor procedures ------------------------------------------
  static DescriptorReader* Reader(PIReadDescriptor token) {
    Host* host = Enter();
    if (!host) return nullptr;
    auto found = host->readers_.find(token);
    return found == host->readers_.end() ? nullptr : found->second.get();
  }
  static PIReadDescriptor OpenRead(PIDescriptorHandle descriptor, DescriptorKeyID* keys) {
    Host* host = Enter();
    if (!host || !host->handles_.IsValid(descriptor) || Refuse(host)) return nullptr;
    try {
      DescriptorItems items;
      if (!DecodeDescriptor(host->handles_.Bytes(descriptor), &items)) return nullptr;
      auto reader = std::make_unique<DescriptorReader>(std::move(items), keys);
      void* token = reader.get();
      host->readers_.emplace(token, std::move(reader));
      return static_cast<PIReadDescriptor>(token);
    } catch (...) {
      return nullptr;
    }
  }
  static OSErr CloseRead(PIReadDescriptor token) {
    Host* host = Enter();
    if (!host) return paramErr;
    auto found = host->readers_.find(token);
    if (found == host->readers_.end()) return paramErr;
    OSErr sticky = found->second->sticky();
    host->readers_.erase(found);
    return sticky;
  }
  static Boolean GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) {
    DescriptorReader* reader = Reader(token);
    return reader && reader->NextKey(key, type, flags) ? 1 : 0;
  }
  static OSErr GetInteger(PIReadDescriptor token, int32_t* value) {
    DescriptorReader* reader = Reader(token);
    return reader ? reader->GetInteger(value) : paramErr;
  }
  static OSErr GetFloat(PIReadDescriptor token, double* value) {
    DescriptorReader* reader = Reader(token);
    return reader ? reader->GetFloat(value) : paramErr;
  }
  static OSErr GetUnitFloat(PIReadDescriptor token, DescriptorUnitID* unit, double* value) {
    DescriptorReader* reader = Reader(token);
    return reader ? reader->GetUnitFloat(unit, value) : paramErr;
  }
  static OSErr GetBoolean(PIReadDescriptor token, Boolean* value) {
    DescriptorReader* reader = Reader(token);
    return reader ? reader->GetBoolean(value) : paramErr;
  }
  static OSErr GetEnumerated(PIReadDescriptor token, DescriptorEnumID* value) {
    DescriptorReader* reader = Reader(token);
    return reader ? reader->GetEnumerated(value) : paramErr;
  }
  static OSErr GetPinnedInteger(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value) {
    DescriptorReader* reader = Reader(token);
    return reader && value ? reader->GetPinnedInteger(min, max, value) : paramErr;
  }
  static OSErr GetPinnedFloat(PIReadDescriptor token, const double* min, const double* max, double* value) {
    DescriptorReader* reader = Reader(token);
    return reader && value ? reader->GetPinnedFloat(min, max, value) : paramErr;
  }
  static OSErr GetPinnedUnitFloat(PIReadDescriptor token, const double* min, const double* max,
                                  DescriptorUnitID* unit, double* value) {
    DescriptorReader* reader = Reader(token);
    return reader && value ? reader->GetPinnedUnitFloat(min, max, unit, value) : paramErr;
  }
  template <typename... Args>
  static OSErr ReadUnsupported(PIReadDescriptor token, Args...) {
    DescriptorReader* reader = Reader(token);
    return reader ? reader->Unsupported() : paramErr;
  }

  // --- write descriptor procedures -----------------------------------------
  static DescriptorWriter* Writer(PIWriteDescriptor token) {
    Host* host = Enter();
    if (!host) return nullptr;
    auto found = host->writers_.find(token);
    return found == host->writers_.end() ? nullptr : found->second.get();
  }
  static PIWriteDescriptor OpenWrite() {
    Host* host = Enter();
    if (!host || Refuse(host)) return nullptr;
    try {
      auto writer = std::make_unique<DescriptorWriter>();
      void* token = writer.get();
      host->writers_.emplace(token, std::move(writer));
      return static_cast<PIWriteDescriptor>(token);
    } catch (...) {
      return nullptr;
    }
  }
  static OSErr CloseWrite(PIWriteDescriptor token, PIDescriptorHandle* newDescriptor) {
    Host* host = Enter();
    if (!host) return paramErr;
    auto found = host->writers_.find(token);
    if (found == host->writers_.end()) return paramErr;
    std::unique_ptr<DescriptorWriter> writer = std::move(found->second);
    host->writers_.erase(found);
    if (!newDescriptor) return paramErr;
    *newDescriptor = nullptr;
    if (Refuse(host)) return memFullErr;
    try {
      *newDescriptor = host->handles_.NewFromBytes(EncodeDescriptor(writer->items()));
    } catch (...) {
    }
    if (!*newDescriptor) return memFullErr;
    return writer->sticky();
  }
  static OSErr Put(PIWriteDescriptor token, DescriptorItem item) {
    DescriptorWriter* writer = Writer(token);
    if (!writer) return paramErr;
    try {
      return writer->Put(std::move(item));
    } catch (...) {
      return memFullErr;
    }
  }
  static OSErr PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value) {
    return Put(token, DescriptorItem::Integer(key, value));
  }
  static OSErr PutFloat(PIWriteDescriptor token, DescriptorKeyID key, const double* value) {
    return value ? Put(token, DescriptorItem::Float(key, *value)) : paramErr;
  }
  static OSErr PutUnitFloat(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit,
                            const double* value) {
    return value ? Put(token, DescriptorItem::UnitFloat(key, unit, *value)) : paramErr;
  }
  static OSErr PutBoolean(PIWriteDescriptor token, DescriptorKeyID key, Boolean value) {
    return Put(token, DescriptorItem::Boolean(key, value != 0));
  }
  static OSErr PutEnumerated(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                             DescriptorEnumID value) {
    return Put(token, DescriptorItem::Enumerated(key, type, value));
  }
  template <typename... Args>
  static OSErr WriteUnsupported(PIWriteDescriptor token, Args...) {
    DescriptorWriter* writer = Writer(token);
    return writer ? writer->Unsupported() : paramErr;
  }

  // --- basic suite --------------------------------------------------------
  static SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
    Host* host = Enter();
    if (!host || !name || !suite) return kSPBadParameterError;
    *suite = nullptr;
    const HostOptions& options = host->options_;
    const void* table = nullptr;
    if (std::strcmp(name, kPSPropertySuite) == 0 && version == kPSPropertySuiteVersion1 &&
        options.offerPropertySuite) {
      table = &host->propertyProcs_;
    } else if (std::strcmp(name, kPSErrorSuite) == 0 && version == kPSErrorSuiteVersion1 &&
               options.offerErrorSuite) {
      table = &host->errorSuite_;
    } else if (std::strcmp(name, kPSDescriptorRegistrySuite) == 0 &&
               version == kPSDescriptorRegistrySuiteVersion && options.offerDescriptorSuites) {
      table = &host->registryProcs_;
    } else if (std::strcmp(name, kPSActionDescriptorSuite) == 0 && options.offerDescriptorSuites &&
               (version == kPSActionDescriptorSuiteVersion2 ||
                (version == kPSActionDescriptorSuiteVersion3 && options.maxActionDescriptorVersion >= 3))) {
      // Version 2 is a prefix of version 3: one table serves both.
      table = &host->actionProcs_;
    }
    if (!table) return kSPSuiteNotFoundError;
    try {
      ++host->acquired_[SuiteKey(name, version)];
    } catch (...) {
      return kSPOutOfMemoryError;
    }
    *suite = table;
    return kSPNoError;
  }
  static SPErr ReleaseSuite(const char* name, int32_t version) {
    Host* host = Enter();
    if (!host || !name) return kSPBadParameterError;
    auto found = host->acquired_.find(SuiteKey(name, version));
    if (found == host->acquired_.end() || found->second <= 0) return kSPBadParameterError;
    if (--found->second == 0) host->acquired_.erase(found);
    return kSPNoError;
  }
  static SPBoolean IsEqual(const char* a, const char* b) {
    Enter();
    if (!a || !b) return a == b;
    return std::strcmp(a, b) == 0;
  }
  static SPErr AllocateBlock(size_t size, void** block) {
    Host* host = Enter();
    if (!host || !block) return kSPBadParameterError;
    if (Refuse(host)) return kSPOutOfMemoryError;
    *block = std::malloc(size ? size : 1);
    if (!*block) return kSPOutOfMemoryError;
    ++host->blocks_;
    return kSPNoError;
  }
  static SPErr FreeBlock(void* block) {
    Host* host = Enter();
    if (!host) return kSPBadParameterError;
    if (block) {
      std::free(block);
      if (host->blocks_ > 0) --host->blocks_;
    }
    return kSPNoError;
  }
  static SPErr ReallocateBlock(void* block, size_t size, void** newBlock) {
    Host* host = Enter();
    if (!host || !newBlock) return kSPBadParameterError;
    if (Refuse(host)) return kSPOutOfMemoryError;
    void* result = std::realloc(block, size ? size : 1);
    if (!result) return kSPOutOfMemoryError;
    if (!block) ++host->blocks_;
    *newBlock = result;
    return kSPNoError;
  }
  static SPErr Undefined() { return kSPUnimplementedError; }

  // --- error suite ----------------------------------------------------------
  static SPErr SetErrorFromPString(const unsigned char* text) {
    Host* host = Enter();
    if (!host || !text) return kSPBadParameterError;
    ++host->stats_.errorSuiteCalls;
    host->stats_.lastErrorSuiteText.assign(reinterpret_cast<const char*>(text + 1), text[0]);
    return kSPNoError;
  }
  static SPErr SetErrorFromCString(const char* text) {
    Host* host = Enter();
    if (!host || !text) return kSPBadParameterError;
    ++host->stats_.errorSuiteCalls;
    host->stats_.lastErrorSuiteText = text;
    return kSPNoError;
  }
  static SPErr SetErrorFromZString(ASZString) { return kSPUnimplementedError; }

  // --- action descriptors ---------------------------------------------------
  static DescriptorItems* Action(PIActionDescriptor descriptor) {
    Host* host = Enter();
    if (!host) return nullptr;
    auto found = host->actionDescriptors_.find(descriptor);
    return found == host->actionDescriptors_.end() ? nullptr : found->second.get();
  }
  static OSErr NewAction(DescriptorItems items, PIActionDescriptor* out) {
    Host* host = Enter();
    if (!host || !out) return paramErr;
    *out = nullptr;
    if (Refuse(host)) return memFullErr;
    try {
      auto object = std::make_unique<DescriptorItems>(std::move(items));
      void* token = object.get();
      host->actionDescriptors_.emplace(token, std::move(object));
      *out = static_cast<PIActionDescriptor>(token);
      return noErr;
    } catch (...) {
      return memFullErr;
    }
  }
  static OSErr Make(PIActionDescriptor* out) { return NewAction(DescriptorItems(), out); }
  static OSErr Free(PIActionDescriptor descriptor) {
    Host* host = Enter();
    if (!host) return paramErr;
    return host->actionDescriptors_.erase(descriptor) ? noErr : paramErr;
  }
  static OSErr GetType(PIActionDescriptor d, DescriptorKeyID key, DescriptorTypeID* type) {
    DescriptorItems* items = Action(d);
    if (!items || !type) return paramErr;
    const DescriptorItem* item = FindItem(*items, key);
    if (!item) return errMissingParameter;
    *type = item->type;
    return noErr;
  }
  static OSErr GetKeyAt(PIActionDescriptor d, uint32_t index, DescriptorKeyID* key) {
    DescriptorItems* items = Action(d);
    if (!items || !key || index >= items->size()) return paramErr;
    *key = (*items)[index].key;
    return noErr;
  }
  static OSErr HasKey(PIActionDescriptor d, DescriptorKeyID key, Boolean* has) {
    DescriptorItems* items = Action(d);
    if (!items || !has) return paramErr;
    *has = FindItem(*items, key) ? 1 : 0;
    return noErr;
  }
  static OSErr GetCount(PIActionDescriptor d, uint32_t* count) {
    DescriptorItems* items = Action(d);
    if (!items || !count) return paramErr;
    *count = static_cast<uint32_t>(items->size());
    return noErr;
  }
  static OSErr Erase(PIActionDescriptor d, DescriptorKeyID key) {
    DescriptorItems* items = Action(d);
    if (!items) return paramErr;
    return EraseItem(items, key) ? noErr : errMissingParameter;
  }
  static OSErr Clear(PIActionDescriptor d) {
    DescriptorItems* items = Action(d);
    if (!items) return paramErr;
    items->clear();
    return noErr;
  }
  static OSErr PutAction(PIActionDescriptor d, DescriptorItem item) {
    DescriptorItems* items = Action(d);
    if (!items) return paramErr;
    try {
      PutItem(items, std::move(item));
      return noErr;
    } catch (...) {
      return memFullErr;
    }
  }
  static OSErr ActionPutInteger(PIActionDescriptor d, DescriptorKeyID key, int32_t value) {
    return PutAction(d, DescriptorItem::Integer(key, value));
  }
  static OSErr ActionPutFloat(PIActionDescriptor d, DescriptorKeyID key, double value) {
    return PutAction(d, DescriptorItem::Float(key, value));
  }
  static OSErr ActionPutUnitFloat(PIActionDescriptor d, DescriptorKeyID key, DescriptorUnitID unit, double value) {
    return PutAction(d, DescriptorItem::UnitFloat(key, unit, value));
  }
  static OSErr ActionPutBoolean(PIActionDescriptor d, DescriptorKeyID key, Boolean value) {
    return PutAction(d, DescriptorItem::Boolean(key, value != 0));
  }
  static OSErr ActionPutEnumerated(PIActionDescriptor d, DescriptorKeyID key, DescriptorEnumTypeID type,
                                   DescriptorEnumID value) {
    return PutAction(d, DescriptorItem::Enumerated(key, type, value));
  }
  static OSErr ActionPutData(PIActionDescriptor d, DescriptorKeyID key, int32_t length, void* data) {
    if (length < 0 || (length > 0 && !data)) return paramErr;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    try {
      return PutAction(d, DescriptorItem::RawData(key, std::vector<uint8_t>(bytes, bytes + length)));
    } catch (...) {
      return memFullErr;
    }
  }
  // Finds `key` of `type`: errMissingParameter when absent, paramErr when of
  // another type.
  static OSErr Typed(PIActionDescriptor d, DescriptorKeyID key, DescriptorTypeID type, const DescriptorItem** out) {
    DescriptorItems* items = Action(d);
    if (!items) return paramErr;
    const DescriptorItem* item = FindItem(*items, key);
    if (!item) return errMissingParameter;
    if (item->type != type) return paramErr;
    *out = item;
    return noErr;
  }
  static OSErr ActionGetInteger(PIActionDescriptor d, DescriptorKeyID key, int32_t* value) {
    const DescriptorItem* item = nullptr;
    OSErr result = value ? Typed(d, key, typeInteger, &item) : paramErr;
    if (result == noErr) *value = item->integer;
    return result;
  }
  static OSErr ActionGetFloat(PIActionDescriptor d, DescriptorKeyID key, double* value) {
    const DescriptorItem* item = nullptr;
    OSErr result = value ? Typed(d, key, typeFloat, &item) : paramErr;
    if (result == noErr) *value = item->number;
    return result;
  }
  static OSErr ActionGetUnitFloat(PIActionDescriptor d, DescriptorKeyID key, DescriptorUnitID* unit, double* value) {
    const DescriptorItem* item = nullptr;
    OSErr result = value ? Typed(d, key, typeUnitFloat, &item) : paramErr;
    if (result == noErr) {
      if (unit) *unit = item->unit;
      *value = item->number;
    }
    return result;
  }
  static OSErr ActionGetBoolean(PIActionDescriptor d, DescriptorKeyID key, Boolean* value) {
    const DescriptorItem* item = nullptr;
    OSErr result = value ? Typed(d, key, typeBoolean, &item) : paramErr;
    if (result == noErr) *value = item->boolean ? 1 : 0;
    return result;
  }
  static OSErr ActionGetEnumerated(PIActionDescriptor d, DescriptorKeyID key, DescriptorEnumTypeID* type,
                                   DescriptorEnumID* value) {
    const DescriptorItem* item = nullptr;
    OSErr result = value ? Typed(d, key, typeEnumerated, &item) : paramErr;
    if (result == noErr) {
      if (type) *type = item->enumType;
      *value = item->enumValue;
    }
    return result;
  }
  static OSErr ActionGetDataLength(PIActionDescriptor d, DescriptorKeyID key, int32_t* length) {
    const DescriptorItem* item = nullptr;
    OSErr result = length ? Typed(d, key, typeRawData, &item) : paramErr;
    if (result == noErr) *length = static_cast<int32_t>(item->data.size());
    return result;
  }
  static OSErr ActionGetData(PIActionDescriptor d, DescriptorKeyID key, void* buffer) {
    const DescriptorItem* item = nullptr;
    OSErr result = buffer ? Typed(d, key, typeRawData, &item) : paramErr;
    if (result == noErr && !item->data.empty()) std::memcpy(buffer, item->data.data(), item->data.size());
    return result;
  }

  // --- descriptor registry -------------------------------------------------
  static OSErr Register(const char* key, PIActionDescriptor d, Boolean persistent) {
    Host* host = Enter();
    DescriptorItems* items = Action(d);
    if (!host || !key || !items) return paramErr;
    try {
      host->registry_[key] = {*items, persistent != 0};
      return noErr;
    } catch (...) {
      return memFullErr;
    }
  }
  static OSErr RegistryErase(const char* key) {
    Host* host = Enter();
    if (!host || !key) return paramErr;
    host->registry_.erase(key);
    return noErr;
  }
  static OSErr RegistryGet(const char* key, PIActionDescriptor* out) {
    Host* host = Enter();
    if (!host || !key || !out) return paramErr;
    *out = nullptr;
    auto found = host->registry_.find(key);
    // Like several hosts: nothing stored is a success with a null descriptor.
    if (found == host->registry_.end()) return noErr;
    return NewAction(found->second.first, out);
  }
};

// The procedures' addresses as the module gets them: every body runs as host
// code (hostkit/host_code.h).
#define HOST_PROC(...) &InHost<&HostCallbacks::__VA_ARGS__>::Call

void Host::BuildSuites() {
  handleProcs_.handleProcsVersion = kCurrentHandleProcsVersion;
  handleProcs_.numHandleProcs = kCurrentHandleProcsCount;
  handleProcs_.newProc = HOST_PROC(NewHandle);
  handleProcs_.disposeProc = HOST_PROC(DisposeHandle);
  handleProcs_.getSizeProc = HOST_PROC(GetHandleSize);
  handleProcs_.setSizeProc = HOST_PROC(SetHandleSize);
  handleProcs_.lockProc = HOST_PROC(LockHandle);
  handleProcs_.unlockProc = HOST_PROC(UnlockHandle);
  handleProcs_.recoverSpaceProc = HOST_PROC(RecoverSpace);
  handleProcs_.disposeRegularHandleProc = HOST_PROC(DisposeHandle);

  propertyProcs_.propertyProcsVersion = kCurrentPropertyProcsVersion;
  propertyProcs_.numPropertyProcs = kCurrentPropertyProcsCount;
  propertyProcs_.getPropertyProc = HOST_PROC(GetProperty);
  propertyProcs_.setPropertyProc = HOST_PROC(SetProperty);

  readProcs_.readDescriptorProcsVersion = kCurrentReadDescriptorProcsVersion;
  readProcs_.numReadDescriptorProcs = kCurrentReadDescriptorProcsCount;
  readProcs_.openReadDescriptorProc = HOST_PROC(OpenRead);
  readProcs_.closeReadDescriptorProc = HOST_PROC(CloseRead);
  readProcs_.getKeyProc = HOST_PROC(GetKey);
  readProcs_.getIntegerProc = HOST_PROC(GetInteger);
  readProcs_.getFloatProc = HOST_PROC(GetFloat);
  readProcs_.getUnitFloatProc = HOST_PROC(GetUnitFloat);
  readProcs_.getBooleanProc = HOST_PROC(GetBoolean);
  readProcs_.getTextProc = HOST_PROC(ReadUnsupported<Handle*>);
  readProcs_.getAliasProc = HOST_PROC(ReadUnsupported<Handle*>);
  readProcs_.getEnumeratedProc = HOST_PROC(GetEnumerated);
  readProcs_.getClassProc = HOST_PROC(ReadUnsupported<DescriptorTypeID*>);
  readProcs_.getSimpleReferenceProc = HOST_PROC(ReadUnsupported<PIDescriptorSimpleReference*>);
  readProcs_.getObjectProc = HOST_PROC(ReadUnsupported<DescriptorTypeID*, PIDescriptorHandle*>);
  readProcs_.getCountProc = HOST_PROC(ReadUnsupported<uint32_t*>);
  readProcs_.getStringProc = HOST_PROC(ReadUnsupported<Str255*>);
  readProcs_.getPinnedIntegerProc = HOST_PROC(GetPinnedInteger);
  readProcs_.getPinnedFloatProc = HOST_PROC(GetPinnedFloat);
  readProcs_.getPinnedUnitFloatProc = HOST_PROC(GetPinnedUnitFloat);

  writeProcs_.writeDescriptorProcsVersion = kCurrentWriteDescriptorProcsVersion;
  writeProcs_.numWriteDescriptorProcs = kCurrentWriteDescriptorProcsCount;
  writeProcs_.openWriteDescriptorProc = HOST_PROC(OpenWrite);
  writeProcs_.closeWriteDescriptorProc = HOST_PROC(CloseWrite);
  writeProcs_.putIntegerProc = HOST_PROC(PutInteger);
  writeProcs_.putFloatProc = HOST_PROC(PutFloat);
  writeProcs_.putUnitFloatProc = HOST_PROC(PutUnitFloat);
  writeProcs_.putBooleanProc = HOST_PROC(PutBoolean);
  writeProcs_.putTextProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, Handle>);
  writeProcs_.putAliasProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, Handle>);
  writeProcs_.putEnumeratedProc = HOST_PROC(PutEnumerated);
  writeProcs_.putClassProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, DescriptorTypeID>);
  writeProcs_.putSimpleReferenceProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, const PIDescriptorSimpleReference*>);
  writeProcs_.putObjectProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle>);
  writeProcs_.putCountProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, uint32_t>);
  writeProcs_.putStringProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, const unsigned char*>);
  writeProcs_.putScopedClassProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, DescriptorTypeID>);
  writeProcs_.putScopedObjectProc = HOST_PROC(WriteUnsupported<DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle>);

  basicSuite_.AcquireSuite = HOST_PROC(AcquireSuite);
  basicSuite_.ReleaseSuite = HOST_PROC(ReleaseSuite);
  basicSuite_.IsEqual = HOST_PROC(IsEqual);
  basicSuite_.AllocateBlock = HOST_PROC(AllocateBlock);
  basicSuite_.FreeBlock = HOST_PROC(FreeBlock);
  basicSuite_.ReallocateBlock = HOST_PROC(ReallocateBlock);
  basicSuite_.Undefined = HOST_PROC(Undefined);

  errorSuite_.SetErrorFromPString = HOST_PROC(SetErrorFromPString);
  errorSuite_.SetErrorFromCString = HOST_PROC(SetErrorFromCString);
  errorSuite_.SetErrorFromZString = HOST_PROC(SetErrorFromZString);

  registryProcs_.Register = HOST_PROC(Register);
  registryProcs_.Erase = HOST_PROC(RegistryErase);
  registryProcs_.Get = HOST_PROC(RegistryGet);

  PSActionDescriptorProcs& a = actionProcs_;
  a.Make = HOST_PROC(Make);
  a.Free = HOST_PROC(Free);
  a.GetType = HOST_PROC(GetType);
  a.GetKey = HOST_PROC(GetKeyAt);
  a.HasKey = HOST_PROC(HasKey);
  a.GetCount = HOST_PROC(GetCount);
  Stub(a.IsEqual);
  a.Erase = HOST_PROC(Erase);
  a.Clear = HOST_PROC(Clear);
  a.PutInteger = HOST_PROC(ActionPutInteger);
  a.PutFloat = HOST_PROC(ActionPutFloat);
  a.PutUnitFloat = HOST_PROC(ActionPutUnitFloat);
  Stub(a.PutString);
  a.PutBoolean = HOST_PROC(ActionPutBoolean);
  Stub(a.PutList);
  Stub(a.PutObject);
  Stub(a.PutGlobalObject);
  a.PutEnumerated = HOST_PROC(ActionPutEnumerated);
  Stub(a.PutReference);
  Stub(a.PutClass);
  Stub(a.PutGlobalClass);
  Stub(a.PutAlias);
  a.GetInteger = HOST_PROC(ActionGetInteger);
  a.GetFloat = HOST_PROC(ActionGetFloat);
  a.GetUnitFloat = HOST_PROC(ActionGetUnitFloat);
  Stub(a.GetStringLength);
  Stub(a.GetString);
  a.GetBoolean = HOST_PROC(ActionGetBoolean);
  Stub(a.GetList);
  Stub(a.GetObject);
  Stub(a.GetGlobalObject);
  a.GetEnumerated = HOST_PROC(ActionGetEnumerated);
  Stub(a.GetReference);
  Stub(a.GetClass);
  Stub(a.GetGlobalClass);
  Stub(a.GetAlias);
  Stub(a.HasKeys);
  Stub(a.PutIntegers);
  Stub(a.GetIntegers);
  Stub(a.AsHandle);
  Stub(a.HandleToDescriptor);
  Stub(a.PutZString);
  Stub(a.GetZString);
  a.PutData = HOST_PROC(ActionPutData);
  a.GetDataLength = HOST_PROC(ActionGetDataLength);
  a.GetData = HOST_PROC(ActionGetData);
  Stub(a.PutInteger64);
  Stub(a.GetInteger64);
  // Version 5 slots are not offered (AcquireSuite refuses version 5), but
  // stay callable.
  Stub(a.MakeWithClass);
  Stub(a.GetDescriptorClass);
  Stub(a.Copy);
  Stub(a.PutBookmark);
  Stub(a.GetBookmark);

  record_.abortProc = HOST_PROC(TestAbort);
  record_.progressProc = HOST_PROC(Progress);
  advanceProc_ = HOST_PROC(AdvanceState);
  record_.advanceState = advanceProc_;
}

#undef HOST_PROC

}  // namespace hostkit
