// Checks of hostkit itself, without a real module: the handle and descriptor
// procedures as a module calls them, the suites, and the tile transfer
// driven by a small in-test PluginMain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
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


// --- Every image mode through advanceState -------------------------------

// A module that walks the filter rectangle tile by tile, as a real one does,
// through the 32-bit rectangles when asked to. Pass 0 reads every tile
// (all planes interleaved, and the mask) into its own copy; pass 1 writes
// zeros everywhere, all planes at once; pass 2 writes the copy back one
// plane at a time. A host whose reads or
// write-backs lose anything ends with a changed image.
struct TileWalker {
  bool use32 = false;
  int defaultTile = 5;  // when the host suggests none
  std::vector<uint8_t> copy, maskCopy;
  int tiles = 0;
  int16_t firstFailure = noErr;
  FilterRecord seen{};
};
TileWalker g_walker;

void SetRects(FilterRecord* r, const VRect& in, const VRect& out, const VRect& mask, bool use32) {
  if (use32) {
    r->bigDocumentData->inRect32 = in;
    r->bigDocumentData->outRect32 = out;
    r->bigDocumentData->maskRect32 = mask;
  } else {
    r->inRect = Rect{int16_t(in.top), int16_t(in.left), int16_t(in.bottom), int16_t(in.right)};
    r->outRect = Rect{int16_t(out.top), int16_t(out.left), int16_t(out.bottom), int16_t(out.right)};
    r->maskRect = Rect{int16_t(mask.top), int16_t(mask.left), int16_t(mask.bottom), int16_t(mask.right)};
  }
}

void WalkTiles(int16_t selector, void* record, intptr_t*, int16_t* result) {
  *result = noErr;
  if (selector != filterSelectorStart) return;
  FilterRecord* r = static_cast<FilterRecord*>(record);
  TileWalker& w = g_walker;
  std::memcpy(static_cast<void*>(&w.seen), r, sizeof(FilterRecord));
  const bool use32 = w.use32 && r->bigDocumentData;
  if (use32) r->bigDocumentData->PluginUsing32BitCoordinates = 1;
  const VRect area = use32 ? r->bigDocumentData->filterRect32
                           : VRect{r->filterRect.top, r->filterRect.left, r->filterRect.bottom, r->filterRect.right};
  const int width = area.right - area.left, height = area.bottom - area.top;
  const int bytes = r->depth / 8, planes = r->planes;
  const size_t pixel = size_t(bytes) * size_t(planes);
  w.copy.assign(size_t(width) * size_t(height) * pixel, 0xEE);
  w.maskCopy.assign(size_t(width) * size_t(height), 0);
  const int tileW = r->inTileWidth > 0 ? r->inTileWidth : w.defaultTile;
  const int tileH = r->inTileHeight > 0 ? r->inTileHeight : w.defaultTile;
  const VRect none{0, 0, 0, 0};
  const std::vector<uint8_t> zeros(size_t(tileW) * pixel, 0);
  for (int pass = 0; pass < 3; ++pass) {
    for (int top = area.top; top < area.bottom; top += tileH) {
      for (int left = area.left; left < area.right; left += tileW) {
        const VRect tile{top, left, std::min(top + tileH, area.bottom), std::min(left + tileW, area.right)};
        const int tw = tile.right - tile.left;
        const bool read = pass == 0;
        r->inLoPlane = r->outLoPlane = 0;
        r->inHiPlane = r->outHiPlane = int16_t(planes - 1);
        SetRects(r, read ? tile : none, read ? none : tile, read && r->haveMask ? tile : none, use32);
        if ((*result = r->advanceState()) != noErr) return;
        ++w.tiles;
        for (int y = tile.top; y < tile.bottom; ++y) {
          uint8_t* mine = w.copy.data() + (size_t(y - area.top) * width + size_t(tile.left - area.left)) * pixel;
          if (read) {
            std::memcpy(mine, static_cast<uint8_t*>(r->inData) + size_t(y - tile.top) * r->inRowBytes, tw * pixel);
            if (r->haveMask)
              std::memcpy(w.maskCopy.data() + size_t(y - area.top) * width + (tile.left - area.left),
                          static_cast<uint8_t*>(r->maskData) + size_t(y - tile.top) * r->maskRowBytes, tw);
          } else if (pass == 1) {
            std::memcpy(static_cast<uint8_t*>(r->outData) + size_t(y - tile.top) * r->outRowBytes, zeros.data(),
                        tw * pixel);
          }
        }
        if (pass != 2) continue;
        // The write-back goes plane by plane, the way the reading goes in
        // many modules.
        for (int p = 0; p < planes; ++p) {
          r->outLoPlane = r->outHiPlane = int16_t(p);
          if ((*result = r->advanceState()) != noErr) return;
          for (int y = tile.top; y < tile.bottom; ++y)
            for (int x = 0; x < tw; ++x)
              std::memcpy(static_cast<uint8_t*>(r->outData) + size_t(y - tile.top) * r->outRowBytes + size_t(x) * bytes,
                          w.copy.data() + (size_t(y - area.top) * width + size_t(tile.left - area.left + x)) * pixel +
                              size_t(p) * bytes,
                          size_t(bytes));
        }
      }
    }
  }
  SetRects(r, none, none, none, use32);
  *result = r->advanceState();
}

hostkit::HostImage Pattern(int32_t width, int32_t height, int32_t planes, int32_t bytes) {
  hostkit::HostImage image;
  EXPECT_TRUE(image.Allocate(width, height, planes, bytes));
  // Distinct, non-zero bytes in every sample.
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<uint8_t>(1 + (i * 37) % 251);
  return image;
}

TEST(HostkitModes, EveryModeRoundTripsThroughAnyTileSizeAndBothCoordinateRecords) {
  struct Mode {
    int32_t planes, bytes;
    int16_t mode, depth, colour, transparency;
  };
  const Mode modes[] = {{1, 1, plugInModeGrayScale, 8, 1, 0}, {3, 1, plugInModeRGBColor, 8, 3, 0},
                        {1, 2, plugInModeGray16, 16, 1, 0},   {3, 2, plugInModeRGB48, 16, 3, 0},
                        {1, 4, plugInModeGray32, 32, 1, 0},   {3, 4, plugInModeRGB96, 32, 3, 0},
                        {2, 1, plugInModeGrayScale, 8, 1, 1}, {4, 2, plugInModeRGB48, 16, 3, 1},
                        {4, 4, plugInModeRGB96, 32, 3, 1}};
  for (const Mode& m : modes) {
    for (int tile : {0, 1, 7, 512}) {
      for (bool use32 : {false, true}) {
        SCOPED_TRACE(testing::Message() << "planes " << m.planes << " bytes " << m.bytes << " tile " << tile
                                        << (use32 ? " 32-bit" : " 16-bit"));
        const hostkit::HostImage image = Pattern(9, 6, m.planes, m.bytes);
        hostkit::HostOptions options;
        options.tileWidth = options.tileHeight = int16_t(tile);
        options.extraRowBytes = tile == 7 ? 5 : 0;
        Host host(&WalkTiles, options);
        host.SetImage(image);
        g_walker = TileWalker();
        g_walker.use32 = use32;
        ASSERT_EQ(host.RunFilter(false), noErr);
        EXPECT_EQ(host.image().pixels, image.pixels);
        EXPECT_EQ(g_walker.copy, image.pixels);  // the module saw the document as it is
        const FilterRecord& seen = g_walker.seen;
        EXPECT_EQ(seen.imageMode, m.mode);
        EXPECT_EQ(seen.depth, m.depth);
        EXPECT_EQ(seen.planes, m.planes);
        EXPECT_EQ(seen.inLayerPlanes, m.colour);
        EXPECT_EQ(seen.inTransparencyMask, m.transparency);
        EXPECT_EQ(seen.filterCase, m.transparency ? filterCaseEditableTransparencyNoSelection
                                                  : filterCaseFlatImageNoSelection);
        EXPECT_EQ(seen.inTileWidth, tile);
      }
    }
  }
}

TEST(HostkitModes, WideDocumentsNeedThe32BitRectangles) {
  const hostkit::HostImage image = Pattern(40000, 2, 1, 1);
  Host host(&WalkTiles);
  host.SetImage(image);
  g_walker = TileWalker();
  g_walker.use32 = true;
  ASSERT_EQ(host.RunFilter(false), noErr);
  EXPECT_EQ(g_walker.copy, image.pixels);
  EXPECT_EQ(host.image().pixels, image.pixels);
  EXPECT_EQ(g_walker.seen.imageSize.h, 32767);  // the 16-bit size saturates
}

TEST(HostkitMasks, SelectionIsServedTileByTileAndSetsTheFilterCase) {
  for (int32_t planes : {3, 4}) {
    const hostkit::HostImage image = Pattern(11, 4, planes, 2);
    std::vector<uint8_t> mask(11 * 4);
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = static_cast<uint8_t>(i * 5);
    hostkit::HostOptions options;
    options.tileWidth = options.tileHeight = 3;
    Host host(&WalkTiles, options);
    host.SetImage(image);
    EXPECT_FALSE(host.SetMask(std::vector<uint8_t>(7)));  // wrong size refused
    ASSERT_TRUE(host.SetMask(mask));
    g_walker = TileWalker();
    ASSERT_EQ(host.RunFilter(false), noErr);
    EXPECT_EQ(g_walker.maskCopy, mask);
    EXPECT_EQ(g_walker.seen.haveMask, 1);
    EXPECT_EQ(g_walker.seen.filterCase,
              planes == 4 ? filterCaseEditableTransparencyWithSelection : filterCaseFlatImageWithSelection);
    EXPECT_EQ(host.image().pixels, image.pixels);
  }
}

TEST(HostkitTransfer, PaddingFillsEveryDepthAtTheSameFractionOfFullScale) {
  for (int32_t bytes : {1, 2, 4}) {
    hostkit::HostImage image = Pattern(2, 2, 1, bytes);
    Host host(&NoModule);
    host.SetImage(image);
    host.CallPrepare();
    FilterRecord& r = host.record();
    r.inRect = Rect{0, 1, 1, 3};  // one pixel inside, one to the right
    r.inputPadding = 255;
    ASSERT_EQ(r.advanceState(), noErr);
    const uint8_t* row = static_cast<uint8_t*>(r.inData);
    EXPECT_EQ(std::memcmp(row, image.Pixel(1, 0), size_t(bytes)), 0);
    if (bytes == 1) {
      EXPECT_EQ(row[1], 255);
    }
    if (bytes == 2) {
      uint16_t v;
      std::memcpy(&v, row + 2, 2);
      EXPECT_EQ(v, 32768);
    }
    if (bytes == 4) {
      float v;
      std::memcpy(&v, row + 4, 4);
      EXPECT_EQ(v, 1.0f);
    }
    r.inputPadding = plugInWantsEdgeReplication;
    ASSERT_EQ(r.advanceState(), noErr);
    row = static_cast<uint8_t*>(r.inData);
    EXPECT_EQ(std::memcmp(row + bytes, image.Pixel(1, 0), size_t(bytes)), 0);
  }
}

TEST(HostkitOptions, AdvanceStateFailsAtTheChosenCallWithTheChosenCode) {
  for (OSErr code : {OSErr(memFullErr), OSErr(filterBadParameters)}) {
    hostkit::HostOptions options;
    options.tileWidth = options.tileHeight = 2;
    options.failAdvanceStateAtCall = 3;
    options.advanceStateFailure = code;
    Host host(&WalkTiles, options);
    host.SetImage(Pattern(4, 4, 3, 1));
    g_walker = TileWalker();
    EXPECT_EQ(host.RunFilter(false), code);
    EXPECT_EQ(host.stats().advanceStateCalls, 3);
    EXPECT_EQ(g_walker.tiles, 2);
  }
}

TEST(HostkitOptions, PlaneZeroQuirkServesPlaneZeroForALonePlaneAndKeepsStaleInput) {
  hostkit::HostImage image;
  ASSERT_TRUE(image.Allocate(2, 1, 3));
  for (int x = 0; x < 2; ++x)
    for (int p = 0; p < 3; ++p) image.Pixel(x, 0)[p] = static_cast<uint8_t>(10 * p + x);

  for (bool quirk : {false, true}) {
    SCOPED_TRACE(quirk ? "quirky engine" : "conforming host");
    hostkit::HostOptions options;
    options.planeZeroQuirk = quirk;
    Host host(&NoModule, options);
    host.SetImage(image);
    host.CallPrepare();
    FilterRecord& r = host.record();
    r.inRect = Rect{0, 0, 1, 2};
    r.inLoPlane = r.inHiPlane = 1;
    ASSERT_EQ(r.advanceState(), noErr);
    EXPECT_EQ(static_cast<uint8_t*>(r.inData)[1], quirk ? 1 : 11);
    r.inLoPlane = r.inHiPlane = 2;  // same rectangle, another plane
    ASSERT_EQ(r.advanceState(), noErr);
    EXPECT_EQ(static_cast<uint8_t*>(r.inData)[1], quirk ? 1 : 21);
    r.inRect = Rect{0, 1, 1, 2};  // a new rectangle refreshes
    ASSERT_EQ(r.advanceState(), noErr);
    EXPECT_EQ(static_cast<uint8_t*>(r.inData)[0], quirk ? 1 : 21);
    r.inLoPlane = 0;  // all planes: served normally either way
    r.inRect = Rect{0, 0, 1, 1};
    ASSERT_EQ(r.advanceState(), noErr);
    EXPECT_EQ(static_cast<uint8_t*>(r.inData)[2], 20);

    r.inRect = Rect{0, 0, 0, 0};
    r.outRect = Rect{0, 0, 1, 1};
    r.outLoPlane = r.outHiPlane = 2;
    ASSERT_EQ(r.advanceState(), noErr);
    static_cast<uint8_t*>(r.outData)[0] = 99;
    r.outRect = Rect{0, 0, 0, 0};
    ASSERT_EQ(r.advanceState(), noErr);
    EXPECT_EQ(host.image().Pixel(0, 0)[0], quirk ? 99 : 0);
    EXPECT_EQ(host.image().Pixel(0, 0)[2], quirk ? 20 : 99);
  }
}

// --- Image files -------------------------------------------------------------

std::string TempName(const char* name) {
  // Each test runs in its own process under ctest; names differ per test.
  return testing::TempDir() + "hostkit_self_" + name;
}

TEST(HostkitFiles, Every16BitHostValueSurvivesTheFileRange) {
  for (uint32_t h = 0; h <= hostkit::kHost16Max; ++h)
    ASSERT_EQ(hostkit::FileToHost16(hostkit::HostToFile16(uint16_t(h))), h);
  EXPECT_EQ(hostkit::HostToFile16(32768), 65535);
  EXPECT_EQ(hostkit::FileToHost16(65535), 32768);
  EXPECT_EQ(hostkit::HostToFile16(16384), 32768);  // 32767.5 rounds up
  EXPECT_EQ(hostkit::FileToHost16(1), 1);          // 0.50001 rounds up
  EXPECT_EQ(hostkit::HostToFile16(40000), 65535);  // out of range saturates
}

TEST(HostkitFiles, PngKeepsDepthPlanesAndTransparency) {
  for (int32_t planes = 1; planes <= 4; ++planes) {
    for (int32_t bytes : {1, 2}) {
      SCOPED_TRACE(testing::Message() << planes << " planes, " << bytes << " bytes");
      hostkit::HostImage image;
      ASSERT_TRUE(image.Allocate(5, 3, planes, bytes));
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
          for (int p = 0; p < planes; ++p) image.Set(x, y, p, ((x * 7 + y * 3 + p * 11) % 17) / 16.0);
      if (bytes == 2) {  // the extremes of the host range
        const uint16_t top = 32768, one = 1;
        std::memcpy(image.Pixel(0, 0), &top, 2);
        std::memcpy(image.Pixel(1, 0), &one, 2);
      }
      const std::string path = TempName("modes.png");
      std::string error;
      ASSERT_TRUE(hostkit::WriteImageFile(path, image, &error)) << error;
      hostkit::HostImage back;
      ASSERT_TRUE(hostkit::ReadImageFile(path, &back, &error)) << error;
      EXPECT_EQ(back.planes, planes);
      EXPECT_EQ(back.bytesPerSample, bytes);
      EXPECT_EQ(back.mode(), image.mode());
      EXPECT_EQ(back.pixels, image.pixels);
      std::remove(path.c_str());
    }
  }
}

TEST(HostkitFiles, FloatTiffKeepsFloatsAndOverRangeLight) {
  hostkit::HostImage image;
  ASSERT_TRUE(image.Allocate(2, 1, 3, 4));
  const float values[6] = {1.0f, 0.5f, 0.25f, 4.0f, -0.125f, 2.0f};
  std::memcpy(image.pixels.data(), values, sizeof values);
  std::string error;
  // Radiance files are gone; their name says so instead of writing one.
  EXPECT_FALSE(hostkit::WriteImageFile(TempName("light.HDR"), image, &error));
  EXPECT_NE(error.find(".tif"), std::string::npos) << error;
  const std::string path = TempName("light.tif");
  ASSERT_TRUE(hostkit::WriteImageFile(path, image, &error)) << error;
  hostkit::HostImage back;
  ASSERT_TRUE(hostkit::ReadImageFile(path, &back, &error)) << error;
  ASSERT_EQ(back.mode(), plugInModeRGB96);
  ASSERT_EQ(back.pixels.size(), sizeof values);
  for (int i = 0; i < 6; ++i) EXPECT_FLOAT_EQ(back.Get(i / 3, 0, i % 3), values[i]) << i;
  std::remove(path.c_str());
}

TEST(HostkitFiles, BadFilesAndMasksFailWithAReason) {
  std::string error;
  hostkit::HostImage image;
  const std::string junk = TempName("junk.png");
  {
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not an image", f);
    std::fclose(f);
  }
  EXPECT_FALSE(hostkit::ReadImageFile(junk, &image, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(hostkit::WriteImageFile(TempName("empty.png"), hostkit::HostImage(), &error));

  hostkit::HostImage maskImage;
  ASSERT_TRUE(maskImage.Allocate(3, 2, 1));
  maskImage.pixels = {0, 128, 255, 1, 2, 3};
  const std::string maskPath = TempName("mask.png");
  ASSERT_TRUE(hostkit::WriteImageFile(maskPath, maskImage, &error)) << error;
  std::vector<uint8_t> mask;
  ASSERT_TRUE(hostkit::ReadMaskFile(maskPath, 3, 2, &mask, &error)) << error;
  EXPECT_EQ(mask, maskImage.pixels);
  error.clear();
  EXPECT_FALSE(hostkit::ReadMaskFile(maskPath, 4, 2, &mask, &error));
  EXPECT_NE(error.find("3x2"), std::string::npos) << error;
  std::remove(junk.c_str());
  std::remove(maskPath.c_str());
}

// A PNG whose closing chunk has a damaged type, the first byte zero or a
// control character: the reader still says why it refuses the file, in
// printable text.
TEST(HostkitFiles, ADamagedChunkTypeStillGivesAReason) {
  hostkit::HostImage image;
  ASSERT_TRUE(image.Allocate(4, 3, 4));
  const std::string path = TempName("chunk.png");
  std::string error;
  ASSERT_TRUE(hostkit::WriteImageFile(path, image, &error)) << error;
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fseek(f, 0, SEEK_END), 0);
  const long size = std::ftell(f);
  for (const unsigned char first : {0x00, 0x07}) {
    ASSERT_EQ(std::fseek(f, size - 8, SEEK_SET), 0);  // IEND's type, before its checksum
    ASSERT_EQ(std::fputc(first, f), first);
    ASSERT_EQ(std::fflush(f), 0);
    error.clear();
    hostkit::HostImage back;
    EXPECT_FALSE(hostkit::ReadImageFile(path, &back, &error));
    EXPECT_FALSE(error.empty());
    for (const char c : error) EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << int(c);
  }
  std::fclose(f);
  std::remove(path.c_str());
}

TEST(HostkitFiles, ModeConversionScalesFullScaleToFullScale) {
  hostkit::HostImage gray;
  ASSERT_TRUE(gray.Allocate(2, 1, 2));
  gray.pixels = {255, 0, 51, 255};  // two gray + transparency pixels
  const hostkit::HostImage rgb16 = hostkit::ConvertImage(gray, hostkit::ModeName::kRgb16);
  ASSERT_EQ(rgb16.planes, 4);
  ASSERT_EQ(rgb16.mode(), plugInModeRGB48);
  const uint16_t* v = reinterpret_cast<const uint16_t*>(rgb16.pixels.data());
  EXPECT_EQ(v[0], 32768);
  EXPECT_EQ(v[2], 32768);
  EXPECT_EQ(v[3], 0);  // transparency kept
  EXPECT_EQ(v[4], 6554);  // 0.2 of 32768, rounded
  EXPECT_EQ(hostkit::ConvertImage(rgb16, hostkit::ModeName::kGray8).pixels, gray.pixels);
  hostkit::ModeName mode;
  EXPECT_TRUE(hostkit::ParseModeName("gray32", &mode));
  EXPECT_FALSE(hostkit::ParseModeName("cmyk8", &mode));
}

}  // namespace
