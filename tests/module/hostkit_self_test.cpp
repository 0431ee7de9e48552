// Checks of hostkit itself, without a real module: the handle and descriptor
// procedures as a module calls them, the suites, and the tile transfer
// driven by a small in-test PluginMain.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hostkit/host.h"

namespace {

using hostkit::DescriptorItem;
using hostkit::DescriptorItems;
using hostkit::Host;

void NoModule(int16_t, void*, intptr_t*, int16_t* result) { *result = noErr; }

TEST(HostkitHandles, ProceduresBehaveLikeAHost) {
  Host host(&NoModule);
  host.CallPrepare();  // fills the record
  const HandleProcs* procs = host.record().handleProcs;
  ASSERT_NE(procs, nullptr);
  ASSERT_EQ(procs->numHandleProcs, 8);

  Handle h = procs->newProc(3);
  ASSERT_NE(h, nullptr);
  Ptr p = procs->lockProc(h, 1);
  EXPECT_EQ(p, *h);  // direct access and lock agree
  std::memcpy(p, "abc", 3);
  procs->unlockProc(h);
  ASSERT_EQ(procs->setSizeProc(h, 6), noErr);
  EXPECT_EQ(procs->getSizeProc(h), 6);
  EXPECT_EQ(host.handles().Bytes(h), (std::vector<uint8_t>{'a', 'b', 'c', 0, 0, 0}));
  EXPECT_EQ(host.handles().LiveCount(), 1u);
  procs->disposeProc(h);
  EXPECT_EQ(host.handles().LiveCount(), 0u);

  // A disposed or made-up handle is refused, not dereferenced.
  EXPECT_EQ(procs->getSizeProc(h), 0);
  EXPECT_EQ(procs->lockProc(h, 0), nullptr);
  EXPECT_EQ(procs->newProc(-1), nullptr);
  EXPECT_EQ(host.handles().BadCallCount(), 3u);
}

TEST(HostkitDescriptors, WrittenValuesReadBackWithKeysMarkedAndStickyErrors) {
  Host host(&NoModule);
  host.CallPrepare();
  PIDescriptorParameters* params = host.record().descriptorParameters;
  ASSERT_NE(params, nullptr);
  WriteDescriptorProcs* w = params->writeDescriptorProcs;
  ReadDescriptorProcs* r = params->readDescriptorProcs;

  PIWriteDescriptor wd = w->openWriteDescriptorProc();
  ASSERT_NE(wd, nullptr);
  const double angle = 37.5, amount = 2.75;
  EXPECT_EQ(w->putIntegerProc(wd, FourCC("Cnt "), 12), noErr);
  EXPECT_EQ(w->putUnitFloatProc(wd, FourCC("Angl"), unitAngle, &angle), noErr);
  EXPECT_EQ(w->putFloatProc(wd, FourCC("Amnt"), &amount), noErr);
  EXPECT_EQ(w->putBooleanProc(wd, FourCC("Flag"), 1), noErr);
  PIDescriptorHandle desc = nullptr;
  ASSERT_EQ(w->closeWriteDescriptorProc(wd, &desc), noErr);
  ASSERT_NE(desc, nullptr);

  DescriptorKeyID keys[] = {FourCC("Angl"), FourCC("Miss"), FourCC("Cnt "), 0};
  PIReadDescriptor rd = r->openReadDescriptorProc(desc, keys);
  ASSERT_NE(rd, nullptr);
  DescriptorKeyID key = 0;
  DescriptorTypeID type = 0;
  int32_t flags = -1, integer = 0;
  double number = 0;
  DescriptorUnitID unit = 0;

  ASSERT_TRUE(r->getKeyProc(rd, &key, &type, &flags));
  EXPECT_EQ(key, FourCC("Cnt "));
  EXPECT_EQ(type, typeInteger);
  EXPECT_EQ(r->getIntegerProc(rd, &integer), noErr);
  EXPECT_EQ(integer, 12);
  ASSERT_TRUE(r->getKeyProc(rd, &key, &type, &flags));
  EXPECT_EQ(type, typeUnitFloat);
  EXPECT_EQ(r->getUnitFloatProc(rd, &unit, &number), noErr);
  EXPECT_EQ(unit, unitAngle);
  EXPECT_EQ(number, 37.5);
  ASSERT_TRUE(r->getKeyProc(rd, &key, &type, &flags));
  // 2.75 pinned to [0, 2] comes back as 2 with a warning.
  EXPECT_EQ(r->getPinnedIntegerProc(rd, 0, 2, &integer), coercedParamErr);
  EXPECT_EQ(integer, 2);
  ASSERT_TRUE(r->getKeyProc(rd, &key, &type, &flags));
  Boolean flag = 0;
  EXPECT_EQ(r->getBooleanProc(rd, &flag), noErr);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(r->getIntegerProc(rd, &integer), paramErr);  // a boolean is no integer
  EXPECT_FALSE(r->getKeyProc(rd, &key, &type, &flags));

  // Delivered keys are marked, the missing one stays.
  EXPECT_NE(keys[0], FourCC("Angl"));
  EXPECT_EQ(keys[1], FourCC("Miss"));
  EXPECT_NE(keys[2], FourCC("Cnt "));
  // The error outranks the earlier warning.
  EXPECT_EQ(r->closeReadDescriptorProc(rd), paramErr);
  EXPECT_EQ(host.OpenDescriptorReaders(), 0u);

  // Not a descriptor: refused.
  Handle junk = host.record().handleProcs->newProc(5);
  EXPECT_EQ(r->openReadDescriptorProc(junk, nullptr), nullptr);
  host.record().handleProcs->disposeProc(junk);
  host.record().handleProcs->disposeProc(desc);
}

TEST(HostkitSuites, AcquireReleaseAndDescriptorData) {
  Host host(&NoModule);
  host.CallPrepare();
  SPBasicSuite* basic = host.record().sSPBasic;
  ASSERT_NE(basic, nullptr);
  const void* suite = nullptr;
  EXPECT_EQ(basic->AcquireSuite(kPSPropertySuite, 2, &suite), kSPSuiteNotFoundError);
  EXPECT_EQ(basic->AcquireSuite(kPSActionDescriptorSuite, 5, &suite), kSPSuiteNotFoundError);
  ASSERT_EQ(basic->AcquireSuite(kPSActionDescriptorSuite, 3, &suite), kSPNoError);
  const PSActionDescriptorProcs* actions = static_cast<const PSActionDescriptorProcs*>(suite);
  ASSERT_EQ(basic->AcquireSuite(kPSDescriptorRegistrySuite, 1, &suite), kSPNoError);
  const PSDescriptorRegistryProcs* registry = static_cast<const PSDescriptorRegistryProcs*>(suite);
  EXPECT_EQ(host.OutstandingSuites(), 2);

  PIActionDescriptor empty = reinterpret_cast<PIActionDescriptor>(1);
  EXPECT_EQ(registry->Get("nothing", &empty), noErr);
  EXPECT_EQ(empty, nullptr);

  PIActionDescriptor d = nullptr;
  ASSERT_EQ(actions->Make(&d), noErr);
  const char bytes[] = "\x01\x02\x03";
  EXPECT_EQ(actions->PutData(d, FourCC("blob"), 3, const_cast<char*>(bytes)), noErr);
  EXPECT_EQ(registry->Register("key", d, 1), noErr);
  EXPECT_EQ(actions->Free(d), noErr);

  PIActionDescriptor copy = nullptr;
  ASSERT_EQ(registry->Get("key", &copy), noErr);
  ASSERT_NE(copy, nullptr);
  int32_t length = 0;
  ASSERT_EQ(actions->GetDataLength(copy, FourCC("blob"), &length), noErr);
  ASSERT_EQ(length, 3);
  char back[3] = {};
  EXPECT_EQ(actions->GetData(copy, FourCC("blob"), back), noErr);
  EXPECT_EQ(std::memcmp(back, bytes, 3), 0);
  int32_t integer = 0;
  EXPECT_EQ(actions->GetInteger(copy, FourCC("blob"), &integer), paramErr);
  EXPECT_EQ(actions->GetString(copy, FourCC("blob"), nullptr, 0), errPlugInHostInsufficient);
  EXPECT_EQ(actions->Free(copy), noErr);
  EXPECT_EQ(actions->Free(copy), paramErr);  // double free is refused
  EXPECT_EQ(host.LiveActionDescriptors(), 0u);

  EXPECT_EQ(basic->ReleaseSuite(kPSActionDescriptorSuite, 3), kSPNoError);
  EXPECT_EQ(basic->ReleaseSuite(kPSDescriptorRegistrySuite, 1), kSPNoError);
  EXPECT_EQ(basic->ReleaseSuite(kPSDescriptorRegistrySuite, 1), kSPBadParameterError);
  EXPECT_EQ(host.OutstandingSuites(), 0);
}

// A module that inverts plane `g_plane` of the filter rectangle during Start,
// one advanceState per request, through the 16-bit rectangles.
int g_continueCalls = 0;
void InvertOnePlane(int16_t selector, void* record, intptr_t*, int16_t* result) {
  *result = noErr;
  FilterRecord* r = static_cast<FilterRecord*>(record);
  if (selector == filterSelectorContinue) ++g_continueCalls;
  if (selector != filterSelectorStart) return;
  r->inRect = r->outRect = r->filterRect;
  r->inLoPlane = r->inHiPlane = r->outLoPlane = r->outHiPlane = 1;
  if ((*result = r->advanceState()) != noErr) return;
  const int width = r->filterRect.right - r->filterRect.left, height = r->filterRect.bottom - r->filterRect.top;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      static_cast<uint8_t*>(r->outData)[y * r->outRowBytes + x] =
          255 - static_cast<uint8_t*>(r->inData)[y * r->inRowBytes + x];
  r->inRect = r->outRect = Rect{0, 0, 0, 0};
}

TEST(HostkitTransfer, OutputReachesOnlyTheRequestedPlaneInsideTheFilterRect) {
  hostkit::HostImage image;
  ASSERT_TRUE(image.Allocate(4, 3, 3));
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<uint8_t>(i * 7);
  const hostkit::HostImage before = image;

  hostkit::HostOptions options;
  options.extraRowBytes = 3;  // rows wider than the data, as many hosts deliver
  options.incomingResult = 1;
  Host host(&InvertOnePlane, options);
  host.SetImage(image);
  host.SetFilterRect(VRect{1, 1, 3, 3});
  g_continueCalls = 0;
  EXPECT_EQ(host.RunFilter(false), noErr);
  EXPECT_EQ(g_continueCalls, 0);  // nothing was requested after Start

  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      for (int p = 0; p < 3; ++p) {
        const bool changed = p == 1 && x >= 1 && x < 3 && y >= 1 && y < 3;
        const uint8_t old = before.Pixel(x, y)[p];
        EXPECT_EQ(host.image().Pixel(x, y)[p], changed ? 255 - old : old) << x << "," << y << " plane " << p;
      }
    }
  }
}

TEST(HostkitTransfer, OutOfImageRequestsFollowThePadding) {
  hostkit::HostImage image;
  ASSERT_TRUE(image.Allocate(2, 2, 3));
  Host host(&NoModule);
  host.SetImage(image);
  host.CallPrepare();
  FilterRecord& r = host.record();
  r.inRect = Rect{-1, 0, 1, 2};
  r.inLoPlane = 0;
  r.inHiPlane = 2;
  EXPECT_EQ(r.advanceState(), paramErr);  // default: error on bounds exception
  r.inputPadding = 9;
  ASSERT_EQ(r.advanceState(), noErr);
  EXPECT_EQ(static_cast<uint8_t*>(r.inData)[0], 9);
  r.inHiPlane = 3;  // the image has three planes
  EXPECT_EQ(r.advanceState(), paramErr);
}

TEST(HostkitOptions, PoorHostLeavesRecordsOut) {
  hostkit::HostOptions options;
  options.offerBasicSuite = false;
  options.offerBigDocument = false;
  options.offerDescriptorParameters = false;
  options.offerHandleProcs = false;
  options.offerPlatformData = false;
  Host host(&NoModule, options);
  host.CallPrepare();
  // Copies: gtest binds references, and the record's members are packed.
  const FilterRecord r = host.record();
  EXPECT_TRUE(r.sSPBasic == nullptr);
  EXPECT_TRUE(r.bigDocumentData == nullptr);
  EXPECT_TRUE(r.descriptorParameters == nullptr);
  EXPECT_TRUE(r.handleProcs == nullptr);
  EXPECT_TRUE(r.platformData == nullptr);
}

}  // namespace
