// PNG through libpng. libpng reports errors by longjmp out of its callbacks:
// every routine here that calls into libpng after setjmp is written as C,
// with no object that has a destructor alive between the setjmp and a
// possible longjmp (in it or in the callbacks), and its state in a plain
// record that the caller owns. Buffers are made by the caller between the
// phases, outside any setjmp.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "hostkit/image_codecs.h"

namespace hostkit {
namespace codecs {

namespace {

// What the callbacks know: the file, and the first failure in words.
struct PngState {
  InputFile* in = nullptr;
  OutputFile* out = nullptr;
  char message[512] = {};
  char profileWarning[256] = {};  // libpng's last word on an iCCP chunk it read
  char lastWarning[256] = {};
};

void SetMessage(PngState* state, const char* text) {
  if (state->message[0] == '\0') std::snprintf(state->message, sizeof state->message, "%s", text);
}

// libpng's messages in the reader's words. Chunk errors come as "IDAT: text".
void DescribeError(PngState* state, const char* text) {
  if (std::strstr(text, "CRC error") != nullptr && std::strlen(text) > 4 && text[4] == ':') {
    std::snprintf(state->message, sizeof state->message,
                  "the file is damaged: the checksum of its %.4s chunk does not match", text);
  } else if (std::strstr(text, "ut of memory") != nullptr || std::strstr(text, "nsufficient memory") != nullptr) {
    SetMessage(state, "out of memory");
  } else if (std::strstr(text, "exceeds user limit") != nullptr) {
    std::snprintf(state->message, sizeof state->message, "the image is too large (%s)", text);
  } else {
    std::snprintf(state->message, sizeof state->message, "the file is damaged (%s)", text);
  }
}

extern "C" void OnPngError(png_structp png, png_const_charp text) {
  PngState* state = static_cast<PngState*>(png_get_error_ptr(png));
  if (state->message[0] == '\0') DescribeError(state, text ? text : "unknown error");
  png_longjmp(png, 1);
}

extern "C" void OnPngWarning(png_structp png, png_const_charp text) {
  PngState* state = static_cast<PngState*>(png_get_error_ptr(png));
  if (text == nullptr) return;
  std::snprintf(state->lastWarning, sizeof state->lastWarning, "%s", text);
  if (std::strncmp(text, "iCCP", 4) == 0)
    std::snprintf(state->profileWarning, sizeof state->profileWarning, "%s", text);
}

extern "C" void OnPngRead(png_structp png, png_bytep data, size_t length) {
  PngState* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (state->in->Read(data, length) == length) return;
  SetMessage(state, state->in->error().empty() ? "the file is cut off" : state->in->error().c_str());
  png_error(png, state->message);
}

extern "C" void OnPngWrite(png_structp png, png_bytep data, size_t length) {
  PngState* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (state->out->Write(data, length)) return;
  SetMessage(state, state->out->error().c_str());
  png_error(png, state->message);
}

extern "C" void OnPngFlush(png_structp) {}  // OutputFile flushes on Commit

// The header and what comes before the pixels, with the profile.
struct PngHeader {
  png_uint_32 width = 0, height = 0;
  uint64_t storedBytes = 0;  // the filtered rows as stored, before any expansion
  int channels = 0, bitDepth = 0, passes = 1;
  png_bytep profile = nullptr;
  png_uint_32 profileBytes = 0;
};

bool ReadPngHeader(png_structp png, png_infop info, PngHeader* header) {
  if (setjmp(png_jmpbuf(png))) return false;
  // A damaged chunk is an error, ancillary ones too: nothing is drawn from
  // a file that does not check out.
  png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  // Caps every chunk libpng inflates or keeps, the profile among them: its
  // declared size is checked before anything is inflated, and inflating
  // stops at the declared size.
  png_set_chunk_malloc_max(png, kMaxIccBytes);
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);  // sizes are checked when the image is allocated
  png_read_info(png, info);
  header->storedBytes = uint64_t(png_get_image_height(png, info)) * (uint64_t(png_get_rowbytes(png, info)) + 1);
  if (png_get_valid(png, info, PNG_INFO_iCCP)) {
    png_charp name = nullptr;
    int compression = 0;
    png_get_iCCP(png, info, &name, &compression, &header->profile, &header->profileBytes);
  }
  // Palettes, gray below 8 bits and tRNS become 8-bit gray, RGB or alpha.
  png_set_expand(png);
  header->passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  header->width = png_get_image_width(png, info);
  header->height = png_get_image_height(png, info);
  header->channels = png_get_channels(png, info);
  header->bitDepth = png_get_bit_depth(png, info);
  return true;
}

// Rows of `rowBytes` bytes from `base`; interlaced files fill them pass by pass.
bool ReadPngRows(png_structp png, uint8_t* base, size_t rowBytes, png_uint_32 height, int passes) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, base + y * rowBytes, nullptr);
  png_read_end(png, nullptr);  // the chunks after the pixels, up to IEND, checked too
  return true;
}

// The profile problem in words, from libpng's warning about the chunk.
std::string ProfileProblem(const PngState& state) {
  if (std::strstr(state.profileWarning, "exceeds application limits") != nullptr)
    return "its colour profile is larger than 16 MB";
  return std::string("its colour profile is damaged (") + state.profileWarning + ")";
}

bool ReadPngImage(png_structp png, png_infop info, PngState* state, InputFile* file, bool profileOnly,
                  HostImage* image, std::string* error) {
  PngHeader header;
  if (!ReadPngHeader(png, info, &header)) {
    *error = state->message;
    return false;
  }
  image->iccProfile.clear();
  if (header.profile != nullptr && header.profileBytes > 0) {
    image->iccProfile.assign(header.profile, header.profile + header.profileBytes);
  } else if (state->profileWarning[0] != '\0') {
    if (profileOnly) {
      *error = ProfileProblem(*state);
      return false;
    }
    image->profileProblem = ProfileProblem(*state);
  }
  if (profileOnly) return true;

  const bool sixteen = header.bitDepth == 16;
  if (header.channels < 1 || header.channels > 4 || (header.bitDepth != 8 && !sixteen)) {
    *error = "the file is damaged (unexpected layout after expansion)";
    return false;
  }
  // Deflate packs at most 1032 bytes into one: a file too small for the
  // rows it declares is damaged, and is refused before its image is made.
  if (header.storedBytes / 1032 > file->size()) {
    *error = "the file is damaged (too small for the image size it declares)";
    return false;
  }
  if (!image->Allocate(static_cast<int32_t>(header.width), static_cast<int32_t>(header.height), header.channels,
                       sixteen ? 2 : 1)) {
    *error = "the image is too large for memory";
    return false;
  }
  uint8_t* rows = image->pixels.data();
  if (sixteen) {
    // The file's samples are kept beside the host's (see HostImage).
    image->fileSamples16.resize(image->pixels.size() / 2);
    rows = reinterpret_cast<uint8_t*>(image->fileSamples16.data());
  }
  if (!ReadPngRows(png, rows, image->rowBytes(), header.height, header.passes)) {
    *error = state->message;
    return false;
  }
  if (sixteen) {
    uint16_t* file = image->fileSamples16.data();
    const size_t count = image->fileSamples16.size();
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* bytes = reinterpret_cast<const uint8_t*>(file + i);
      file[i] = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);  // PNG is big-endian
      const uint16_t host = FileToHost16(file[i]);
      std::memcpy(image->pixels.data() + 2 * i, &host, 2);
    }
  }
  return true;
}

// One row of `image` as PNG samples of `bitDepth` bits.
void FillPngRow(const HostImage& image, int32_t y, int bitDepth, uint8_t* row) {
  const size_t samples = static_cast<size_t>(image.width) * static_cast<size_t>(image.planes);
  const size_t first = static_cast<size_t>(y) * samples;
  if (bitDepth == 8) {
    std::memcpy(row, image.Pixel(0, y), samples);  // only 8-bit images are written in 8 bits
    return;
  }
  if (image.bytesPerSample == 2) {
    const uint16_t* host = reinterpret_cast<const uint16_t*>(image.Pixel(0, y));
    const uint16_t* originals = FileSamplesOf(image);
    for (size_t i = 0; i < samples; ++i) {
      const uint16_t value = FileValue16(host[i], originals ? originals + first + i : nullptr);
      row[2 * i] = static_cast<uint8_t>(value >> 8);
      row[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
    }
    return;
  }
  for (size_t i = 0; i < samples; ++i) {
    uint16_t value;
    if (image.bytesPerSample == 4) {
      float sample;
      std::memcpy(&sample, image.Pixel(0, y) + 4 * i, 4);
      const double clamped = sample > 0 ? std::min<double>(sample, 1.0) : 0.0;  // NaN too becomes 0
      value = static_cast<uint16_t>(std::lround(clamped * 65535));
    } else {
      value = static_cast<uint16_t>(image.Pixel(0, y)[i] * 257);
    }
    row[2 * i] = static_cast<uint8_t>(value >> 8);
    row[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
  }
}

bool SetPngHeader(png_structp png, png_infop info, const HostImage& image, int bitDepth) {
  if (setjmp(png_jmpbuf(png))) return false;
  static const int kTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                               PNG_COLOR_TYPE_RGB_ALPHA};
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), bitDepth,
               kTypes[image.planes - 1], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!image.iccProfile.empty())
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, image.iccProfile.data(),
                 static_cast<png_uint_32>(image.iccProfile.size()));
  return true;
}

// Writes the header and the rows; false with *stopped set when `cancelled`
// said so between two rows.
bool WritePngData(png_structp png, png_infop info, const HostImage& image, int bitDepth, uint8_t* row,
                  const Cancelled* cancelled, bool* stopped) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_compression_level(png, kDeflateLevel);
  png_write_info(png, info);
  for (int32_t y = 0; y < image.height; ++y) {
    if (*cancelled && (*cancelled)()) {
      *stopped = true;
      return false;
    }
    FillPngRow(image, y, bitDepth, row);
    png_write_row(png, row);
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

bool ReadPng(InputFile* file, bool profileOnly, HostImage* image, std::string* error) {
  PngState state;
  state.in = file;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false;
  if (png == nullptr || info == nullptr) {
    *error = "out of memory";
  } else {
    png_set_read_fn(png, &state, OnPngRead);
    try {
      ok = ReadPngImage(png, info, &state, file, profileOnly, image, error);
    } catch (const std::bad_alloc&) {
      *error = "out of memory";
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  if (!ok) {
    image->fileSamples16.clear();
    if (!profileOnly) image->Allocate(0, 0, 0);
  }
  return ok;
}

bool WritePng(OutputFile* file, const HostImage& image, const Cancelled& cancelled, std::string* error,
              std::string* note) {
  PngState state;
  state.out = file;
  const int bitDepth = image.bytesPerSample == 1 ? 8 : 16;
  std::vector<uint8_t> row;
  try {
    row.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.planes) * (bitDepth / 8));
  } catch (const std::bad_alloc&) {
    *error = "out of memory";
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnPngError, OnPngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = false, stopped = false;
  if (png == nullptr || info == nullptr) {
    SetMessage(&state, "out of memory");
  } else {
    png_set_write_fn(png, &state, OnPngWrite, OnPngFlush);
    // A profile libpng finds unfit is then dropped with a warning instead of
    // failing the whole write.
    png_set_benign_errors(png, 1);
    ok = SetPngHeader(png, info, image, bitDepth);
    // libpng drops a profile that does not fit the image (a gray profile
    // on colour pixels, say) with a warning. The pixels are worth more than
    // the profile: they are written, and the caller hears what was left out.
    if (ok && !image.iccProfile.empty() && !png_get_valid(png, info, PNG_INFO_iCCP) && note != nullptr)
      *note = std::string("the colour profile was left out, since a PNG cannot carry it for this image (") +
              (state.lastWarning[0] ? state.lastWarning : "refused") + "); a .tif name keeps it";
    if (ok) ok = WritePngData(png, info, image, bitDepth, row.data(), &cancelled, &stopped);
  }
  png_destroy_write_struct(&png, &info);
  if (!ok) *error = stopped ? kCancelledText : state.message;
  return ok;
}

}  // namespace codecs
}  // namespace hostkit
