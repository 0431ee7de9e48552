// TIFF through libtiff, on our own file records (TIFFClientOpenExt): reads
// and writes go through InputFile and OutputFile, and libtiff's errors and
// warnings reach the caller's error text through per-file handlers instead
// of standard error.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "hostkit/image_codecs.h"

namespace hostkit {
namespace codecs {

namespace {

struct TiffState {
  InputFile* in = nullptr;
  OutputFile* out = nullptr;
  bool shortRead = false;  // a read met the end of the file
  char message[512] = {};  // libtiff's first error
};

TiffState* StateOf(thandle_t handle) { return static_cast<TiffState*>(static_cast<void*>(handle)); }

extern "C" int OnTiffError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  TiffState* state = static_cast<TiffState*>(user);
  if (state->message[0] == '\0') {
    char text[400];
    std::vsnprintf(text, sizeof text, format, args);
    if (module != nullptr && module[0] != '\0')
      std::snprintf(state->message, sizeof state->message, "%s: %s", module, text);
    else
      std::snprintf(state->message, sizeof state->message, "%s", text);
  }
  return 1;  // handled: nothing goes to standard error
}

extern "C" int OnTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Handlers for libtiff's messages about no file in particular.
extern "C" void IgnoreTiffMessage(const char*, const char*, va_list) {}

void SilenceGlobalHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(IgnoreTiffMessage);
    TIFFSetWarningHandler(IgnoreTiffMessage);
  });
}

extern "C" tmsize_t OnTiffRead(thandle_t handle, void* data, tmsize_t size) {
  TiffState* state = StateOf(handle);
  if (size < 0) return -1;
  if (state->out != nullptr) return static_cast<tmsize_t>(state->out->Read(data, static_cast<size_t>(size)));
  const size_t got = state->in->Read(data, static_cast<size_t>(size));
  if (got < static_cast<size_t>(size)) {
    if (!state->in->error().empty()) return -1;
    state->shortRead = true;
  }
  return static_cast<tmsize_t>(got);
}

extern "C" tmsize_t OnTiffWrite(thandle_t handle, void* data, tmsize_t size) {
  TiffState* state = StateOf(handle);
  if (state->out == nullptr || size < 0) return -1;
  return state->out->Write(data, static_cast<size_t>(size)) ? size : -1;
}

extern "C" toff_t OnTiffSeek(thandle_t handle, toff_t offset, int whence) {
  TiffState* state = StateOf(handle);
  const uint64_t here = state->out ? state->out->position() : state->in->position();
  const uint64_t end = state->out ? state->out->size() : state->in->size();
  const uint64_t to = whence == SEEK_SET ? offset : (whence == SEEK_CUR ? here : end) + offset;
  const bool ok = state->out ? state->out->Seek(to) : state->in->Seek(to);
  return ok ? to : static_cast<toff_t>(-1);
}

extern "C" int OnTiffClose(thandle_t) { return 0; }

extern "C" toff_t OnTiffSize(thandle_t handle) {
  TiffState* state = StateOf(handle);
  return state->out ? state->out->size() : state->in->size();
}

extern "C" int OnTiffMap(thandle_t, void**, toff_t*) { return 0; }  // never mapped: reads go through InputFile
extern "C" void OnTiffUnmap(thandle_t, void*, toff_t) {}

TIFF* OpenTiff(TiffState* state, const char* mode) {
  SilenceGlobalHandlers();
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, OnTiffError, state);
  TIFFOpenOptionsSetWarningHandlerExtR(options, OnTiffWarning, state);
  TIFF* tiff = TIFFClientOpenExt("image", mode, static_cast<thandle_t>(static_cast<void*>(state)), OnTiffRead,
                                 OnTiffWrite, OnTiffSeek, OnTiffClose, OnTiffSize, OnTiffMap, OnTiffUnmap, options);
  TIFFOpenOptionsFree(options);
  return tiff;
}

// The reader's failure in words: a file that ended early is cut off,
// whatever libtiff made of it.
std::string ReadFailure(const TiffState& state) {
  if (!state.in->error().empty()) return state.in->error();
  if (state.shortRead) return "the file is cut off";
  if (state.message[0] != '\0') return std::string("the file is damaged (") + state.message + ")";
  return "the file is damaged";
}

struct TiffLayout {
  uint32_t width = 0, height = 0;
  uint16_t samples = 1, bits = 1, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  int32_t colourPlanes = 1;
  bool alpha = false, premultiplied = false;
};

// The layout, or why this reader cannot take it.
bool ReadLayout(TIFF* tiff, TiffLayout* layout, std::string* error) {
  if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout->width) ||
      !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout->height)) {
    *error = "the file is damaged (no image size)";
    return false;
  }
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout->samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout->bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &layout->format);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout->planar);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout->photometric))
    layout->photometric = layout->samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  if (layout->photometric == PHOTOMETRIC_MINISBLACK) {
    layout->colourPlanes = 1;
  } else if (layout->photometric == PHOTOMETRIC_RGB) {
    layout->colourPlanes = 3;
  } else {
    *error = "its colour model (TIFF photometric " + std::to_string(layout->photometric) +
             ") is not supported; gray and RGB ones are";
    return false;
  }
  const int32_t extra = static_cast<int32_t>(layout->samples) - layout->colourPlanes;
  if (extra < 0 || extra > 1) {
    *error = "it has " + std::to_string(layout->samples) + " samples per pixel; " +
             (extra < 0 ? "too few for its colour model" : "only one transparency plane is supported");
    return false;
  }
  if (extra == 1) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &count, &kinds);
    layout->alpha = true;  // an unspecified extra sample is alpha in practice
    layout->premultiplied = count >= 1 && kinds != nullptr && kinds[0] == EXTRASAMPLE_ASSOCALPHA;
  }
  const bool integer = layout->format == SAMPLEFORMAT_UINT && (layout->bits == 8 || layout->bits == 16);
  const bool real = layout->format == SAMPLEFORMAT_IEEEFP && layout->bits == 32;
  if (!integer && !real) {
    static const char* const kFormats[] = {"", "unsigned integer", "signed integer", "floating-point", "untyped"};
    const char* name = layout->format < 5 ? kFormats[layout->format] : "unknown";
    *error = "its samples are " + std::to_string(layout->bits) + "-bit " + name +
             "; 8- and 16-bit unsigned integers and 32-bit floats are supported";
    return false;
  }
  if (layout->planar != PLANARCONFIG_CONTIG && layout->planar != PLANARCONFIG_SEPARATE) {
    *error = "the file is damaged (unknown planar configuration)";
    return false;
  }
  return true;
}

// Copies `count` samples of `bytes` bytes each, `from` every `fromStep`
// samples to `to` every `toStep` samples.
void CopySamples(const uint8_t* from, size_t fromStep, uint8_t* to, size_t toStep, size_t count, size_t bytes) {
  if (fromStep == 1 && toStep == 1) {
    std::memcpy(to, from, count * bytes);
    return;
  }
  for (size_t i = 0; i < count; ++i) std::memcpy(to + i * toStep * bytes, from + i * fromStep * bytes, bytes);
}

// Reads the samples into `samples` (interleaved, width × planes per row):
// strips by scanline, tiles tile by tile, each plane apart when they are
// stored apart.
bool ReadSamples(TIFF* tiff, const TiffLayout& layout, uint8_t* samples, std::vector<uint8_t>* buffer) {
  const size_t bytes = layout.bits / 8;
  const size_t planes = layout.samples;
  const size_t rowSamples = static_cast<size_t>(layout.width) * planes;
  const bool separate = layout.planar == PLANARCONFIG_SEPARATE && planes > 1;
  const size_t passes = separate ? planes : 1;
  const size_t step = separate ? 1 : planes;  // samples per pixel in what libtiff hands back
  if (TIFFIsTiled(tiff)) {
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    const tmsize_t tileBytes = TIFFTileSize(tiff);
    if (tileWidth == 0 || tileHeight == 0 || tileBytes <= 0 ||
        static_cast<uint64_t>(tileBytes) < uint64_t(tileWidth) * tileHeight * step * bytes)
      return false;
    buffer->resize(static_cast<size_t>(tileBytes));
    for (size_t plane = 0; plane < passes; ++plane) {
      for (uint32_t y = 0; y < layout.height; y += tileHeight) {
        for (uint32_t x = 0; x < layout.width; x += tileWidth) {
          if (TIFFReadTile(tiff, buffer->data(), x, y, 0, static_cast<uint16_t>(plane)) < 0) return false;
          const uint32_t columns = std::min(tileWidth, layout.width - x);
          const uint32_t rows = std::min(tileHeight, layout.height - y);
          for (uint32_t r = 0; r < rows; ++r) {
            const uint8_t* from = buffer->data() + static_cast<size_t>(r) * tileWidth * step * bytes;
            uint8_t* to = samples + ((y + r) * rowSamples + static_cast<size_t>(x) * planes + plane) * bytes;
            CopySamples(from, 1, to, separate ? planes : 1, columns * step, bytes);
          }
        }
      }
    }
    return true;
  }
  const tmsize_t lineBytes = TIFFScanlineSize(tiff);
  if (lineBytes <= 0 || static_cast<uint64_t>(lineBytes) < uint64_t(layout.width) * step * bytes) return false;
  // Whole interleaved rows go straight into place.
  const bool direct = !separate && static_cast<uint64_t>(lineBytes) == uint64_t(rowSamples) * bytes;
  buffer->resize(static_cast<size_t>(lineBytes));
  for (size_t plane = 0; plane < passes; ++plane) {
    for (uint32_t y = 0; y < layout.height; ++y) {
      uint8_t* to = samples + (y * rowSamples + plane) * bytes;
      if (direct) {
        if (TIFFReadScanline(tiff, to, y, 0) < 0) return false;
        continue;
      }
      if (TIFFReadScanline(tiff, buffer->data(), y, static_cast<uint16_t>(plane)) < 0) return false;
      CopySamples(buffer->data(), 1, to, separate ? planes : 1, layout.width * step, bytes);
    }
  }
  return true;
}

// Colour samples stored multiplied by alpha become plain ones.
template <typename Sample>
void Unpremultiply(Sample* samples, size_t pixels, int32_t planes, double full) {
  for (size_t i = 0; i < pixels; ++i) {
    Sample* pixel = samples + i * static_cast<size_t>(planes);
    const double alpha = static_cast<double>(pixel[planes - 1]);
    for (int32_t p = 0; p + 1 < planes; ++p) {
      double value = alpha > 0 ? static_cast<double>(pixel[p]) * full / alpha : 0.0;
      if (full > 0) value = std::min(full, value) + 0.5;  // integers round and stay in range
      pixel[p] = static_cast<Sample>(value);
    }
  }
}

bool ReadTiffImage(TIFF* tiff, TiffState* state, bool profileOnly, HostImage* image, std::string* error) {
  uint32_t profileBytes = 0;
  void* profile = nullptr;
  image->iccProfile.clear();
  if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &profileBytes, &profile) && profile != nullptr && profileBytes > 0) {
    if (profileBytes <= kMaxIccBytes) {
      image->iccProfile.assign(static_cast<uint8_t*>(profile), static_cast<uint8_t*>(profile) + profileBytes);
    } else if (profileOnly) {
      *error = "its colour profile is larger than 16 MB";
      return false;
    } else {
      image->profileProblem = "its colour profile is larger than 16 MB";
    }
  }
  if (profileOnly) return true;
  TiffLayout layout;
  if (!ReadLayout(tiff, &layout, error)) return false;
  const int32_t bytes = layout.bits / 8;
  // A few hundred bytes may claim a gigapixel image: before allocating it,
  // the file must be able to hold it. No compression TIFF uses comes near
  // 4096:1 (deflate stays below 1032:1), so a claim beyond that is a
  // damaged or hostile file, not a very flat picture.
  const double claimed = static_cast<double>(layout.width) * static_cast<double>(layout.height) *
                         static_cast<double>(layout.samples) * static_cast<double>(bytes);
  if (state->in != nullptr && claimed > 4096.0 * static_cast<double>(state->in->size()) + 65536.0) {
    *error = "the file is too small for the image size it declares";
    return false;
  }
  if (layout.width > 0x7fffffff || layout.height > 0x7fffffff ||
      !image->Allocate(static_cast<int32_t>(layout.width), static_cast<int32_t>(layout.height), layout.samples,
                       bytes)) {
    *error = layout.width == 0 || layout.height == 0 ? "the image is empty" : "the image is too large for memory";
    return false;
  }
  uint8_t* samples = image->pixels.data();
  if (bytes == 2) {
    image->fileSamples16.resize(image->pixels.size() / 2);
    samples = reinterpret_cast<uint8_t*>(image->fileSamples16.data());
  }
  std::vector<uint8_t> buffer;
  if (!ReadSamples(tiff, layout, samples, &buffer)) {
    *error = ReadFailure(*state);
    return false;
  }
  const size_t pixels = static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
  if (layout.premultiplied) {
    if (bytes == 1) Unpremultiply(image->pixels.data(), pixels, image->planes, 255.0);
    if (bytes == 2) Unpremultiply(image->fileSamples16.data(), pixels, image->planes, 65535.0);
    if (bytes == 4) Unpremultiply(reinterpret_cast<float*>(image->pixels.data()), pixels, image->planes, 0.0);
  }
  if (bytes == 2) {
    for (size_t i = 0; i < image->fileSamples16.size(); ++i) {
      const uint16_t host = FileToHost16(image->fileSamples16[i]);
      std::memcpy(image->pixels.data() + 2 * i, &host, 2);
    }
  }
  return true;
}

// About 1 MB per strip: large enough for deflate, small enough to stream.
uint32_t RowsPerStrip(size_t rowBytes) {
  return static_cast<uint32_t>(std::max<size_t>(1, (size_t(1) << 20) / std::max<size_t>(rowBytes, 1)));
}

bool WriteTiffImage(TIFF* tiff, TiffState* state, const HostImage& image, const Cancelled& cancelled,
                    std::string* error) {
  const bool real = image.bytesPerSample == 4;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(image.planes));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(image.bytesPerSample * 8));
  TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, real ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, image.colourPlanes() == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  if (image.hasTransparency()) {
    const uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &kind);
  }
  // Deflate with the predictor that suits the samples: differences of
  // neighbours for integers, the byte-plane split for floats.
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(tiff, TIFFTAG_PREDICTOR, real ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
  TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, kDeflateLevel);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, RowsPerStrip(image.rowBytes()));
  if (!image.iccProfile.empty())
    TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(image.iccProfile.size()), image.iccProfile.data());

  // libtiff's predictor works in the row it is given: always a copy.
  std::vector<uint8_t> row(image.rowBytes());
  const size_t rowSamples = static_cast<size_t>(image.width) * static_cast<size_t>(image.planes);
  const uint16_t* originals = FileSamplesOf(image);
  for (int32_t y = 0; y < image.height; ++y) {
    if (cancelled && cancelled()) {
      *error = kCancelledText;
      return false;
    }
    if (image.bytesPerSample == 2) {
      const uint16_t* host = reinterpret_cast<const uint16_t*>(image.Pixel(0, y));
      uint16_t* out = reinterpret_cast<uint16_t*>(row.data());
      const size_t first = static_cast<size_t>(y) * rowSamples;
      for (size_t i = 0; i < rowSamples; ++i)
        out[i] = FileValue16(host[i], originals ? originals + first + i : nullptr);
    } else {
      std::memcpy(row.data(), image.Pixel(0, y), row.size());
    }
    if (TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) < 0 || state->out->failed()) break;
  }
  if (!state->out->failed() && state->message[0] == '\0' && TIFFFlush(tiff) && !state->out->failed() &&
      state->message[0] == '\0')
    return true;
  if (state->out->failed())
    *error = state->out->error();
  else
    *error =
        std::string("cannot write the TIFF data") + (state->message[0] ? std::string(" (") + state->message + ")" : "");
  return false;
}

}  // namespace

bool ReadTiff(InputFile* file, bool profileOnly, HostImage* image, std::string* error) {
  TiffState state;
  state.in = file;
  TIFF* tiff = OpenTiff(&state, "r");
  if (tiff == nullptr) {
    *error = ReadFailure(state);
    return false;
  }
  bool ok = false;
  try {
    ok = ReadTiffImage(tiff, &state, profileOnly, image, error);
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
  }
  TIFFClose(tiff);
  if (!ok) {
    image->fileSamples16.clear();
    if (!profileOnly) image->Allocate(0, 0, 0);
  }
  return ok;
}

bool WriteTiff(OutputFile* file, const HostImage& image, const Cancelled& cancelled, std::string* error) {
  TiffState state;
  state.out = file;
  // Classic TIFF addresses 4 GB; larger documents get the 64-bit form.
  const bool big = image.pixels.size() > (uint64_t(3) << 30);
  TIFF* tiff = OpenTiff(&state, big ? "w8" : "w");
  if (tiff == nullptr) {
    *error = file->failed() ? file->error() : std::string("cannot start the TIFF data (") + state.message + ")";
    return false;
  }
  bool ok = false;
  try {
    ok = WriteTiffImage(tiff, &state, image, cancelled, error);
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
  }
  // Closing flushes what is pending; after a failure that goes nowhere.
  if (!ok) file->Discard();
  TIFFClose(tiff);
  return ok;
}

}  // namespace codecs
}  // namespace hostkit
