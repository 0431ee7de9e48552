#pragma once
// The texture formats the preview stores 8-, 16- and 32-bit colour in, found
// by asking the context which of a few candidates it really grants, and the
// log's names of formats and data types.
#include <cstdint>
#include <string>

struct TextureFormat {
  uint32_t internalFormat;
  int32_t pixelDepth;  // bytes per pixel, four channels
  uint32_t dataType;
};

enum TextureFormatIndex { TEXTURE_FORMAT_8 = 0, TEXTURE_FORMAT_16 = 1, TEXTURE_FORMAT_32 = 2 };

// "GL_UNSIGNED_BYTE", ...; "Unrecognized: 0x1234" for others.
std::string DataTypeName(uint32_t dataType);
// "GL_RGBA16F", ...; "Unrecognized" for others.
const char* InternalFormatName(uint32_t internalFormat);

// Fills formats[3] for the current context. useFrameBufferObjects: each
// candidate must also serve as a render buffer. vendor: the generic Windows
// renderer (VENDOR_MICROSOFT) is given 8-bit RGBA everywhere unprobed.
// Fails with a user message and *resultCode = -50 when no 8-bit format
// exists at all; other failures leave *resultCode alone.
bool CharacterizeBestFormats(bool useFrameBufferObjects, int32_t vendor, TextureFormat formats[3], int16_t* resultCode);
