// The pure decisions behind the OpenGL drawing: which pixel format, which
// default mode, which features, which vendor; checked against rows worked
// out by hand from the rules, including hardware this machine does not have.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gl/drawing_settings.h"
#include "gl/gl_support.h"
#include "gl/gpu_information.h"
#include "gl/pixel_format.h"
#include "gl/texture_formats.h"
#include "runtime/report.h"

namespace {

PixelFormatDescriptor Format(uint32_t flags, uint8_t colorBits = 32, uint8_t alphaBits = 8,
                             uint8_t type = PIXEL_TYPE_RGBA) {
  PixelFormatDescriptor f{};
  f.size = 40;
  f.version = 1;
  f.flags = flags;
  f.pixelType = type;
  f.colorBits = colorBits;
  f.alphaBits = alphaBits;
  return f;
}

constexpr uint32_t DRIVER = PIXEL_SUPPORT_OPENGL | PIXEL_DRAW_TO_WINDOW | PIXEL_DOUBLEBUFFER;
constexpr uint32_t GENERIC =
    PIXEL_SUPPORT_OPENGL | PIXEL_GENERIC_FORMAT | PIXEL_DRAW_TO_WINDOW | PIXEL_DRAW_TO_BITMAP | PIXEL_SUPPORT_GDI;

TEST(PixelFormatRule, PicksTheFirstDriverFormatElseTheFirstGenericBitmapFormat) {
  struct Case {
    const char* what;
    std::vector<PixelFormatDescriptor> formats;
    bool softwareOnly;
    int index;
    bool gpu;
  };
  const Case cases[] = {
      {"driver beats generic, 24-bit and alpha-less skipped",
       {Format(DRIVER, 24), Format(DRIVER, 32, 0), Format(GENERIC), Format(DRIVER), Format(DRIVER)}, false, 4, true},
      {"software asked for", {Format(DRIVER, 24), Format(DRIVER), Format(GENERIC), Format(GENERIC)}, true, 3, false},
      {"only 24-bit formats", {Format(DRIVER, 24), Format(GENERIC, 24)}, false, 0, false},
      {"only double-buffered generic formats", {Format(GENERIC | PIXEL_DOUBLEBUFFER)}, false, 0, false},
      {"software asked for, only driver formats", {Format(DRIVER), Format(DRIVER)}, true, 0, false},
      {"generic accelerated is neither", {Format(DRIVER | PIXEL_GENERIC_FORMAT | PIXEL_GENERIC_ACCELERATED)}, false, 0,
       false},
      {"palette formats never", {Format(DRIVER | PIXEL_NEED_PALETTE), Format(GENERIC | PIXEL_NEED_SYSTEM_PALETTE)},
       false, 0, false},
      {"single-buffered driver format is no choice", {Format(PIXEL_SUPPORT_OPENGL | PIXEL_DRAW_TO_WINDOW)}, false, 0,
       false},
      {"colour-index formats never", {Format(DRIVER, 32, 8, 1)}, false, 0, false},
      {"no OpenGL support", {Format(DRIVER & ~PIXEL_SUPPORT_OPENGL)}, false, 0, false},
      {"generic without GDI", {Format(GENERIC & ~PIXEL_SUPPORT_GDI)}, false, 0, false},
      {"generic listed first, driver still wins", {Format(GENERIC), Format(DRIVER)}, false, 2, true},
      {"nothing at all", {}, false, 0, false},
  };
  for (const Case& c : cases) {
    PixelFormatChoice choice = ChoosePixelFormatFrom(c.formats.data(), static_cast<int>(c.formats.size()), c.softwareOnly);
    EXPECT_EQ(choice.index, c.index) << c.what;
    EXPECT_EQ(choice.gpuAcceleration, c.gpu) << c.what;
  }
}

// Capabilities of the implementations the rows name. Version flags are
// cumulative, as GLEW sets them.
OpenGLCapabilities Caps(int major, int minor, bool npot, bool vbo, bool pbo, bool fbo) {
  OpenGLCapabilities c{};
  const int v = major * 10 + minor;
  c.version1_4 = v >= 14;
  c.version1_5 = v >= 15;
  c.version2_0 = v >= 20;
  c.version2_1 = v >= 21;
  c.version3_0 = v >= 30;
  c.arbTextureNonPowerOfTwo = npot;
  c.arbVertexBufferObject = vbo;
  c.arbPixelBufferObject = pbo;
  c.arbFramebufferObject = fbo;
  c.extFramebufferObject = fbo;
  return c;
}
// Mesa lists every extension whatever version it is told to report.
OpenGLCapabilities Mesa(int major, int minor) { return Caps(major, minor, true, true, true, true); }

TEST(FeatureSwitches, FollowTheModeAccelerationVersionAndExtensions) {
  struct Row {
    const char* what;
    int32_t mode;
    bool accelerated;
    int32_t vendor;
    OpenGLCapabilities caps;
    // offscreen, VBO, FBO, PBO, shader, power of two
    bool expected[6];
  };
  const Row rows[] = {
      {"quality, GL 1.1", OPTIMIZE_FOR_QUALITY, true, VENDOR_OTHER, Caps(1, 1, false, false, false, false),
       {false, false, false, false, true, true}},
      {"quality, GL 1.4 with npot and VBO", OPTIMIZE_FOR_QUALITY, true, VENDOR_OTHER, Caps(1, 4, true, true, false, false),
       {false, true, false, false, true, false}},
      {"quality, bare GL 1.4", OPTIMIZE_FOR_QUALITY, true, VENDOR_OTHER, Caps(1, 4, false, false, false, false),
       {false, false, false, false, true, true}},
      {"quality, GL 2.0 with PBO", OPTIMIZE_FOR_QUALITY, true, VENDOR_OTHER, Caps(2, 0, false, false, true, false),
       {false, true, false, true, true, false}},
      {"quality, GL 2.1 with FBO", OPTIMIZE_FOR_QUALITY, true, VENDOR_OTHER, Mesa(2, 1),
       {false, true, true, true, true, false}},
      {"quality, GL 2.1 without ARB FBO", OPTIMIZE_FOR_QUALITY, true, VENDOR_OTHER, Caps(2, 1, true, true, true, false),
       {false, true, false, true, true, false}},
      {"NVIDIA GL 2.0 without npot", OPTIMIZE_FOR_QUALITY, true, VENDOR_NVIDIA, Caps(2, 0, false, false, false, false),
       {false, true, false, false, true, true}},
      {"NVIDIA GL 3.0 with npot", OPTIMIZE_FOR_QUALITY, true, VENDOR_NVIDIA, Mesa(3, 0),
       {false, true, true, true, true, false}},
      {"speed, GL 4.5", OPTIMIZE_FOR_SPEED, true, VENDOR_OTHER, Mesa(4, 5), {false, true, true, true, true, false}},
      {"compatibility is weak", OPTIMIZE_FOR_COMPATIBILITY, true, VENDOR_OTHER, Mesa(4, 5),
       {false, false, false, false, false, true}},
      {"software is weak", OPTIMIZE_NONE, true, VENDOR_OTHER, Mesa(4, 5), {false, false, false, false, false, true}},
      {"not accelerated: weak and off-screen", OPTIMIZE_FOR_QUALITY, false, VENDOR_OTHER, Mesa(4, 5),
       {true, false, false, false, false, true}},
  };
  for (const Row& r : rows) {
    FeatureSwitches s = DecideFeatureSwitches(r.mode, r.accelerated, r.vendor, r.caps);
    const bool got[6] = {s.useOffscreenBitmap,    s.useVertexBufferObjects, s.useFrameBufferObjects,
                         s.usePixelBufferObjects, s.useShaderProgram,       s.mustUsePowerOfTwoSizedTextures};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(got[i], r.expected[i]) << r.what << ", switch " << i;
  }
}

OpenGLCapabilities WithFloats(OpenGLCapabilities c, bool nvFloat, bool atiFloat) {
  c.nvFloatBuffer = nvFloat;
  c.atiTextureFloat = atiFloat;
  return c;
}

TEST(DefaultDrawingMode, StepsDownKnownWeakModelsAndOldVersions) {
  struct Row {
    bool haveContext;
    bool accelerated;
    const char* vendor;
    const char* renderer;
    OpenGLCapabilities caps;
    int32_t mode;
  };
  const OpenGLCapabilities gl20 = Caps(2, 0, true, true, false, false);
  const Row rows[] = {
      {false, true, nullptr, nullptr, {}, OPTIMIZE_NOT_DETERMINED},
      {false, false, nullptr, nullptr, {}, OPTIMIZE_NONE},
      {true, false, "NVIDIA Corporation", "GeForce GTX 1080/PCIe/SSE2", Mesa(4, 5), OPTIMIZE_NONE},
      {true, true, "ATI Technologies Inc.", "ATI Radeon X1950 Pro", gl20, OPTIMIZE_FOR_COMPATIBILITY},
      {true, true, "ATI Technologies Inc.", "ATI Radeon HD 4800 Series", gl20, OPTIMIZE_FOR_QUALITY},
      {true, true, "ATI Technologies Inc.", "Radeon 9800", Caps(1, 5, true, true, false, false),
       OPTIMIZE_FOR_COMPATIBILITY},
      {true, true, "NVIDIA Corporation", "GeForce 8600 GT/PCI/SSE2", WithFloats(gl20, true, true), OPTIMIZE_FOR_SPEED},
      {true, true, "NVIDIA Corporation", "GeForce 8600 GT/PCI/SSE2", WithFloats(gl20, true, false),
       OPTIMIZE_FOR_COMPATIBILITY},
      {true, true, "NVIDIA Corporation", "GeForce GTX 1080/PCIe/SSE2", WithFloats(Mesa(4, 5), true, true),
       OPTIMIZE_FOR_QUALITY},
      // "Corporation" holds the letters A, T, I: still no ATI hardware.
      {true, true, "NVIDIA Corporation", "Quadro FX 580/PCI/SSE2", WithFloats(gl20, false, false),
       OPTIMIZE_FOR_COMPATIBILITY},
      {true, true, "Intel", "Intel HD Graphics", Caps(1, 4, false, true, false, false), OPTIMIZE_NONE},
      {true, true, "Intel Inc.", "Intel HD Graphics 4000", gl20, OPTIMIZE_FOR_QUALITY},
      {true, true, "Mesa/X.org", "llvmpipe", Mesa(1, 1), OPTIMIZE_FOR_COMPATIBILITY},
      {true, true, "Mesa/X.org", "llvmpipe", Mesa(1, 4), OPTIMIZE_FOR_COMPATIBILITY},
      {true, true, "Mesa/X.org", "llvmpipe", Mesa(2, 1), OPTIMIZE_FOR_QUALITY},
      {true, true, "Mesa/X.org", "llvmpipe", Mesa(3, 0), OPTIMIZE_FOR_QUALITY},
      {true, true, "Mesa/X.org", "llvmpipe", Mesa(4, 5), OPTIMIZE_FOR_QUALITY},
  };
  for (const Row& r : rows)
    EXPECT_EQ(DefaultDrawingModeFor(r.haveContext, r.accelerated, r.vendor, r.renderer, r.caps), r.mode)
        << (r.vendor ? r.vendor : "(none)") << " / " << (r.renderer ? r.renderer : "(none)");
}

TEST(DrawingModes, NamesVendorsAndTheInstallersChoice) {
  EXPECT_STREQ(DrawingModeName(OPTIMIZE_FOR_QUALITY), "OPTIMIZE_FOR_QUALITY");
  EXPECT_STREQ(DrawingModeName(OPTIMIZE_NONE), "OPTIMIZE_NONE");
  EXPECT_STREQ(DrawingModeName(7), "Unrecognized Setting");
  EXPECT_STREQ(DrawingModeName(-1), "Unrecognized Setting");
  EXPECT_STREQ(DrawingModeLabel(OPTIMIZE_FOR_SPEED), "Optimize for faster display");
  EXPECT_STREQ(DrawingModeLabel(OPTIMIZE_NONE), "Use Software Rendering");

  const std::pair<const char*, int32_t> vendors[] = {
      {nullptr, VENDOR_UNKNOWN},          {"ATI Technologies Inc.", VENDOR_ATI}, {"NVIDIA Corporation", VENDOR_NVIDIA},
      {"nvidia corporation", VENDOR_NVIDIA}, {"Intel Inc.", VENDOR_INTEL},     {"Intel", VENDOR_OTHER},
      {"Microsoft Corporation", VENDOR_MICROSOFT}, {"Mesa Project", VENDOR_MESA}, {"Mesa/X.org", VENDOR_OTHER},
      {"VMware, Inc.", VENDOR_VMWARE},    {"ASUS Tek", VENDOR_ASUS},             {"", VENDOR_OTHER},
      {"Advanced Micro Devices, Inc.", VENDOR_OTHER},
  };
  for (const auto& v : vendors) EXPECT_EQ(OpenGLVendorOf(v.first), v.second) << (v.first ? v.first : "(null)");

  // stored, accelerated, default -> installed
  const int32_t rows[][4] = {{1, 1, 1, 1}, {2, 1, 1, 2}, {3, 1, 1, 3}, {4, 1, 1, 4}, {1, 0, 4, 4}, {2, 0, 4, 4},
                             {3, 0, 4, 4}, {4, 0, 4, 4}, {0, 1, 1, 1}, {7, 1, 1, 1}, {7, 0, 4, 4}, {-3, 1, 3, 3}};
  for (const auto& r : rows) EXPECT_EQ(InstalledDrawingMode(r[0], r[1] != 0, r[2]), r[3]) << "stored " << r[0];
}

TEST(TextureFormatNames, DataTypesAndInternalFormatsForTheLog) {
  EXPECT_EQ(DataTypeName(0x1400), "GL_BYTE");
  EXPECT_EQ(DataTypeName(0x1401), "GL_UNSIGNED_BYTE");
  EXPECT_EQ(DataTypeName(0x140B), "GL_HALF_FLOAT");
  EXPECT_EQ(DataTypeName(0x140C), "Unrecognized: 0x140C");
  EXPECT_EQ(DataTypeName(0x13FF), "Unrecognized: 0x13FF");
  // First, last and a few between of the table, by the tokens' own values.
  EXPECT_STREQ(InternalFormatName(0x1908), "GL_RGBA");
  EXPECT_STREQ(InternalFormatName(0x8058), "GL_RGBA8");
  EXPECT_STREQ(InternalFormatName(0x881A), "GL_RGBA16F");
  EXPECT_STREQ(InternalFormatName(0x8814), "GL_RGBA32F");
  EXPECT_STREQ(InternalFormatName(0x888A), "GL_FLOAT_RGBA16_NV");
  EXPECT_STREQ(InternalFormatName(0x822E), "GL_R32F");
  EXPECT_STREQ(InternalFormatName(0x1907), "Unrecognized");  // GL_RGB: not a texture format of the table
}

TEST(GPUInformation, DeviceIdTextsAndRemoteSessions) {
  GPUInformation info;
  ASSERT_TRUE(ParseGPUDeviceId("PCI\\VEN_10DE&DEV_1C82&SUBSYS_11BF1458&REV_A1", 0, &info));
  EXPECT_EQ(info.vendorId, 0x10DEu);
  EXPECT_EQ(info.deviceId, 0x1C82u);
  EXPECT_EQ(info.subsystemDeviceId, 0x11BFu);
  EXPECT_EQ(info.subsystemVendorId, 0x1458u);
  EXPECT_EQ(info.revision, "REV_A1");
  ASSERT_TRUE(ParseGPUDeviceId("anything", DISPLAY_DEVICE_REMOTE_FLAG, &info));
  EXPECT_EQ(info.vendorId, 0x45Eu);
  EXPECT_EQ(info.deviceId, 0u);
  EXPECT_EQ(info.subsystemVendorId, 0x45Eu);
  EXPECT_FALSE(ParseGPUDeviceId("ROOT\\BasicDisplay", 0, &info));
  EXPECT_FALSE(ParseGPUDeviceId("PCI\\VEN_8086&DEV_0166", 0, &info));
  EXPECT_FALSE(ParseGPUDeviceId("PCI\\VEN_XYZ&DEV_1&SUBSYS_00000000", 0, &info));
  EXPECT_FALSE(ParseGPUDeviceId(nullptr, 0, &info));
}

TEST(OpenGLTexts, ErrorTextsAndTheImplementationBlock) {
  const std::pair<uint32_t, const char*> errors[] = {
      {0, "Success"},
      {0x0500, "An invalid enumeration was specified"},
      {0x0501, "An invalid value was specified"},
      {0x0502, "An invalid operation was attempted"},
      {0x0503, "A stack overflow has occurred"},
      {0x0504, "A stack underflow has occurred"},
      {0x0505, "OpenGL memory is exhausted"},
      {0x0506, "Unrecognized OpenGL Error 506"},
  };
  for (const auto& e : errors) EXPECT_EQ(GetOpenGLErrorText(e.first), e.second);

  EXPECT_EQ(FormatOpenGLImplementation(reinterpret_cast<void*>(0x1A2B), "4.5 (Compatibility Profile) Mesa 22.3.6",
                                       "Mesa/X.org", "llvmpipe", "GL_ARB_one GL_EXT_two "),
            "OpenGL Implementation for Rendering Context 0x1A2B\n"
            "     OpenGL Version 4.5  ((Compatibility Profile) Mesa 22.3.6)\n"
            "     OpenGL Vendor 'Mesa/X.org'\n"
            "     OpenGL Renderer 'llvmpipe'\n"
            "     Available Extensions:\n"
            "          GL_ARB_one\n"
            "          GL_EXT_two\n");
  EXPECT_EQ(FormatOpenGLImplementation(nullptr, "1.1", "V", "R", nullptr),
            "OpenGL Implementation for Rendering Context 0x0\n     OpenGL Version 1.1 \n     OpenGL Vendor 'V'\n"
            "     OpenGL Renderer 'R'\n     Available Extensions:\n");
}

}  // namespace
