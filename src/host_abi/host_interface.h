#pragma once
// The filter plug-in host interface: every record, procedure type and
// constant that passes between a host and a filter module, declared so that
// the layout matches what hosts compiled for 32-bit x86 (i686) and x86-64
// Windows hand us, byte for byte. Our own test host (hostkit) uses this same
// header, so both sides agree by construction and the asserts at the end keep
// them honest against the published offsets.
//
// Conventions that matter for the binary interface:
// - Names follow the public interface so that records read like the host
//   documentation.
// - Every procedure uses the platform's default C calling convention (cdecl
//   on i686). Never build with -mrtd.
// - Return types narrower than int (Boolean, OSErr) are only valid in their
//   low bits; the typedefs below have exactly the widths hosts use.
// - FilterRecord and BigDocumentStruct are packed to 4, FilterCaseInfo to 1;
//   everything else uses natural alignment. On x86-64 this puts pointers of
//   FilterRecord on 4-byte boundaries.
// - Four-character codes are uint32 with the first character in the most
//   significant byte (the value of a C multi-character constant).
//
// No operating-system headers: this file is portable.

#include <cstddef>
#include <cstdint>

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "only 32- and 64-bit targets are supported");

// ---------------------------------------------------------------------------
// Basic types

typedef unsigned char Boolean;  // one byte, not the Win32 BOOL
typedef int16_t OSErr;          // status of host callbacks and descriptor procedures
typedef int32_t SPErr;          // status of the basic suite and the error suite
typedef int32_t SPBoolean;      // 32-bit on Windows

typedef uint32_t OSType;
typedef uint32_t ResType;
typedef uint32_t PIType;
typedef uint32_t DescriptorKeyID;
typedef uint32_t DescriptorTypeID;
typedef uint32_t DescriptorUnitID;
typedef uint32_t DescriptorEnumID;
typedef uint32_t DescriptorEnumTypeID;
typedef uint32_t DescriptorClassID;
typedef uint32_t DescriptorEventID;

typedef int32_t Fixed;  // 16.16 fixed point; 1.0 = 0x00010000

typedef char* Ptr;
typedef char** Handle;  // opaque host handle; contents only through HandleProcs

typedef unsigned char Str255[256];     // Pascal string: length byte, then characters
typedef unsigned char FilterColor[4];  // a colour in the image's own mode

// Opaque host objects, only ever passed back to the host.
typedef struct OpaqueBufferID* BufferID;
typedef struct OpaqueReadDescriptor* PIReadDescriptor;
typedef struct OpaqueWriteDescriptor* PIWriteDescriptor;
typedef struct OpaqueActionDescriptor* PIActionDescriptor;
typedef struct OpaqueActionList* PIActionList;
typedef struct OpaqueActionReference* PIActionReference;
typedef struct OpaqueASZString* ASZString;
typedef Handle PIDescriptorHandle;

// Records this project never looks into; declared for the pointer fields.
struct PSPixelMap;
struct ColorServicesInfo;
struct ImageServicesProcs;
struct ChannelPortProcs;
struct ReadImageDocumentDesc;

// Four-character code from a string literal: FourCC("8BIM") == 0x3842494D.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return (static_cast<uint32_t>(static_cast<unsigned char>(s[0])) << 24) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 16) |
         (static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 8) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[3]));
}

// ---------------------------------------------------------------------------
// Small records (natural alignment, identical on both architectures)

struct Point {
  int16_t v;
  int16_t h;
};

struct Rect {
  int16_t top;
  int16_t left;
  int16_t bottom;
  int16_t right;
};

struct VPoint {
  int32_t v;
  int32_t h;
};

struct VRect {
  int32_t top;
  int32_t left;
  int32_t bottom;
  int32_t right;
};

// The record's RGBColor: 16-bit components.
struct PSRGBColor {
  uint16_t red;
  uint16_t green;
  uint16_t blue;
};

struct PlugInMonitor {
  Fixed gamma;
  Fixed redX;
  Fixed redY;
  Fixed greenX;
  Fixed greenY;
  Fixed blueX;
  Fixed blueY;
  Fixed whiteX;
  Fixed whiteY;
  Fixed ambient;
};

#pragma pack(push, 1)
struct FilterCaseInfo {
  char inputHandling;
  char outputHandling;
  char flags1;
  char flags2;
};
#pragma pack(pop)

// Windows: the host's parent window. Never a window handle by itself.
struct PlatformData {
  intptr_t hwnd;
};

// ---------------------------------------------------------------------------
// Procedure types of the filter record

typedef Boolean (*TestAbortProc)(void);
typedef void (*ProgressProc)(int32_t done, int32_t total);
typedef void (*HostProc)(int16_t selector, intptr_t* data);
typedef OSErr (*AdvanceStateProc)(void);
typedef void (*ProcessEventProc)(void* event);
typedef OSErr (*DisplayPixelsProc)(const PSPixelMap* source, const VRect* srcRect, int32_t dstRow, int32_t dstCol,
                                   void* platformContext);
typedef OSErr (*ColorServicesProc)(ColorServicesInfo* info);
typedef OSErr (*GetPropertyProc)(OSType signature, OSType key, int32_t index, intptr_t* simpleProperty,
                                 Handle* complexProperty);
typedef OSErr (*SetPropertyProc)(OSType signature, OSType key, int32_t index, intptr_t simpleProperty,
                                 Handle complexProperty);

// Handle procedures.
typedef Handle (*NewPIHandleProc)(int32_t size);
typedef void (*DisposePIHandleProc)(Handle h);
typedef int32_t (*GetPIHandleSizeProc)(Handle h);
typedef OSErr (*SetPIHandleSizeProc)(Handle h, int32_t newSize);
typedef Ptr (*LockPIHandleProc)(Handle h, Boolean moveHigh);
typedef void (*UnlockPIHandleProc)(Handle h);
typedef void (*RecoverSpaceProc)(int32_t size);
typedef void (*DisposeRegularHandlePIHandleProc)(Handle h);

// Buffer procedures.
typedef OSErr (*AllocateBufferProc)(int32_t size, BufferID* bufferID);
typedef Ptr (*LockBufferProc)(BufferID bufferID, Boolean moveHigh);
typedef void (*UnlockBufferProc)(BufferID bufferID);
typedef void (*FreeBufferProc)(BufferID bufferID);
typedef int32_t (*BufferSpaceProc)(void);
typedef OSErr (*ReserveBufferSpaceProc)(int32_t size);
typedef OSErr (*AllocateBuffer64Proc)(int64_t size, BufferID* bufferID);
typedef int64_t (*BufferSpace64Proc)(void);

// Resource procedures.
typedef int16_t (*CountPIResourcesProc)(ResType type);
typedef Handle (*GetPIResourceProc)(ResType type, int16_t index);
typedef void (*DeletePIResourceProc)(ResType type, int16_t index);
typedef OSErr (*AddPIResourceProc)(ResType type, Handle data);

// ---------------------------------------------------------------------------
// Callback suites carried in the filter record. Each starts with a version
// and the number of procedures that follow; a host may give fewer than
// declared here, so check the count before calling a slot.

struct HandleProcs {
  int16_t handleProcsVersion;
  int16_t numHandleProcs;
  NewPIHandleProc newProc;
  DisposePIHandleProc disposeProc;
  GetPIHandleSizeProc getSizeProc;
  SetPIHandleSizeProc setSizeProc;
  LockPIHandleProc lockProc;
  UnlockPIHandleProc unlockProc;
  RecoverSpaceProc recoverSpaceProc;
  DisposeRegularHandlePIHandleProc disposeRegularHandleProc;  // 8th slot, later hosts only
};

struct BufferProcs {
  int16_t bufferProcsVersion;
  int16_t numBufferProcs;
  AllocateBufferProc allocateProc;
  LockBufferProc lockProc;
  UnlockBufferProc unlockProc;
  FreeBufferProc freeProc;
  BufferSpaceProc spaceProc;
  ReserveBufferSpaceProc reserveProc;   // 6th
  AllocateBuffer64Proc allocateProc64;  // 7th
  BufferSpace64Proc spaceProc64;        // 8th
};

struct PropertyProcs {
  int16_t propertyProcsVersion;
  int16_t numPropertyProcs;
  GetPropertyProc getPropertyProc;
  SetPropertyProc setPropertyProc;
};

struct ResourceProcs {
  int16_t resourceProcsVersion;
  int16_t numResourceProcs;
  CountPIResourcesProc countProc;
  GetPIResourceProc getProc;
  DeletePIResourceProc deleteProc;
  AddPIResourceProc addProc;
};

constexpr int16_t kCurrentHandleProcsVersion = 1;
constexpr int16_t kCurrentHandleProcsCount = 8;
constexpr int16_t kHandleProcsCountWithoutRegularDispose = 7;
constexpr int16_t kCurrentBufferProcsVersion = 2;
constexpr int16_t kCurrentBufferProcsCount = 8;
constexpr int16_t kOriginalBufferProcsCount = 5;
constexpr int16_t kCurrentPropertyProcsVersion = 1;
constexpr int16_t kCurrentPropertyProcsCount = 2;
constexpr int16_t kCurrentResourceProcsVersion = 3;
constexpr int16_t kCurrentResourceProcsCount = 4;

// ---------------------------------------------------------------------------
// Scripting: descriptor parameters and the read/write descriptor procedures

#pragma pack(push, 4)  // only 4-byte members: identical packed or natural
struct PIDescriptorSimpleReference {
  DescriptorTypeID desiredClass;
  DescriptorKeyID keyForm;
  struct {
    Str255 name;
    int32_t index;
    DescriptorTypeID type;
    DescriptorEnumID value;
  } keyData;
};
#pragma pack(pop)

typedef PIReadDescriptor (*OpenReadDescriptorProc)(PIDescriptorHandle descriptor, DescriptorKeyID* keys);
typedef OSErr (*CloseReadDescriptorProc)(PIReadDescriptor token);
typedef Boolean (*GetKeyProc)(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags);
typedef OSErr (*GetIntegerProc)(PIReadDescriptor token, int32_t* value);
typedef OSErr (*GetFloatProc)(PIReadDescriptor token, double* value);
typedef OSErr (*GetUnitFloatProc)(PIReadDescriptor token, DescriptorUnitID* unit, double* value);
typedef OSErr (*GetBooleanProc)(PIReadDescriptor token, Boolean* value);
typedef OSErr (*GetTextProc)(PIReadDescriptor token, Handle* value);
typedef OSErr (*GetAliasProc)(PIReadDescriptor token, Handle* value);
typedef OSErr (*GetEnumeratedProc)(PIReadDescriptor token, DescriptorEnumID* value);
typedef OSErr (*GetClassProc)(PIReadDescriptor token, DescriptorTypeID* value);
typedef OSErr (*GetSimpleReferenceProc)(PIReadDescriptor token, PIDescriptorSimpleReference* value);
typedef OSErr (*GetObjectProc)(PIReadDescriptor token, DescriptorTypeID* type, PIDescriptorHandle* value);
typedef OSErr (*GetCountProc)(PIReadDescriptor token, uint32_t* value);
typedef OSErr (*GetStringProc)(PIReadDescriptor token, Str255* value);
typedef OSErr (*GetPinnedIntegerProc)(PIReadDescriptor token, int32_t min, int32_t max, int32_t* value);
typedef OSErr (*GetPinnedFloatProc)(PIReadDescriptor token, const double* min, const double* max, double* value);
typedef OSErr (*GetPinnedUnitFloatProc)(PIReadDescriptor token, const double* min, const double* max,
                                        DescriptorUnitID* unit, double* value);

typedef PIWriteDescriptor (*OpenWriteDescriptorProc)(void);
typedef OSErr (*CloseWriteDescriptorProc)(PIWriteDescriptor token, PIDescriptorHandle* newDescriptor);
typedef OSErr (*PutIntegerProc)(PIWriteDescriptor token, DescriptorKeyID key, int32_t value);
typedef OSErr (*PutFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, const double* value);
typedef OSErr (*PutUnitFloatProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit,
                                  const double* value);
typedef OSErr (*PutBooleanProc)(PIWriteDescriptor token, DescriptorKeyID key, Boolean value);
typedef OSErr (*PutTextProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle value);
typedef OSErr (*PutAliasProc)(PIWriteDescriptor token, DescriptorKeyID key, Handle value);
typedef OSErr (*PutEnumeratedProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                   DescriptorEnumID value);
typedef OSErr (*PutClassProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID value);
typedef OSErr (*PutSimpleReferenceProc)(PIWriteDescriptor token, DescriptorKeyID key,
                                        const PIDescriptorSimpleReference* value);
typedef OSErr (*PutObjectProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                               PIDescriptorHandle value);
typedef OSErr (*PutCountProc)(PIWriteDescriptor token, DescriptorKeyID key, uint32_t count);
typedef OSErr (*PutStringProc)(PIWriteDescriptor token, DescriptorKeyID key, const unsigned char* pascalString);
typedef OSErr (*PutScopedClassProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID value);
typedef OSErr (*PutScopedObjectProc)(PIWriteDescriptor token, DescriptorKeyID key, DescriptorTypeID type,
                                     PIDescriptorHandle value);

struct ReadDescriptorProcs {
  int16_t readDescriptorProcsVersion;
  int16_t numReadDescriptorProcs;
  OpenReadDescriptorProc openReadDescriptorProc;
  CloseReadDescriptorProc closeReadDescriptorProc;
  GetKeyProc getKeyProc;
  GetIntegerProc getIntegerProc;
  GetFloatProc getFloatProc;
  GetUnitFloatProc getUnitFloatProc;
  GetBooleanProc getBooleanProc;
  GetTextProc getTextProc;
  GetAliasProc getAliasProc;
  GetEnumeratedProc getEnumeratedProc;
  GetClassProc getClassProc;
  GetSimpleReferenceProc getSimpleReferenceProc;
  GetObjectProc getObjectProc;
  GetCountProc getCountProc;
  GetStringProc getStringProc;
  GetPinnedIntegerProc getPinnedIntegerProc;
  GetPinnedFloatProc getPinnedFloatProc;
  GetPinnedUnitFloatProc getPinnedUnitFloatProc;
};

struct WriteDescriptorProcs {
  int16_t writeDescriptorProcsVersion;
  int16_t numWriteDescriptorProcs;
  OpenWriteDescriptorProc openWriteDescriptorProc;
  CloseWriteDescriptorProc closeWriteDescriptorProc;
  PutIntegerProc putIntegerProc;
  PutFloatProc putFloatProc;
  PutUnitFloatProc putUnitFloatProc;
  PutBooleanProc putBooleanProc;
  PutTextProc putTextProc;
  PutAliasProc putAliasProc;
  PutEnumeratedProc putEnumeratedProc;
  PutClassProc putClassProc;
  PutSimpleReferenceProc putSimpleReferenceProc;
  PutObjectProc putObjectProc;
  PutCountProc putCountProc;
  PutStringProc putStringProc;
  PutScopedClassProc putScopedClassProc;
  PutScopedObjectProc putScopedObjectProc;
};

struct PIDescriptorParameters {
  int16_t descriptorParametersVersion;
  int16_t playInfo;
  int16_t recordInfo;
  PIDescriptorHandle descriptor;  // NULL: nothing recorded yet
  WriteDescriptorProcs* writeDescriptorProcs;
  ReadDescriptorProcs* readDescriptorProcs;
};

constexpr int16_t kCurrentDescriptorParametersVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsCount = 18;
constexpr int16_t kCurrentWriteDescriptorProcsVersion = 0;
constexpr int16_t kCurrentWriteDescriptorProcsCount = 16;

// playInfo: how the host wants the plug-in to behave when played back.
constexpr int16_t plugInDialogDontDisplay = 0;
constexpr int16_t plugInDialogDisplay = 1;
constexpr int16_t plugInDialogSilent = 2;

// recordInfo: whether the dialog is optional when recording.
constexpr int16_t plugInDialogOptional = 0;
constexpr int16_t plugInDialogRequired = 1;
constexpr int16_t plugInDialogNone = 2;

// Flags returned by getKeyProc (the low word mirrors the terminology flags).
constexpr int32_t actionSimpleParameter = 0x00000000;
constexpr int32_t actionEnumeratedParameter = 0x00002000;
constexpr int32_t actionListParameter = 0x00004000;
constexpr int32_t actionOptionalParameter = 0x00008000;
constexpr int32_t actionObjectParameter = static_cast<int32_t>(0x80000000u);
constexpr int32_t actionScopedParameter = 0x40000000;
constexpr int32_t actionStringIDParameter = 0x20000000;

// Type and unit codes.
constexpr DescriptorTypeID typeFloat = FourCC("doub");
constexpr DescriptorTypeID typeUnitFloat = FourCC("UntF");
constexpr DescriptorTypeID typeInteger = FourCC("long");
constexpr DescriptorTypeID typeBoolean = FourCC("bool");
constexpr DescriptorTypeID typeEnumerated = FourCC("enum");
constexpr DescriptorTypeID typeNull = FourCC("null");
constexpr DescriptorTypeID noReply = FourCC("null");
constexpr DescriptorTypeID typeImageReference = FourCC("#ImR");
constexpr DescriptorTypeID typeRawData = FourCC("tdta");
constexpr DescriptorUnitID unitPercent = FourCC("#Prc");
constexpr DescriptorUnitID unitAngle = FourCC("#Ang");
constexpr DescriptorUnitID unitPixels = FourCC("#Pxl");
constexpr DescriptorUnitID unitDistance = FourCC("#Rlt");
constexpr DescriptorUnitID unitNone = FourCC("#Nne");

// ---------------------------------------------------------------------------
// The basic suite (PICA) and the suites acquired through it

struct SPBasicSuite {
  SPErr (*AcquireSuite)(const char* name, int32_t version, const void** suite);
  SPErr (*ReleaseSuite)(const char* name, int32_t version);
  SPBoolean (*IsEqual)(const char* token1, const char* token2);
  SPErr (*AllocateBlock)(size_t size, void** block);
  SPErr (*FreeBlock)(void* block);
  SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newBlock);
  SPErr (*Undefined)(void);
};

struct PSErrorSuite1 {
  SPErr (*SetErrorFromPString)(const unsigned char* errorString);
  SPErr (*SetErrorFromCString)(const char* errorString);
  SPErr (*SetErrorFromZString)(ASZString errorString);
};

struct PSDescriptorRegistryProcs {
  OSErr (*Register)(const char* key, PIActionDescriptor descriptor, Boolean isPersistent);
  OSErr (*Erase)(const char* key);
  // *descriptor receives a copy the caller frees, or NULL when nothing is stored.
  OSErr (*Get)(const char* key, PIActionDescriptor* descriptor);
};

// All 53 slots of version 5; versions 2 and 3 are prefixes of it (see the
// size constants below). Check the acquired version before using later slots.
struct PSActionDescriptorProcs {
  OSErr (*Make)(PIActionDescriptor* descriptor);
  OSErr (*Free)(PIActionDescriptor descriptor);
  OSErr (*GetType)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorTypeID* type);
  OSErr (*GetKey)(PIActionDescriptor descriptor, uint32_t index, DescriptorKeyID* key);
  OSErr (*HasKey)(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean* hasKey);
  OSErr (*GetCount)(PIActionDescriptor descriptor, uint32_t* count);
  OSErr (*IsEqual)(PIActionDescriptor descriptor, PIActionDescriptor other, Boolean* isEqual);
  OSErr (*Erase)(PIActionDescriptor descriptor, DescriptorKeyID key);
  OSErr (*Clear)(PIActionDescriptor descriptor);
  OSErr (*PutInteger)(PIActionDescriptor descriptor, DescriptorKeyID key, int32_t value);
  OSErr (*PutFloat)(PIActionDescriptor descriptor, DescriptorKeyID key, double value);
  OSErr (*PutUnitFloat)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorUnitID unit, double value);
  OSErr (*PutString)(PIActionDescriptor descriptor, DescriptorKeyID key, const char* cstrValue);
  OSErr (*PutBoolean)(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean value);
  OSErr (*PutList)(PIActionDescriptor descriptor, DescriptorKeyID key, PIActionList value);
  OSErr (*PutObject)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorClassID type,
                     PIActionDescriptor value);
  OSErr (*PutGlobalObject)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorClassID type,
                           PIActionDescriptor value);
  OSErr (*PutEnumerated)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorEnumTypeID type,
                         DescriptorEnumID value);
  OSErr (*PutReference)(PIActionDescriptor descriptor, DescriptorKeyID key, PIActionReference value);
  OSErr (*PutClass)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorClassID value);
  OSErr (*PutGlobalClass)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorClassID value);
  OSErr (*PutAlias)(PIActionDescriptor descriptor, DescriptorKeyID key, Handle value);
  OSErr (*GetInteger)(PIActionDescriptor descriptor, DescriptorKeyID key, int32_t* value);
  OSErr (*GetFloat)(PIActionDescriptor descriptor, DescriptorKeyID key, double* value);
  OSErr (*GetUnitFloat)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorUnitID* unit, double* value);
  OSErr (*GetStringLength)(PIActionDescriptor descriptor, DescriptorKeyID key, uint32_t* stringLength);
  OSErr (*GetString)(PIActionDescriptor descriptor, DescriptorKeyID key, char* cstrValue, uint32_t maxLength);
  OSErr (*GetBoolean)(PIActionDescriptor descriptor, DescriptorKeyID key, Boolean* value);
  OSErr (*GetList)(PIActionDescriptor descriptor, DescriptorKeyID key, PIActionList* value);
  OSErr (*GetObject)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorClassID* type,
                     PIActionDescriptor* value);
  OSErr (*GetGlobalObject)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorClassID* type,
                           PIActionDescriptor* value);
  OSErr (*GetEnumerated)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorEnumTypeID* type,
                         DescriptorEnumID* value);
  OSErr (*GetReference)(PIActionDescriptor descriptor, DescriptorKeyID key, PIActionReference* value);
  OSErr (*GetClass)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorClassID* value);
  OSErr (*GetGlobalClass)(PIActionDescriptor descriptor, DescriptorKeyID key, DescriptorClassID* value);
  OSErr (*GetAlias)(PIActionDescriptor descriptor, DescriptorKeyID key, Handle* value);
  OSErr (*HasKeys)(PIActionDescriptor descriptor, DescriptorKeyID* requiredKeys, Boolean* hasKeys);
  OSErr (*PutIntegers)(PIActionDescriptor descriptor, DescriptorKeyID key, uint32_t count, int32_t* values);
  OSErr (*GetIntegers)(PIActionDescriptor descriptor, DescriptorKeyID key, uint32_t count, int32_t* values);
  OSErr (*AsHandle)(PIActionDescriptor descriptor, PIDescriptorHandle* value);
  OSErr (*HandleToDescriptor)(PIDescriptorHandle value, PIActionDescriptor* descriptor);
  OSErr (*PutZString)(PIActionDescriptor descriptor, DescriptorKeyID key, ASZString zstring);
  OSErr (*GetZString)(PIActionDescriptor descriptor, DescriptorKeyID key, ASZString* zstring);
  OSErr (*PutData)(PIActionDescriptor descriptor, DescriptorKeyID key, int32_t length, void* value);
  OSErr (*GetDataLength)(PIActionDescriptor descriptor, DescriptorKeyID key, int32_t* value);
  OSErr (*GetData)(PIActionDescriptor descriptor, DescriptorKeyID key, void* value);
  // Version 3 (slots 46-47).
  OSErr (*PutInteger64)(PIActionDescriptor descriptor, DescriptorKeyID key, int64_t value);
  OSErr (*GetInteger64)(PIActionDescriptor descriptor, DescriptorKeyID key, int64_t* value);
  // Version 5 (slots 48-52).
  OSErr (*MakeWithClass)(DescriptorClassID descriptorClass, PIActionDescriptor* descriptor);
  OSErr (*GetDescriptorClass)(PIActionDescriptor descriptor, DescriptorClassID* descriptorClass);
  OSErr (*Copy)(PIActionDescriptor descriptor, PIActionDescriptor* descriptorCopy);
  OSErr (*PutBookmark)(PIActionDescriptor descriptor, DescriptorKeyID key, void* cfData);   // Mac only
  OSErr (*GetBookmark)(PIActionDescriptor descriptor, DescriptorKeyID key, void** cfData);  // Mac only
};

// Table sizes of the action descriptor suite by version (slot counts times
// the pointer size).
constexpr size_t kActionDescriptorProcsV2Slots = 46;
constexpr size_t kActionDescriptorProcsV3Slots = 48;
constexpr size_t kActionDescriptorProcsV5Slots = 53;
constexpr size_t kActionDescriptorProcsV2Size = kActionDescriptorProcsV2Slots * sizeof(void*);
constexpr size_t kActionDescriptorProcsV3Size = kActionDescriptorProcsV3Slots * sizeof(void*);
constexpr size_t kActionDescriptorProcsV5Size = kActionDescriptorProcsV5Slots * sizeof(void*);

// Suite names and versions.
inline constexpr char kPSPropertySuite[] = "Photoshop Property Suite for Plug-ins";
constexpr int32_t kPSPropertySuiteVersion1 = 1;
inline constexpr char kPSErrorSuite[] = "Photoshop Error Suite for Plug-ins";
constexpr int32_t kPSErrorSuiteVersion1 = 1;
inline constexpr char kPSDescriptorRegistrySuite[] = "61e608b0-40fd-11d1-8da3-00c04fd5f7ee";
constexpr int32_t kPSDescriptorRegistrySuiteVersion = 1;
inline constexpr char kPSActionDescriptorSuite[] = "df135115-c769-11d0-8079-00c04fd7ec47";
constexpr int32_t kPSActionDescriptorSuiteVersion2 = 2;
constexpr int32_t kPSActionDescriptorSuiteVersion3 = 3;
constexpr int32_t kPSActionDescriptorSuiteVersion5 = 5;

// PICA error values.
constexpr SPErr kSPNoError = 0;
constexpr SPErr kSPSuiteNotFoundError = static_cast<SPErr>(FourCC("S!Fd"));
constexpr SPErr kSPBadParameterError = static_cast<SPErr>(FourCC("Parm"));
constexpr SPErr kSPUnimplementedError = static_cast<SPErr>(FourCC("!IMP"));
constexpr SPErr kSPOutOfMemoryError = -148;

// ---------------------------------------------------------------------------
// The filter record and its companions

#pragma pack(push, 4)

// 32-bit coordinates for documents larger than 32767 pixels; used instead of
// the record's 16-bit rectangles once the plug-in sets
// PluginUsing32BitCoordinates.
struct BigDocumentStruct {
  int32_t PluginUsing32BitCoordinates;
  VPoint imageSize32;
  VRect filterRect32;
  VRect inRect32;
  VRect outRect32;
  VRect maskRect32;
  VPoint floatCoord32;
  VPoint wholeSize32;
};

// The full 18.0 form. Hosts of older generations allocate less: fields after
// bigDocumentData may only be read when the host is known to provide them.
struct FilterRecord {
  int32_t serialNumber;
  TestAbortProc abortProc;
  ProgressProc progressProc;
  Handle parameters;
  Point imageSize;
  int16_t planes;
  Rect filterRect;
  PSRGBColor background;
  PSRGBColor foreground;
  int32_t maxSpace;
  int32_t bufferSpace;
  Rect inRect;
  int16_t inLoPlane;
  int16_t inHiPlane;
  Rect outRect;
  int16_t outLoPlane;
  int16_t outHiPlane;
  void* inData;
  int32_t inRowBytes;
  void* outData;
  int32_t outRowBytes;
  Boolean isFloating;
  Boolean haveMask;
  Boolean autoMask;
  Rect maskRect;
  void* maskData;
  int32_t maskRowBytes;
  FilterColor backColor;
  FilterColor foreColor;
  OSType hostSig;
  HostProc hostProc;
  int16_t imageMode;
  Fixed imageHRes;
  Fixed imageVRes;
  Point floatCoord;
  Point wholeSize;
  PlugInMonitor monitor;
  PlatformData* platformData;
  BufferProcs* bufferProcs;
  ResourceProcs* resourceProcs;
  ProcessEventProc processEvent;
  DisplayPixelsProc displayPixels;
  HandleProcs* handleProcs;
  // 3.0
  Boolean supportsDummyChannels;
  Boolean supportsAlternateLayouts;
  int16_t wantLayout;
  int16_t filterCase;
  int16_t dummyPlaneValue;
  void* premiereHook;
  AdvanceStateProc advanceState;
  Boolean supportsAbsolute;
  Boolean wantsAbsolute;
  GetPropertyProc getPropertyObsolete;
  Boolean cannotUndo;
  Boolean supportsPadding;
  int16_t inputPadding;
  int16_t outputPadding;
  int16_t maskPadding;
  char samplingSupport;
  char reservedByte;
  Fixed inputRate;
  Fixed maskRate;
  ColorServicesProc colorServices;
  int16_t inLayerPlanes;
  int16_t inTransparencyMask;
  int16_t inLayerMasks;
  int16_t inInvertedLayerMasks;
  int16_t inNonLayerPlanes;
  int16_t outLayerPlanes;
  int16_t outTransparencyMask;
  int16_t outLayerMasks;
  int16_t outInvertedLayerMasks;
  int16_t outNonLayerPlanes;
  int16_t absLayerPlanes;
  int16_t absTransparencyMask;
  int16_t absLayerMasks;
  int16_t absInvertedLayerMasks;
  int16_t absNonLayerPlanes;
  int16_t inPreDummyPlanes;
  int16_t inPostDummyPlanes;
  int16_t outPreDummyPlanes;
  int16_t outPostDummyPlanes;
  int32_t inColumnBytes;
  int32_t inPlaneBytes;
  int32_t outColumnBytes;
  int32_t outPlaneBytes;
  // 3.0.4
  ImageServicesProcs* imageServicesProcs;
  PropertyProcs* propertyProcs;
  int16_t inTileHeight;
  int16_t inTileWidth;
  Point inTileOrigin;
  int16_t absTileHeight;
  int16_t absTileWidth;
  Point absTileOrigin;
  int16_t outTileHeight;
  int16_t outTileWidth;
  Point outTileOrigin;
  int16_t maskTileHeight;
  int16_t maskTileWidth;
  Point maskTileOrigin;
  // 4.0
  PIDescriptorParameters* descriptorParameters;
  Str255* errorString;
  ChannelPortProcs* channelPortProcs;
  ReadImageDocumentDesc* documentInfo;
  // 5.0
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  int32_t depth;
  // 6.0
  Handle iCCprofileData;
  int32_t iCCprofileSize;
  int32_t canUseICCProfiles;
  // 7.0
  int32_t hasImageScrap;
  // 8.0
  BigDocumentStruct* bigDocumentData;
  // 10.0
  PIDescriptorParameters* input3DScene;
  PIDescriptorParameters* output3DScene;
  Boolean createNewLayer;
  // 13.0
  Handle iCCWorkingProfileData;
  int32_t iCCWorkingProfileSize;
  // 18.0
  int64_t bufferSpace64;
  int64_t maxSpace64;
  char reserved[46];
};

#pragma pack(pop)

// Selector 0 gets this instead of a FilterRecord.
struct AboutRecord {
  PlatformData* platformData;
  SPBasicSuite* sSPBasic;
  void* plugInRef;
  char reserved[244];
};

// The exported entry point.
typedef void (*PluginMainProc)(int16_t selector, void* record, intptr_t* data, int16_t* result);

// ---------------------------------------------------------------------------
// Constants

// Selectors.
constexpr int16_t filterSelectorAbout = 0;
constexpr int16_t filterSelectorParameters = 1;
constexpr int16_t filterSelectorPrepare = 2;
constexpr int16_t filterSelectorStart = 3;
constexpr int16_t filterSelectorContinue = 4;
constexpr int16_t filterSelectorFinish = 5;

// Result codes (OSErr and *result). Positive values other than
// coercedParamErr mean "the plug-in already reported its own error".
constexpr OSErr noErr = 0;
constexpr OSErr coercedParamErr = 2;
constexpr OSErr writErr = -20;
constexpr OSErr paramErr = -50;
constexpr OSErr memFullErr = -108;
constexpr OSErr nilHandleErr = -109;
constexpr OSErr userCanceledErr = -128;
constexpr OSErr errMissingParameter = -1715;
constexpr OSErr filterBadParameters = -30100;
constexpr OSErr filterBadMode = -30101;
constexpr OSErr errPlugInHostInsufficient = -30900;
constexpr OSErr errPlugInPropertyUndefined = -30901;
constexpr OSErr errHostDoesNotSupportColStep = -30902;
constexpr OSErr errInvalidSamplePoint = -30903;
constexpr OSErr errReportString = -30904;
constexpr OSErr errHostVersionIncompatible = -30905;
constexpr OSErr errUnknownPort = -30910;
constexpr OSErr errUnsupportedRowBits = -30911;
constexpr OSErr errUnsupportedColBits = -30912;
constexpr OSErr errUnsupportedBitOffset = -30913;
constexpr OSErr errUnsupportedDepth = -30914;
constexpr OSErr errUnsupportedDepthConversion = -30915;
constexpr OSErr errWrongPlatformFilePath = -30916;
constexpr OSErr errIllegalCharInID = -30917;

// Image modes (FilterRecord.imageMode). The interface defines nothing above 17.
constexpr int16_t plugInModeBitmap = 0;
constexpr int16_t plugInModeGrayScale = 1;
constexpr int16_t plugInModeIndexedColor = 2;
constexpr int16_t plugInModeRGBColor = 3;
constexpr int16_t plugInModeCMYKColor = 4;
constexpr int16_t plugInModeHSLColor = 5;
constexpr int16_t plugInModeHSBColor = 6;
constexpr int16_t plugInModeMultichannel = 7;
constexpr int16_t plugInModeDuotone = 8;
constexpr int16_t plugInModeLabColor = 9;
constexpr int16_t plugInModeGray16 = 10;
constexpr int16_t plugInModeRGB48 = 11;
constexpr int16_t plugInModeLab48 = 12;
constexpr int16_t plugInModeCMYK64 = 13;
constexpr int16_t plugInModeDeepMultichannel = 14;
constexpr int16_t plugInModeDuotone16 = 15;
constexpr int16_t plugInModeRGB96 = 16;
constexpr int16_t plugInModeGray32 = 17;

// Filter cases (FilterRecord.filterCase; index into the 'fici' property).
constexpr int16_t filterCaseUnsupported = -1;
constexpr int16_t filterCaseNotSet = 0;
constexpr int16_t filterCaseFlatImageNoSelection = 1;
constexpr int16_t filterCaseFlatImageWithSelection = 2;
constexpr int16_t filterCaseFloatingSelection = 3;
constexpr int16_t filterCaseEditableTransparencyNoSelection = 4;
constexpr int16_t filterCaseEditableTransparencyWithSelection = 5;
constexpr int16_t filterCaseProtectedTransparencyNoSelection = 6;
constexpr int16_t filterCaseProtectedTransparencyWithSelection = 7;

// FilterCaseInfo handling values.
constexpr char filterDataHandlingCantFilter = 0;
constexpr char filterDataHandlingNone = 1;
constexpr char filterDataHandlingBlackMat = 2;
constexpr char filterDataHandlingGrayMat = 3;
constexpr char filterDataHandlingWhiteMat = 4;
constexpr char filterDataHandlingDefringe = 5;
constexpr char filterDataHandlingBlackZap = 6;
constexpr char filterDataHandlingGrayZap = 7;
constexpr char filterDataHandlingWhiteZap = 8;
constexpr char filterDataHandlingFillMask = 9;
constexpr char filterDataHandlingBackgroundZap = 10;
constexpr char filterDataHandlingForegroundZap = 11;

// FilterCaseInfo.flags1 bits.
constexpr char PIFilterDontCopyToDestinationBit = 0x01;
constexpr char PIFilterWorksWithBlankDataBit = 0x02;
constexpr char PIFilterFiltersLayerMaskBit = 0x04;
constexpr char PIFilterWritesOutsideSelectionBit = 0x08;

// Padding values (inputPadding, outputPadding, maskPadding); 0..255 fill.
constexpr int16_t plugInWantsEdgeReplication = -1;
constexpr int16_t plugInDoesNotWantPadding = -2;
constexpr int16_t plugInWantsErrorOnBoundsException = -3;

// samplingSupport.
constexpr char hostDoesNotSupportSampling = 0;
constexpr char hostSupportsIntegralSampling = 1;
constexpr char hostSupportsFractionalSampling = 2;

// wantLayout.
constexpr int16_t piLayoutTraditional = 0;

// Signatures, property keys, interface versions.
constexpr OSType kPhotoshopSignature = FourCC("8BIM");
constexpr OSType kFilterKind = FourCC("8BFM");
constexpr OSType propWatchSuspension = FourCC("wtch");
constexpr OSType propSerialString = FourCC("sstR");
constexpr int16_t latestFilterVersion = 4;
constexpr int16_t latestFilterSubVersion = 0;

// ---------------------------------------------------------------------------
// Layout checks against the offsets published for hosts on i686 and x86-64.

#define GM_HOST_LAYOUT(type, field, off32, off64)                                  \
  static_assert(offsetof(type, field) == (sizeof(void*) == 4 ? (off32) : (off64)), \
                #type "." #field " is not where hosts put it")
#define GM_HOST_SIZE(type, size32, size64) \
  static_assert(sizeof(type) == (sizeof(void*) == 4 ? (size32) : (size64)), "sizeof(" #type ") differs from hosts")

static_assert(FourCC("8BIM") == 0x3842494Du, "four-character codes are big-endian values");
static_assert(sizeof(Boolean) == 1 && sizeof(OSErr) == 2 && sizeof(SPErr) == 4 && sizeof(SPBoolean) == 4,
              "callback result widths");
static_assert(sizeof(Point) == 4 && sizeof(Rect) == 8 && sizeof(VPoint) == 8 && sizeof(VRect) == 16,
              "coordinate records");
static_assert(sizeof(PSRGBColor) == 6 && sizeof(PlugInMonitor) == 40 && sizeof(FilterCaseInfo) == 4, "small records");
static_assert(sizeof(Str255) == 256 && sizeof(FilterColor) == 4, "fixed arrays");
GM_HOST_SIZE(PlatformData, 4, 8);

GM_HOST_LAYOUT(FilterRecord, serialNumber, 0, 0);
GM_HOST_LAYOUT(FilterRecord, abortProc, 4, 4);
GM_HOST_LAYOUT(FilterRecord, progressProc, 8, 12);
GM_HOST_LAYOUT(FilterRecord, parameters, 12, 20);
GM_HOST_LAYOUT(FilterRecord, imageSize, 16, 28);
GM_HOST_LAYOUT(FilterRecord, planes, 20, 32);
GM_HOST_LAYOUT(FilterRecord, filterRect, 22, 34);
GM_HOST_LAYOUT(FilterRecord, background, 30, 42);
GM_HOST_LAYOUT(FilterRecord, foreground, 36, 48);
GM_HOST_LAYOUT(FilterRecord, maxSpace, 44, 56);
GM_HOST_LAYOUT(FilterRecord, bufferSpace, 48, 60);
GM_HOST_LAYOUT(FilterRecord, inRect, 52, 64);
GM_HOST_LAYOUT(FilterRecord, inLoPlane, 60, 72);
GM_HOST_LAYOUT(FilterRecord, inHiPlane, 62, 74);
GM_HOST_LAYOUT(FilterRecord, outRect, 64, 76);
GM_HOST_LAYOUT(FilterRecord, outLoPlane, 72, 84);
GM_HOST_LAYOUT(FilterRecord, outHiPlane, 74, 86);
GM_HOST_LAYOUT(FilterRecord, inData, 76, 88);
GM_HOST_LAYOUT(FilterRecord, inRowBytes, 80, 96);
GM_HOST_LAYOUT(FilterRecord, outData, 84, 100);
GM_HOST_LAYOUT(FilterRecord, outRowBytes, 88, 108);
GM_HOST_LAYOUT(FilterRecord, isFloating, 92, 112);
GM_HOST_LAYOUT(FilterRecord, haveMask, 93, 113);
GM_HOST_LAYOUT(FilterRecord, autoMask, 94, 114);
GM_HOST_LAYOUT(FilterRecord, maskRect, 96, 116);
GM_HOST_LAYOUT(FilterRecord, maskData, 104, 124);
GM_HOST_LAYOUT(FilterRecord, maskRowBytes, 108, 132);
GM_HOST_LAYOUT(FilterRecord, backColor, 112, 136);
GM_HOST_LAYOUT(FilterRecord, foreColor, 116, 140);
GM_HOST_LAYOUT(FilterRecord, hostSig, 120, 144);
GM_HOST_LAYOUT(FilterRecord, hostProc, 124, 148);
GM_HOST_LAYOUT(FilterRecord, imageMode, 128, 156);
GM_HOST_LAYOUT(FilterRecord, imageHRes, 132, 160);
GM_HOST_LAYOUT(FilterRecord, imageVRes, 136, 164);
GM_HOST_LAYOUT(FilterRecord, floatCoord, 140, 168);
GM_HOST_LAYOUT(FilterRecord, wholeSize, 144, 172);
GM_HOST_LAYOUT(FilterRecord, monitor, 148, 176);
GM_HOST_LAYOUT(FilterRecord, platformData, 188, 216);
GM_HOST_LAYOUT(FilterRecord, bufferProcs, 192, 224);
GM_HOST_LAYOUT(FilterRecord, resourceProcs, 196, 232);
GM_HOST_LAYOUT(FilterRecord, processEvent, 200, 240);
GM_HOST_LAYOUT(FilterRecord, displayPixels, 204, 248);
GM_HOST_LAYOUT(FilterRecord, handleProcs, 208, 256);
GM_HOST_LAYOUT(FilterRecord, supportsDummyChannels, 212, 264);
GM_HOST_LAYOUT(FilterRecord, supportsAlternateLayouts, 213, 265);
GM_HOST_LAYOUT(FilterRecord, wantLayout, 214, 266);
GM_HOST_LAYOUT(FilterRecord, filterCase, 216, 268);
GM_HOST_LAYOUT(FilterRecord, dummyPlaneValue, 218, 270);
GM_HOST_LAYOUT(FilterRecord, premiereHook, 220, 272);
GM_HOST_LAYOUT(FilterRecord, advanceState, 224, 280);
GM_HOST_LAYOUT(FilterRecord, supportsAbsolute, 228, 288);
GM_HOST_LAYOUT(FilterRecord, wantsAbsolute, 229, 289);
GM_HOST_LAYOUT(FilterRecord, getPropertyObsolete, 232, 292);
GM_HOST_LAYOUT(FilterRecord, cannotUndo, 236, 300);
GM_HOST_LAYOUT(FilterRecord, supportsPadding, 237, 301);
GM_HOST_LAYOUT(FilterRecord, inputPadding, 238, 302);
GM_HOST_LAYOUT(FilterRecord, outputPadding, 240, 304);
GM_HOST_LAYOUT(FilterRecord, maskPadding, 242, 306);
GM_HOST_LAYOUT(FilterRecord, samplingSupport, 244, 308);
GM_HOST_LAYOUT(FilterRecord, reservedByte, 245, 309);
GM_HOST_LAYOUT(FilterRecord, inputRate, 248, 312);
GM_HOST_LAYOUT(FilterRecord, maskRate, 252, 316);
GM_HOST_LAYOUT(FilterRecord, colorServices, 256, 320);
GM_HOST_LAYOUT(FilterRecord, inLayerPlanes, 260, 328);
GM_HOST_LAYOUT(FilterRecord, inTransparencyMask, 262, 330);
GM_HOST_LAYOUT(FilterRecord, inLayerMasks, 264, 332);
GM_HOST_LAYOUT(FilterRecord, inInvertedLayerMasks, 266, 334);
GM_HOST_LAYOUT(FilterRecord, inNonLayerPlanes, 268, 336);
GM_HOST_LAYOUT(FilterRecord, outLayerPlanes, 270, 338);
GM_HOST_LAYOUT(FilterRecord, outTransparencyMask, 272, 340);
GM_HOST_LAYOUT(FilterRecord, outLayerMasks, 274, 342);
GM_HOST_LAYOUT(FilterRecord, outInvertedLayerMasks, 276, 344);
GM_HOST_LAYOUT(FilterRecord, outNonLayerPlanes, 278, 346);
GM_HOST_LAYOUT(FilterRecord, absLayerPlanes, 280, 348);
GM_HOST_LAYOUT(FilterRecord, absTransparencyMask, 282, 350);
GM_HOST_LAYOUT(FilterRecord, absLayerMasks, 284, 352);
GM_HOST_LAYOUT(FilterRecord, absInvertedLayerMasks, 286, 354);
GM_HOST_LAYOUT(FilterRecord, absNonLayerPlanes, 288, 356);
GM_HOST_LAYOUT(FilterRecord, inPreDummyPlanes, 290, 358);
GM_HOST_LAYOUT(FilterRecord, inPostDummyPlanes, 292, 360);
GM_HOST_LAYOUT(FilterRecord, outPreDummyPlanes, 294, 362);
GM_HOST_LAYOUT(FilterRecord, outPostDummyPlanes, 296, 364);
GM_HOST_LAYOUT(FilterRecord, inColumnBytes, 300, 368);
GM_HOST_LAYOUT(FilterRecord, inPlaneBytes, 304, 372);
GM_HOST_LAYOUT(FilterRecord, outColumnBytes, 308, 376);
GM_HOST_LAYOUT(FilterRecord, outPlaneBytes, 312, 380);
GM_HOST_LAYOUT(FilterRecord, imageServicesProcs, 316, 384);
GM_HOST_LAYOUT(FilterRecord, propertyProcs, 320, 392);
GM_HOST_LAYOUT(FilterRecord, inTileHeight, 324, 400);
GM_HOST_LAYOUT(FilterRecord, inTileWidth, 326, 402);
GM_HOST_LAYOUT(FilterRecord, inTileOrigin, 328, 404);
GM_HOST_LAYOUT(FilterRecord, absTileHeight, 332, 408);
GM_HOST_LAYOUT(FilterRecord, absTileWidth, 334, 410);
GM_HOST_LAYOUT(FilterRecord, absTileOrigin, 336, 412);
GM_HOST_LAYOUT(FilterRecord, outTileHeight, 340, 416);
GM_HOST_LAYOUT(FilterRecord, outTileWidth, 342, 418);
GM_HOST_LAYOUT(FilterRecord, outTileOrigin, 344, 420);
GM_HOST_LAYOUT(FilterRecord, maskTileHeight, 348, 424);
GM_HOST_LAYOUT(FilterRecord, maskTileWidth, 350, 426);
GM_HOST_LAYOUT(FilterRecord, maskTileOrigin, 352, 428);
GM_HOST_LAYOUT(FilterRecord, descriptorParameters, 356, 432);
GM_HOST_LAYOUT(FilterRecord, errorString, 360, 440);
GM_HOST_LAYOUT(FilterRecord, channelPortProcs, 364, 448);
GM_HOST_LAYOUT(FilterRecord, documentInfo, 368, 456);
GM_HOST_LAYOUT(FilterRecord, sSPBasic, 372, 464);
GM_HOST_LAYOUT(FilterRecord, plugInRef, 376, 472);
GM_HOST_LAYOUT(FilterRecord, depth, 380, 480);
GM_HOST_LAYOUT(FilterRecord, iCCprofileData, 384, 484);
GM_HOST_LAYOUT(FilterRecord, iCCprofileSize, 388, 492);
GM_HOST_LAYOUT(FilterRecord, canUseICCProfiles, 392, 496);
GM_HOST_LAYOUT(FilterRecord, hasImageScrap, 396, 500);
GM_HOST_LAYOUT(FilterRecord, bigDocumentData, 400, 504);
GM_HOST_LAYOUT(FilterRecord, input3DScene, 404, 512);
GM_HOST_LAYOUT(FilterRecord, output3DScene, 408, 520);
GM_HOST_LAYOUT(FilterRecord, createNewLayer, 412, 528);
GM_HOST_LAYOUT(FilterRecord, iCCWorkingProfileData, 416, 532);
GM_HOST_LAYOUT(FilterRecord, iCCWorkingProfileSize, 420, 540);
GM_HOST_LAYOUT(FilterRecord, bufferSpace64, 424, 544);
GM_HOST_LAYOUT(FilterRecord, maxSpace64, 432, 552);
GM_HOST_LAYOUT(FilterRecord, reserved, 440, 560);
GM_HOST_SIZE(FilterRecord, 488, 608);
static_assert(alignof(FilterRecord) == 4, "FilterRecord is packed to 4");

// Hosts of the 8.0 generation allocate only up to here plus 46 reserved bytes.
constexpr size_t kFilterRecordSize80 = sizeof(void*) == 4 ? 452 : 560;
constexpr size_t kFilterRecordSize180 = sizeof(FilterRecord);

GM_HOST_LAYOUT(AboutRecord, platformData, 0, 0);
GM_HOST_LAYOUT(AboutRecord, sSPBasic, 4, 8);
GM_HOST_LAYOUT(AboutRecord, plugInRef, 8, 16);
GM_HOST_LAYOUT(AboutRecord, reserved, 12, 24);
GM_HOST_SIZE(AboutRecord, 256, 272);

GM_HOST_LAYOUT(BigDocumentStruct, PluginUsing32BitCoordinates, 0, 0);
GM_HOST_LAYOUT(BigDocumentStruct, imageSize32, 4, 4);
GM_HOST_LAYOUT(BigDocumentStruct, filterRect32, 12, 12);
GM_HOST_LAYOUT(BigDocumentStruct, inRect32, 28, 28);
GM_HOST_LAYOUT(BigDocumentStruct, outRect32, 44, 44);
GM_HOST_LAYOUT(BigDocumentStruct, maskRect32, 60, 60);
GM_HOST_LAYOUT(BigDocumentStruct, floatCoord32, 76, 76);
GM_HOST_LAYOUT(BigDocumentStruct, wholeSize32, 84, 84);
GM_HOST_SIZE(BigDocumentStruct, 92, 92);

GM_HOST_LAYOUT(HandleProcs, handleProcsVersion, 0, 0);
GM_HOST_LAYOUT(HandleProcs, numHandleProcs, 2, 2);
GM_HOST_LAYOUT(HandleProcs, newProc, 4, 8);
GM_HOST_LAYOUT(HandleProcs, disposeProc, 8, 16);
GM_HOST_LAYOUT(HandleProcs, getSizeProc, 12, 24);
GM_HOST_LAYOUT(HandleProcs, setSizeProc, 16, 32);
GM_HOST_LAYOUT(HandleProcs, lockProc, 20, 40);
GM_HOST_LAYOUT(HandleProcs, unlockProc, 24, 48);
GM_HOST_LAYOUT(HandleProcs, recoverSpaceProc, 28, 56);
GM_HOST_LAYOUT(HandleProcs, disposeRegularHandleProc, 32, 64);
GM_HOST_SIZE(HandleProcs, 36, 72);

GM_HOST_LAYOUT(BufferProcs, bufferProcsVersion, 0, 0);
GM_HOST_LAYOUT(BufferProcs, numBufferProcs, 2, 2);
GM_HOST_LAYOUT(BufferProcs, allocateProc, 4, 8);
GM_HOST_LAYOUT(BufferProcs, lockProc, 8, 16);
GM_HOST_LAYOUT(BufferProcs, unlockProc, 12, 24);
GM_HOST_LAYOUT(BufferProcs, freeProc, 16, 32);
GM_HOST_LAYOUT(BufferProcs, spaceProc, 20, 40);
GM_HOST_LAYOUT(BufferProcs, reserveProc, 24, 48);
GM_HOST_LAYOUT(BufferProcs, allocateProc64, 28, 56);
GM_HOST_LAYOUT(BufferProcs, spaceProc64, 32, 64);
GM_HOST_SIZE(BufferProcs, 36, 72);

GM_HOST_LAYOUT(PropertyProcs, propertyProcsVersion, 0, 0);
GM_HOST_LAYOUT(PropertyProcs, numPropertyProcs, 2, 2);
GM_HOST_LAYOUT(PropertyProcs, getPropertyProc, 4, 8);
GM_HOST_LAYOUT(PropertyProcs, setPropertyProc, 8, 16);
GM_HOST_SIZE(PropertyProcs, 12, 24);

GM_HOST_LAYOUT(ResourceProcs, countProc, 4, 8);
GM_HOST_LAYOUT(ResourceProcs, addProc, 16, 32);
GM_HOST_SIZE(ResourceProcs, 20, 40);

GM_HOST_LAYOUT(PIDescriptorParameters, descriptorParametersVersion, 0, 0);
GM_HOST_LAYOUT(PIDescriptorParameters, playInfo, 2, 2);
GM_HOST_LAYOUT(PIDescriptorParameters, recordInfo, 4, 4);
GM_HOST_LAYOUT(PIDescriptorParameters, descriptor, 8, 8);
GM_HOST_LAYOUT(PIDescriptorParameters, writeDescriptorProcs, 12, 16);
GM_HOST_LAYOUT(PIDescriptorParameters, readDescriptorProcs, 16, 24);
GM_HOST_SIZE(PIDescriptorParameters, 20, 32);

GM_HOST_LAYOUT(ReadDescriptorProcs, readDescriptorProcsVersion, 0, 0);
GM_HOST_LAYOUT(ReadDescriptorProcs, numReadDescriptorProcs, 2, 2);
GM_HOST_LAYOUT(ReadDescriptorProcs, openReadDescriptorProc, 4, 8);
GM_HOST_LAYOUT(ReadDescriptorProcs, closeReadDescriptorProc, 8, 16);
GM_HOST_LAYOUT(ReadDescriptorProcs, getKeyProc, 12, 24);
GM_HOST_LAYOUT(ReadDescriptorProcs, getIntegerProc, 16, 32);
GM_HOST_LAYOUT(ReadDescriptorProcs, getFloatProc, 20, 40);
GM_HOST_LAYOUT(ReadDescriptorProcs, getUnitFloatProc, 24, 48);
GM_HOST_LAYOUT(ReadDescriptorProcs, getBooleanProc, 28, 56);
GM_HOST_LAYOUT(ReadDescriptorProcs, getTextProc, 32, 64);
GM_HOST_LAYOUT(ReadDescriptorProcs, getAliasProc, 36, 72);
GM_HOST_LAYOUT(ReadDescriptorProcs, getEnumeratedProc, 40, 80);
GM_HOST_LAYOUT(ReadDescriptorProcs, getClassProc, 44, 88);
GM_HOST_LAYOUT(ReadDescriptorProcs, getSimpleReferenceProc, 48, 96);
GM_HOST_LAYOUT(ReadDescriptorProcs, getObjectProc, 52, 104);
GM_HOST_LAYOUT(ReadDescriptorProcs, getCountProc, 56, 112);
GM_HOST_LAYOUT(ReadDescriptorProcs, getStringProc, 60, 120);
GM_HOST_LAYOUT(ReadDescriptorProcs, getPinnedIntegerProc, 64, 128);
GM_HOST_LAYOUT(ReadDescriptorProcs, getPinnedFloatProc, 68, 136);
GM_HOST_LAYOUT(ReadDescriptorProcs, getPinnedUnitFloatProc, 72, 144);
GM_HOST_SIZE(ReadDescriptorProcs, 76, 152);

GM_HOST_LAYOUT(WriteDescriptorProcs, writeDescriptorProcsVersion, 0, 0);
GM_HOST_LAYOUT(WriteDescriptorProcs, numWriteDescriptorProcs, 2, 2);
GM_HOST_LAYOUT(WriteDescriptorProcs, openWriteDescriptorProc, 4, 8);
GM_HOST_LAYOUT(WriteDescriptorProcs, closeWriteDescriptorProc, 8, 16);
GM_HOST_LAYOUT(WriteDescriptorProcs, putIntegerProc, 12, 24);
GM_HOST_LAYOUT(WriteDescriptorProcs, putFloatProc, 16, 32);
GM_HOST_LAYOUT(WriteDescriptorProcs, putUnitFloatProc, 20, 40);
GM_HOST_LAYOUT(WriteDescriptorProcs, putBooleanProc, 24, 48);
GM_HOST_LAYOUT(WriteDescriptorProcs, putTextProc, 28, 56);
GM_HOST_LAYOUT(WriteDescriptorProcs, putAliasProc, 32, 64);
GM_HOST_LAYOUT(WriteDescriptorProcs, putEnumeratedProc, 36, 72);
GM_HOST_LAYOUT(WriteDescriptorProcs, putClassProc, 40, 80);
GM_HOST_LAYOUT(WriteDescriptorProcs, putSimpleReferenceProc, 44, 88);
GM_HOST_LAYOUT(WriteDescriptorProcs, putObjectProc, 48, 96);
GM_HOST_LAYOUT(WriteDescriptorProcs, putCountProc, 52, 104);
GM_HOST_LAYOUT(WriteDescriptorProcs, putStringProc, 56, 112);
GM_HOST_LAYOUT(WriteDescriptorProcs, putScopedClassProc, 60, 120);
GM_HOST_LAYOUT(WriteDescriptorProcs, putScopedObjectProc, 64, 128);
GM_HOST_SIZE(WriteDescriptorProcs, 68, 136);

GM_HOST_LAYOUT(PIDescriptorSimpleReference, keyForm, 4, 4);
GM_HOST_LAYOUT(PIDescriptorSimpleReference, keyData.name, 8, 8);
GM_HOST_LAYOUT(PIDescriptorSimpleReference, keyData.index, 264, 264);
GM_HOST_LAYOUT(PIDescriptorSimpleReference, keyData.type, 268, 268);
GM_HOST_LAYOUT(PIDescriptorSimpleReference, keyData.value, 272, 272);
GM_HOST_SIZE(PIDescriptorSimpleReference, 276, 276);

GM_HOST_LAYOUT(SPBasicSuite, AcquireSuite, 0, 0);
GM_HOST_LAYOUT(SPBasicSuite, ReleaseSuite, 4, 8);
GM_HOST_LAYOUT(SPBasicSuite, IsEqual, 8, 16);
GM_HOST_LAYOUT(SPBasicSuite, AllocateBlock, 12, 24);
GM_HOST_LAYOUT(SPBasicSuite, FreeBlock, 16, 32);
GM_HOST_LAYOUT(SPBasicSuite, ReallocateBlock, 20, 40);
GM_HOST_LAYOUT(SPBasicSuite, Undefined, 24, 48);
GM_HOST_SIZE(SPBasicSuite, 28, 56);

GM_HOST_LAYOUT(PSErrorSuite1, SetErrorFromPString, 0, 0);
GM_HOST_LAYOUT(PSErrorSuite1, SetErrorFromCString, 4, 8);
GM_HOST_LAYOUT(PSErrorSuite1, SetErrorFromZString, 8, 16);
GM_HOST_SIZE(PSErrorSuite1, 12, 24);

GM_HOST_LAYOUT(PSDescriptorRegistryProcs, Register, 0, 0);
GM_HOST_LAYOUT(PSDescriptorRegistryProcs, Erase, 4, 8);
GM_HOST_LAYOUT(PSDescriptorRegistryProcs, Get, 8, 16);
GM_HOST_SIZE(PSDescriptorRegistryProcs, 12, 24);

GM_HOST_LAYOUT(PSActionDescriptorProcs, Make, 0, 0);
GM_HOST_LAYOUT(PSActionDescriptorProcs, Free, 4, 8);
GM_HOST_LAYOUT(PSActionDescriptorProcs, HasKey, 16, 32);
GM_HOST_LAYOUT(PSActionDescriptorProcs, PutInteger, 36, 72);
GM_HOST_LAYOUT(PSActionDescriptorProcs, PutFloat, 40, 80);
GM_HOST_LAYOUT(PSActionDescriptorProcs, GetInteger, 88, 176);
GM_HOST_LAYOUT(PSActionDescriptorProcs, GetFloat, 92, 184);
GM_HOST_LAYOUT(PSActionDescriptorProcs, HasKeys, 144, 288);
GM_HOST_LAYOUT(PSActionDescriptorProcs, HandleToDescriptor, 160, 320);
GM_HOST_LAYOUT(PSActionDescriptorProcs, PutData, 172, 344);
GM_HOST_LAYOUT(PSActionDescriptorProcs, GetDataLength, 176, 352);
GM_HOST_LAYOUT(PSActionDescriptorProcs, GetData, 180, 360);
GM_HOST_LAYOUT(PSActionDescriptorProcs, PutInteger64, 184, 368);
GM_HOST_LAYOUT(PSActionDescriptorProcs, GetInteger64, 188, 376);
GM_HOST_LAYOUT(PSActionDescriptorProcs, MakeWithClass, 192, 384);
GM_HOST_LAYOUT(PSActionDescriptorProcs, GetBookmark, 208, 416);
GM_HOST_SIZE(PSActionDescriptorProcs, 212, 424);
static_assert(kActionDescriptorProcsV2Size == (sizeof(void*) == 4 ? 184u : 368u) &&
                  kActionDescriptorProcsV3Size == (sizeof(void*) == 4 ? 192u : 384u) &&
                  kActionDescriptorProcsV5Size == sizeof(PSActionDescriptorProcs),
              "action descriptor table sizes by version");

#undef GM_HOST_LAYOUT
#undef GM_HOST_SIZE
