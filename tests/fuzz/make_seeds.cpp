// Writes the seed corpora of the fuzz targets (tests/fuzz/corpus/NAME) that
// our own code can make: parameter files, settings files, descriptors, host
// state files and ICC profiles. Run from the top of the source tree:
//   build/fuzz/bin/fuzz_make_seeds tests/fuzz/corpus
// The image_file seeds are small files made once with ImageMagick (4x3
// pixels; PNG 8-bit gray, 16-bit RGBA, 8-bit RGB with an iCCP chunk of the
// sRGB seed below; TIFF 8-bit RGB, 16-bit gray, 32-bit float RGB).
#include <lcms2.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hostkit/host_state.h"
#include "params/parameter_files.h"
#include "params/registry_parameters.h"
#include "settings.h"

namespace {

using Bytes = std::vector<uint8_t>;
using hostkit::DescriptorItem;
std::string g_root;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
  const std::string path = g_root + "/" + target + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || std::fclose(file) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

Bytes FileImage(const ParameterSet& set) {
  Bytes image(PARAMETER_BUFFER_SIZE);
  MakeParameterFileImage(&set, image.data());
  return image;
}

Bytes SaveProfile(cmsHPROFILE profile, double version = 0) {
  if (version != 0) cmsSetProfileVersion(profile, version);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  Bytes bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  cmsCloseProfile(profile);
  return bytes;
}

Bytes WithMode(uint8_t mode, const Bytes& profile) {
  Bytes out{mode};
  out.insert(out.end(), profile.begin(), profile.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_ROOT\n", argv[0]);
    return 2;
  }
  g_root = argv[1];

  // Parameter and settings files: factory, extreme but current, obsolete,
  // bare, oversized.
  ParameterSet extreme = FACTORY_PARAMETER_SET;
  extreme.intensity = 32767;
  extreme.length = -32768;
  extreme.angle = -12345;
  extreme.numberOfPoints = 0;
  extreme.spikeSharpness = 1000;
  extreme.colorSaturation = -300;
  extreme.softFlareIntensity = 250;
  extreme.quantity = -1;
  Bytes obsolete = FileImage(FACTORY_PARAMETER_SET);
  obsolete[6] = 4;
  Bytes bare = FileImage(FACTORY_PARAMETER_SET);
  bare.resize(sizeof(ParameterSet));
  Bytes oversized = FileImage(FACTORY_PARAMETER_SET);
  oversized.push_back(0);
  for (const char* target : {"parameter_file", "user_settings"}) {
    Write(target, "factory", FileImage(FACTORY_PARAMETER_SET));
    Write(target, "extreme", FileImage(extreme));
    Write(target, "obsolete", obsolete);
    Write(target, "bare", bare);
    Write(target, "oversized", oversized);
  }

  // Descriptors as the module writes them, and damaged ones; first byte 1:
  // the rest is the handle's encoding.
  const hostkit::DescriptorItems complete = glimmark::BuildSettingsDescriptor({}, nullptr);
  hostkit::DescriptorItems odd =
      glimmark::BuildSettingsDescriptor({{FourCC("numP"), -7}, {FourCC("Intn"), 1e9}}, nullptr);
  odd[0] = DescriptorItem::Boolean(odd[0].key, true);
  odd.push_back(odd[3]);
  odd.push_back(DescriptorItem::RawData(PARAMETER_BLOCK_KEY, FileImage(extreme)));
  const hostkit::DescriptorItems registry = {DescriptorItem::RawData(PARAMETER_BLOCK_KEY, FileImage(extreme))};
  auto raw = [](uint8_t flags, const hostkit::DescriptorItems& items) {
    Bytes out{flags};
    const Bytes encoded = hostkit::EncodeDescriptor(items);
    out.insert(out.end(), encoded.begin(), encoded.end());
    return out;
  };
  Write("descriptor", "complete", raw(1, complete));
  Write("descriptor", "complete_silent", raw(1 | (2 << 3), complete));
  Write("descriptor", "odd", raw(1 | 2, odd));
  Write("descriptor", "registry", raw(1, registry));
  Write("descriptor", "built", {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 255, 9, 9, 9, 9});

  // Host state files without their closing checksum.
  auto state = [](const hostkit::HostState& s) {
    Bytes bytes = hostkit::EncodeHostState(s);
    bytes.resize(bytes.size() - 4);
    return bytes;
  };
  hostkit::HostState full;
  full.hasLastDescriptor = true;
  full.lastDescriptor = complete;
  full.registry.push_back({PARAMETER_REGISTRY_KEY, registry});
  full.registry.push_back({"other", {DescriptorItem::Integer(FourCC("vers"), 2)}});
  hostkit::HostState odd_state;
  odd_state.hasLastDescriptor = true;
  odd_state.lastDescriptor = odd;
  Write("host_state", "empty", state(hostkit::HostState()));
  Write("host_state", "full", state(full));
  Write("host_state", "odd", state(odd_state));

  // ICC profiles; first byte: the document mode (0..5: gray8, rgb8, gray16,
  // rgb16, rgb32, gray32).
  cmsToneCurve* gamma22 = cmsBuildGamma(nullptr, 2.2);
  uint16_t table[16];
  for (int i = 0; i < 16; ++i) table[i] = static_cast<uint16_t>(i * i * 291);
  cmsToneCurve* tabulated = cmsBuildTabulatedToneCurve16(nullptr, 16, table);
  cmsToneCurve* curves[3] = {gamma22, tabulated, gamma22};
  const cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  const Bytes srgb = SaveProfile(cmsCreate_sRGBProfile());
  Write("icc_profile", "srgb_rgb8", WithMode(1, srgb));
  Write("icc_profile", "srgb_gray16", WithMode(2, srgb));
  cmsToneCurve* plain[3] = {gamma22, gamma22, gamma22};
  Write("icc_profile", "gamma_v2_rgb32", WithMode(4, SaveProfile(cmsCreateRGBProfile(&d65, &primaries, plain), 2.1)));
  Write("icc_profile", "gray_gray8", WithMode(0, SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), gamma22))));
  Write("icc_profile", "gray_table_gray32", WithMode(5, SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), tabulated))));
  Write("icc_profile", "gray_rgb16", WithMode(3, SaveProfile(cmsCreateGrayProfile(cmsD50_xyY(), gamma22))));
  Write("icc_profile", "mixed_curves_rgb16", WithMode(3, SaveProfile(cmsCreateRGBProfile(&d65, &primaries, curves))));
  Write("icc_profile", "lab_rgb8", WithMode(1, SaveProfile(cmsCreateLab4Profile(nullptr))));
  cmsFreeToneCurve(gamma22);
  cmsFreeToneCurve(tabulated);
  return 0;
}
