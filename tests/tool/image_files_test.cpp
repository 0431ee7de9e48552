// hostkit's image files against the real libraries: PNG files put together
// chunk by chunk here (so damage can be placed exactly), TIFF files of every
// layout written by libtiff itself, profiles made by Little CMS; and the
// writer's promise that a failed or cancelled write leaves the target as it
// was and no temporary behind.
#include <gtest/gtest.h>
#include <lcms2.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hostkit/file_io.h"
#include "hostkit/file_platform.h"
#include "hostkit/host_platform.h"
#include "hostkit/image.h"

namespace {

using Bytes = std::vector<uint8_t>;
using hostkit::HostImage;

std::string Temp(const std::string& name) { return testing::TempDir() + "image_files_" + name; }

Bytes ReadBytes(const std::string& path) {
  Bytes bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
  }
  return bytes;
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

bool Exists(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// Entries of the test folder whose name starts with `prefix`.
std::vector<std::string> Leftovers(const std::string& prefix) {
  std::vector<std::string> names, found;
  hostkit::fileplatform::ListFolder(testing::TempDir(), &names);
  const std::string start = "image_files_" + prefix;
  for (const std::string& name : names)
    if (name.compare(0, start.size(), start) == 0) found.push_back(name);
  return found;
}

Bytes Profile(bool gray) {
  cmsHPROFILE profile = nullptr;
  if (gray) {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
  } else {
    profile = cmsCreate_sRGBProfile();
  }
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  Bytes bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

// --- PNG files, chunk by chunk -----------------------------------------------

void Put32(Bytes* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

struct Chunk {
  const char* type;
  Bytes data;
};

Bytes PngFile(const std::vector<Chunk>& chunks) {
  Bytes file = {137, 80, 78, 71, 13, 10, 26, 10};
  for (const Chunk& chunk : chunks) {
    Put32(&file, static_cast<uint32_t>(chunk.data.size()));
    const size_t typeAt = file.size();
    file.insert(file.end(), chunk.type, chunk.type + 4);
    file.insert(file.end(), chunk.data.begin(), chunk.data.end());
    Put32(&file, static_cast<uint32_t>(crc32(0, file.data() + typeAt, static_cast<uInt>(file.size() - typeAt))));
  }
  return file;
}

Bytes Ihdr(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType) {
  Bytes data;
  Put32(&data, width);
  Put32(&data, height);
  data.insert(data.end(), {depth, colourType, 0, 0, 0});
  return data;
}

Bytes Deflate(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(size);
  compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9);
  out.resize(size);
  return out;
}

// Rows of `rowBytes` bytes each with filter type 0 in front.
Bytes Unfiltered(const Bytes& pixels, size_t rowBytes) {
  Bytes raw;
  for (size_t at = 0; at < pixels.size(); at += rowBytes) {
    raw.push_back(0);
    raw.insert(raw.end(), pixels.begin() + at, pixels.begin() + at + rowBytes);
  }
  return raw;
}

// A 16-bit gray PNG holding every value 0..65535 once (256 × 256).
Bytes EveryValuePng() {
  Bytes pixels;
  for (uint32_t v = 0; v < 65536; ++v) pixels.insert(pixels.end(), {uint8_t(v >> 8), uint8_t(v & 0xFF)});
  return PngFile({{"IHDR", Ihdr(256, 256, 16, 0)}, {"IDAT", Deflate(Unfiltered(pixels, 512))}, {"IEND", {}}});
}

void AppendPngBytes(png_structp png, png_bytep data, size_t length) {
  Bytes* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

// An Adam7-interlaced 16-bit RGB PNG of big-endian `rows`, by libpng itself.
bool InterlacedPng(png_bytep* rows, uint32_t width, uint32_t height, Bytes* out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, out, AppendPngBytes, nullptr);
  png_set_IHDR(png, info, width, height, 16, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

// Offset of the first chunk of this type.
size_t ChunkAt(const Bytes& file, const char* type) {
  for (size_t at = 8; at + 8 <= file.size();) {
    const uint32_t length = (uint32_t(file[at]) << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
    if (std::memcmp(&file[at + 4], type, 4) == 0) return at;
    at += 12 + length;
  }
  return file.size();
}

// --- TIFF files through libtiff ----------------------------------------------

struct TiffLayout {
  uint16_t samples, bits, format, photometric, planar, compression;
  uint16_t extra;  // 0: none, else the extra sample's kind
  bool tiled;
};

// Writes interleaved native samples of `width` × `height` × samples.
void WriteTiffWithLibtiff(const std::string& path, const TiffLayout& layout, uint32_t width, uint32_t height,
                          const Bytes& samples) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, layout.bits);
  TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, layout.format);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, layout.photometric);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, layout.planar);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, layout.compression);
  if (layout.extra) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &layout.extra);
  const size_t bytes = layout.bits / 8, pixelBytes = bytes * layout.samples;
  const bool separate = layout.planar == PLANARCONFIG_SEPARATE;
  const uint16_t planes = separate ? layout.samples : 1;
  const size_t step = separate ? 1 : layout.samples;
  // One plane's (or all interleaved planes') samples of a pixel run.
  auto gather = [&](uint16_t plane, uint32_t x, uint32_t y, uint32_t count, uint8_t* out) {
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* pixel = samples.data() + ((size_t(y) * width + x + i) * pixelBytes);
      std::memcpy(out + i * step * bytes, pixel + (separate ? plane * bytes : 0), step * bytes);
    }
  };
  if (layout.tiled) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
    Bytes tile(static_cast<size_t>(TIFFTileSize(tiff)));
    for (uint16_t plane = 0; plane < planes; ++plane)
      for (uint32_t y = 0; y < height; y += 16)
        for (uint32_t x = 0; x < width; x += 16) {
          std::fill(tile.begin(), tile.end(), 0);
          for (uint32_t r = 0; r < 16 && y + r < height; ++r)
            gather(plane, x, y + r, std::min<uint32_t>(16, width - x), tile.data() + r * 16 * step * bytes);
          ASSERT_GE(TIFFWriteTile(tiff, tile.data(), x, y, 0, plane), 0);
        }
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 3);
    Bytes row(width * step * bytes);
    for (uint16_t plane = 0; plane < planes; ++plane)
      for (uint32_t y = 0; y < height; ++y) {
        gather(plane, 0, y, width, row.data());
        ASSERT_GE(TIFFWriteScanline(tiff, row.data(), y, plane), 0);
      }
  }
  TIFFClose(tiff);
}

// A sample pattern of `count` samples of `bytes` bytes, native order.
Bytes Pattern(size_t count, size_t bytes) {
  Bytes out(count * bytes);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t v = static_cast<uint32_t>((i * 2654435761u) >> 7);
    if (bytes == 1) out[i] = static_cast<uint8_t>(v);
    if (bytes == 2) {
      const uint16_t s = static_cast<uint16_t>(v);
      std::memcpy(&out[2 * i], &s, 2);
    }
    if (bytes == 4) {
      const float f = static_cast<float>(v % 5000) / 1000.0f - 1.0f;  // -1 .. 4: beyond white, below black
      std::memcpy(&out[4 * i], &f, 4);
    }
  }
  return out;
}

// The host samples hostkit should make of file samples.
Bytes HostSamples(const Bytes& file, size_t bytes) {
  if (bytes != 2) return file;
  Bytes host(file.size());
  for (size_t i = 0; i < file.size(); i += 2) {
    uint16_t v;
    std::memcpy(&v, &file[i], 2);
    v = hostkit::FileToHost16(v);
    std::memcpy(&host[i], &v, 2);
  }
  return host;
}

// --- Round trips -------------------------------------------------------------

TEST(ImageFiles, EveryFormatDepthAndLayoutSurvivesAWriteAndARead) {
  struct Case {
    const char* extension;
    int32_t bytes;
  } const cases[] = {{".png", 1}, {".png", 2}, {".tif", 1}, {".tif", 2}, {".TIFF", 4}};
  for (const Case& c : cases) {
    for (int32_t planes = 1; planes <= 4; ++planes) {
      SCOPED_TRACE(testing::Message() << c.extension << ", " << c.bytes << " bytes, " << planes << " planes");
      HostImage image;
      ASSERT_TRUE(image.Allocate(37, 21, planes, c.bytes));
      image.pixels = Pattern(image.pixels.size() / c.bytes, c.bytes);
      if (c.bytes == 2) image.pixels = HostSamples(image.pixels, 2);  // host range
      image.iccProfile = Profile(planes < 3);
      const std::string path = Temp(std::string("trip") + c.extension);
      std::string error;
      ASSERT_TRUE(hostkit::WriteImageFile(path, image, &error)) << error;
      HostImage back;
      ASSERT_TRUE(hostkit::ReadImageFile(path, &back, &error)) << error;
      EXPECT_EQ(back.planes, planes);
      EXPECT_EQ(back.bytesPerSample, c.bytes);
      EXPECT_EQ(back.pixels, image.pixels);  // floats bit for bit, unclamped
      EXPECT_EQ(back.iccProfile, image.iccProfile);
      std::vector<uint8_t> embedded;
      EXPECT_TRUE(hostkit::ReadEmbeddedIccProfile(path, &embedded, &error)) << error;
      EXPECT_EQ(embedded, image.iccProfile);
      std::remove(path.c_str());
    }
  }
  EXPECT_TRUE(hostkit::CanWrite16BitPng());
}

TEST(ImageFiles, FloatsBecomeClampedSixteenBitPng) {
  HostImage image;
  ASSERT_TRUE(image.Allocate(5, 1, 1, 4));
  const float values[5] = {-0.5f, 0.0f, 0.25f, 1.0f, 7.0f};
  std::memcpy(image.pixels.data(), values, sizeof values);
  const std::string path = Temp("clamped.png");
  std::string error;
  ASSERT_TRUE(hostkit::WriteImageFile(path, image, &error)) << error;
  HostImage back;
  ASSERT_TRUE(hostkit::ReadImageFile(path, &back, &error)) << error;
  ASSERT_EQ(back.bytesPerSample, 2);
  const uint16_t expected[5] = {0, 0, 16384, 65535, 65535};  // round(0.25 × 65535) = 16384
  for (int i = 0; i < 5; ++i) EXPECT_EQ(back.fileSamples16[i], expected[i]) << i;
  std::remove(path.c_str());
}

// Every 16-bit file value comes back from a run that changed nothing, in
// both formats, though the host range holds only half of them; a changed
// host sample changes that sample alone.
TEST(ImageFiles, SixteenBitFileSamplesComeBackExactly) {
  Bytes every(65536 * 2);
  for (uint32_t v = 0; v < 65536; ++v) {
    const uint16_t s = static_cast<uint16_t>(v);
    std::memcpy(&every[2 * v], &s, 2);
  }
  const std::string png = Temp("every.png"), tif = Temp("every.tif");
  WriteBytes(png, EveryValuePng());
  WriteTiffWithLibtiff(
      tif, {1, 16, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_NONE, 0, false}, 256,
      256, every);
  for (const std::string& input : {png, tif}) {
    for (const char* output : {"every_out.png", "every_out.tif"}) {
      SCOPED_TRACE(input + " -> " + output);
      HostImage image;
      std::string error;
      ASSERT_TRUE(hostkit::ReadImageFile(input, &image, &error)) << error;
      ASSERT_EQ(image.bytesPerSample, 2);
      ASSERT_EQ(image.pixels, HostSamples(every, 2));
      // What the host sees of 0..65535 is 0..32768; the run changes nothing.
      const HostImage unchanged = hostkit::ConvertImage(image, hostkit::ModeName::kFromFile);
      ASSERT_TRUE(hostkit::WriteImageFile(Temp(output), unchanged, &error)) << error;
      HostImage back;
      ASSERT_TRUE(hostkit::ReadImageFile(Temp(output), &back, &error)) << error;
      ASSERT_EQ(back.fileSamples16.size(), 65536u);
      for (uint32_t v = 0; v < 65536; ++v) ASSERT_EQ(back.fileSamples16[v], v);

      // One sample moved by the host: that file sample follows the host
      // value, all others stay the file's.
      const size_t changed = 40001;
      uint16_t host = static_cast<uint16_t>(hostkit::FileToHost16(changed) + 1);
      std::memcpy(image.pixels.data() + 2 * changed, &host, 2);
      ASSERT_TRUE(hostkit::WriteImageFile(Temp(output), image, &error)) << error;
      ASSERT_TRUE(hostkit::ReadImageFile(Temp(output), &back, &error)) << error;
      for (uint32_t v = 0; v < 65536; ++v)
        ASSERT_EQ(back.fileSamples16[v], v == changed ? hostkit::HostToFile16(host) : v) << v;
      std::remove(Temp(output).c_str());
    }
  }
  // Another layout has no file samples to give back.
  HostImage image;
  std::string error;
  ASSERT_TRUE(hostkit::ReadImageFile(png, &image, &error)) << error;
  EXPECT_EQ(hostkit::ConvertImage(image, hostkit::ModeName::kGray16).fileSamples16.size(), 65536u);
  EXPECT_TRUE(hostkit::ConvertImage(image, hostkit::ModeName::kRgb16).fileSamples16.empty());
  EXPECT_TRUE(hostkit::ConvertImage(image, hostkit::ModeName::kGray8).fileSamples16.empty());
  std::remove(png.c_str());
  std::remove(tif.c_str());
}

// PNG encodings the writer never makes: palettes with transparency, gray
// below 8 bits, an empty first IDAT, a second IDAT.
TEST(ImageFiles, PngEncodingsAreExpanded) {
  const Bytes palette = {255, 0, 0, 0, 255, 0, 0, 0, 255};
  const Bytes split = Deflate(Unfiltered({1, 2, 3, 4}, 2));
  struct Case {
    const char* name;
    Bytes file;
    int32_t planes;
    Bytes pixels;
  };
  std::vector<Case> cases = {
      {"palette 2-bit with tRNS",
       PngFile({{"IHDR", Ihdr(3, 1, 2, 3)},
                {"PLTE", palette},
                {"tRNS", {255, 128}},
                {"IDAT", Deflate(Unfiltered({0x18}, 1))},  // indices 0 1 2
                {"IEND", {}}}),
       4,
       {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255}},
      {"gray 1-bit",
       PngFile({{"IHDR", Ihdr(3, 1, 1, 0)}, {"IDAT", Deflate(Unfiltered({0xA0}, 1))}, {"IEND", {}}}),
       1,
       {255, 0, 255}},
      {"empty first IDAT and the data split in two",
       PngFile({{"IHDR", Ihdr(2, 2, 8, 0)},
                {"IDAT", {}},
                {"IDAT", Bytes(split.begin(), split.begin() + 5)},
                {"IDAT", Bytes(split.begin() + 5, split.end())},
                {"IEND", {}}}),
       1,
       {1, 2, 3, 4}},
  };
  // Interlaced: the passes fill the rows in turn.
  const uint32_t width = 11, height = 7;
  Bytes file, interlaced = Pattern(width * height * 3, 2);
  std::vector<png_bytep> rows;
  for (uint32_t y = 0; y < height; ++y) rows.push_back(interlaced.data() + y * width * 6);
  ASSERT_TRUE(InterlacedPng(rows.data(), width, height, &file));
  for (size_t i = 0; i < interlaced.size(); i += 2) std::swap(interlaced[i], interlaced[i + 1]);  // back to native
  cases.push_back({"Adam7 interlaced, 16-bit", file, 3, HostSamples(interlaced, 2)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Temp("encoding.png");
    WriteBytes(path, c.file);
    HostImage image;
    std::string error;
    ASSERT_TRUE(hostkit::ReadImageFile(path, &image, &error)) << error;
    EXPECT_EQ(image.planes, c.planes);
    EXPECT_EQ(image.pixels, c.pixels);
    std::remove(path.c_str());
  }
}

TEST(ImageFiles, TiffLayoutsAreRead) {
  const uint32_t width = 37, height = 21;  // partial tiles and strips at the edges
  const TiffLayout layouts[] = {
      {3, 16, SAMPLEFORMAT_UINT, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE, COMPRESSION_NONE, 0, false},
      {4, 8, SAMPLEFORMAT_UINT, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE, COMPRESSION_LZW, EXTRASAMPLE_UNASSALPHA, true},
      {2, 32, SAMPLEFORMAT_IEEEFP, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_ADOBE_DEFLATE,
       EXTRASAMPLE_UNSPECIFIED, true},
      {1, 8, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_PACKBITS, 0, false},
  };
  for (const TiffLayout& layout : layouts) {
    SCOPED_TRACE(testing::Message() << layout.samples << " samples of " << layout.bits << " bits, planar "
                                    << layout.planar << ", compression " << layout.compression
                                    << (layout.tiled ? ", tiled" : ""));
    const size_t bytes = layout.bits / 8;
    const Bytes samples = Pattern(size_t(width) * height * layout.samples, bytes);
    const std::string path = Temp("layout.tif");
    WriteTiffWithLibtiff(path, layout, width, height, samples);
    HostImage image;
    std::string error;
    ASSERT_TRUE(hostkit::ReadImageFile(path, &image, &error)) << error;
    EXPECT_EQ(image.planes, layout.samples);
    EXPECT_EQ(image.bytesPerSample, static_cast<int32_t>(bytes));
    EXPECT_EQ(image.pixels, HostSamples(samples, bytes));
    std::remove(path.c_str());
  }
  // Premultiplied colour is divided out: 8-bit gray 100 at alpha 128 is 199.
  const std::string path = Temp("premultiplied.tif");
  WriteTiffWithLibtiff(path,
                       {2, 8, SAMPLEFORMAT_UINT, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_NONE,
                        EXTRASAMPLE_ASSOCALPHA, false},
                       2, 1, {100, 128, 50, 0});
  HostImage image;
  std::string error;
  ASSERT_TRUE(hostkit::ReadImageFile(path, &image, &error)) << error;
  EXPECT_EQ(image.pixels, (Bytes{199, 128, 0, 0}));
  std::remove(path.c_str());
}

// --- Damaged and refused files -----------------------------------------------

TEST(ImageFiles, DamagedAndUnsupportedFilesFailWithTheirCause) {
  const Bytes good = PngFile({{"IHDR", Ihdr(64, 64, 8, 2)},
                              {"tEXt", {'a', 0, 'b'}},
                              {"IDAT", Deflate(Unfiltered(Pattern(64 * 64 * 3, 1), 64 * 3))},
                              {"IEND", {}}});
  const size_t idat = ChunkAt(good, "IDAT"), text = ChunkAt(good, "tEXt"), iend = ChunkAt(good, "IEND");
  auto flipped = [&](size_t at) {
    Bytes file = good;
    file[at] ^= 0x40;
    return file;
  };
  HostImage tiffImage;
  ASSERT_TRUE(tiffImage.Allocate(64, 64, 3, 2));
  tiffImage.pixels = HostSamples(Pattern(64 * 64 * 3, 2), 2);
  std::string error;
  ASSERT_TRUE(hostkit::WriteImageFile(Temp("whole.tif"), tiffImage, &error)) << error;
  const Bytes tiff = ReadBytes(Temp("whole.tif"));

  // The TIFF's width and height tags made to claim 60000 x 60000 pixels.
  Bytes huge = tiff;
  const auto at16 = [&](size_t i) { return static_cast<uint32_t>(huge[i] | huge[i + 1] << 8); };
  const size_t ifd = at16(4) | at16(6) << 16;
  for (uint32_t e = 0; e < at16(ifd); ++e) {
    const size_t entry = ifd + 2 + e * 12;
    if (at16(entry) == 256 || at16(entry) == 257) {
      huge[entry + 8] = 0x60;  // 60000 = 0xEA60, as a short or the low half of a long
      huge[entry + 9] = 0xEA;
    }
  }

  struct Case {
    const char* name;
    Bytes file;
    const char* expected;
  } const cases[] = {
      {"TIFF far too small for its size", huge, "too small for the image size it declares"},
      {"IDAT checksum", flipped(iend - 1), "the checksum of its IDAT chunk does not match"},
      {"IDAT data", flipped(idat + 20), "the file is damaged"},
      {"ancillary chunk checksum", flipped(text + 9), "the checksum of its tEXt chunk does not match"},
      {"PNG cut in its pixels", Bytes(good.begin(), good.begin() + idat + 100), "the file is cut off"},
      {"PNG cut in IEND", Bytes(good.begin(), good.end() - 6), "the file is cut off"},
      {"PNG without pixel data", PngFile({{"IHDR", Ihdr(4, 4, 8, 0)}, {"IEND", {}}}), "the file is damaged"},
      {"PNG far too small for its size",
       PngFile({{"IHDR", Ihdr(100000, 100000, 16, 6)}, {"IDAT", Deflate({0, 0, 0})}, {"IEND", {}}}),
       "too small for the image size it declares"},
      {"TIFF cut in half", Bytes(tiff.begin(), tiff.begin() + tiff.size() / 2), "the file is cut off"},
      {"TIFF cut in its header", Bytes(tiff.begin(), tiff.begin() + 6), "the file is cut off"},
      {"Radiance", {'#', '?', 'R', 'A', 'D', 'I', 'A', 'N', 'C', 'E', '\n'}, "no longer supported"},
      {"neither", {'G', 'I', 'F', '8', '9', 'a'}, "not a PNG or TIFF image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Temp("damaged");
    WriteBytes(path, c.file);
    HostImage image;
    error.clear();
    EXPECT_FALSE(hostkit::ReadImageFile(path, &image, &error));
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
    EXPECT_TRUE(image.empty());
    std::remove(path.c_str());
  }
  HostImage image;
  EXPECT_FALSE(hostkit::ReadImageFile(Temp("no-such-file.png"), &image, &error));
  EXPECT_FALSE(error.empty());
  std::remove(Temp("whole.tif").c_str());
}

// A profile chunk is refused by its declared size before it is inflated:
// the 1 GB one here would otherwise be inflated from a few hundred KB.
TEST(ImageFiles, OversizedProfilesAreRefusedAndThePixelsStillRead) {
  for (uint32_t declared : {20u << 20, 1u << 30}) {
    SCOPED_TRACE(declared);
    Bytes profile(132 + (8u << 20), 0);  // the ICC header, then zeros
    profile[0] = uint8_t(declared >> 24);
    profile[1] = uint8_t(declared >> 16);
    profile[2] = uint8_t(declared >> 8);
    profile[3] = uint8_t(declared);
    Bytes iccp = {'b', 'o', 'm', 'b', 0, 0};
    const Bytes packed = Deflate(profile);
    iccp.insert(iccp.end(), packed.begin(), packed.end());
    const std::string path = Temp("bomb.png");
    WriteBytes(
        path,
        PngFile({{"IHDR", Ihdr(2, 1, 8, 0)}, {"iCCP", iccp}, {"IDAT", Deflate(Unfiltered({7, 9}, 2))}, {"IEND", {}}}));
    std::vector<uint8_t> embedded;
    std::string error;
    EXPECT_FALSE(hostkit::ReadEmbeddedIccProfile(path, &embedded, &error));
    EXPECT_NE(error.find("larger than 16 MB"), std::string::npos) << error;
    HostImage image;
    ASSERT_TRUE(hostkit::ReadImageFile(path, &image, &error)) << error;
    EXPECT_EQ(image.pixels, (Bytes{7, 9}));
    EXPECT_TRUE(image.iccProfile.empty());
    EXPECT_NE(image.profileProblem.find("larger than 16 MB"), std::string::npos) << image.profileProblem;
    std::remove(path.c_str());
  }
}

TEST(ImageFiles, MasksComeFromEitherFormat) {
  HostImage mask;
  ASSERT_TRUE(mask.Allocate(3, 2, 1, 2));
  const uint16_t host[6] = {0, 16384, 32768, 128, 256, 384};
  std::memcpy(mask.pixels.data(), host, sizeof host);
  for (const char* name : {"mask.png", "mask.tif"}) {
    std::string error;
    ASSERT_TRUE(hostkit::WriteImageFile(Temp(name), mask, &error)) << error;
    std::vector<uint8_t> values;
    ASSERT_TRUE(hostkit::ReadMaskFile(Temp(name), 3, 2, &values, &error)) << error;
    EXPECT_EQ(values, (std::vector<uint8_t>{0, 128, 255, 1, 2, 3})) << name;
    std::remove(Temp(name).c_str());
  }
}

// --- Writing -----------------------------------------------------------------

// Larger than OutputFile's buffer in every depth, and incompressible: the
// failure comes while the codec is still writing.
HostImage Noise(int32_t bytes) {
  HostImage image;
  image.Allocate(700, 500, 3, bytes);
  uint32_t state = 12345;
  for (uint8_t& b : image.pixels) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(state >> 24);
  }
  if (bytes == 2) image.pixels = HostSamples(image.pixels, 2);  // keep samples in range
  if (bytes == 4) image.pixels = Pattern(image.pixels.size() / 4, 4);
  return image;
}

TEST(ImageFiles, FailedOrCancelledWritesKeepTheOldFileAndLeaveNoTemporary) {
  HostImage small;
  ASSERT_TRUE(small.Allocate(2, 2, 1));
  for (const char* name : {"keep.png", "keep.tif"}) {
    for (int32_t bytes : {1, 2, 4}) {
      SCOPED_TRACE(testing::Message() << name << ", " << bytes << " bytes");
      const std::string target = Temp(name);
      std::string error;
      ASSERT_TRUE(hostkit::WriteImageFile(target, small, &error)) << error;
      const Bytes before = ReadBytes(target);
      const HostImage large = Noise(bytes);

      hostkit::FailWritesAfterForTests(50000);
      EXPECT_FALSE(hostkit::WriteImageFile(target, large, &error));
      hostkit::FailWritesAfterForTests(-1);
      EXPECT_NE(error.find(hostkit::fileplatform::DiskFullText()), std::string::npos) << error;
      EXPECT_EQ(ReadBytes(target), before);
      EXPECT_EQ(Leftovers(std::string(name) + ".tmp"), std::vector<std::string>());

      int rows = 0;
      EXPECT_FALSE(hostkit::WriteImageFile(target, large, &error, [&] { return ++rows > 50; }));
      EXPECT_EQ(error, "cancelled");
      EXPECT_EQ(rows, 51);
      EXPECT_EQ(ReadBytes(target), before);
      EXPECT_EQ(Leftovers(std::string(name) + ".tmp"), std::vector<std::string>());

      // A .hdr name is refused before anything is made.
      EXPECT_FALSE(hostkit::WriteImageFile(Temp("light.HDR"), large, &error));
      EXPECT_NE(error.find("no longer supported"), std::string::npos) << error;
      EXPECT_FALSE(Exists(Temp("light.HDR")));
      std::remove(target.c_str());
    }
  }
}

TEST(ImageFiles, TemporariesOfEndedRunsGoOthersStay) {
  const std::string target = Temp("left.png");
  // Far above any process id the systems hand out.
  const std::string dead = target + ".tmp2147483600";
  const std::vector<std::string> kept = {target + ".tmp", target + ".tmp12x", target + ".tmpx1",
                                         Temp("lefty.png.tmp2147483600"), target + ".tmp99999999999"};
  EXPECT_FALSE(hostkit::fileplatform::ProcessIsRunning(2147483600));
  EXPECT_TRUE(hostkit::fileplatform::ProcessIsRunning(hostkit::CurrentProcessId()));
  for (const std::string& path : kept) WriteBytes(path, {1});
  WriteBytes(dead, {1});
  HostImage small;
  ASSERT_TRUE(small.Allocate(2, 2, 1));
  std::string error;
  ASSERT_TRUE(hostkit::WriteImageFile(target, small, &error)) << error;
  EXPECT_FALSE(Exists(dead));
  for (const std::string& path : kept) {
    EXPECT_TRUE(Exists(path)) << path;
    std::remove(path.c_str());
  }
  std::remove(target.c_str());
}

}  // namespace
