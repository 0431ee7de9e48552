// Writes the plug-in's built-in grayscale profile with Little CMS.
//
//   gray_profile_generator <profile.icc> <profile_data.cpp>
//
// The build runs this program with the machine's own compiler and the system
// Little CMS (the Windows builds are cross builds and cannot run what they
// compile). It writes the profile's bytes once as a file, which the Windows
// resources embed as RCDATA 243, and once as a C++ array for the portable
// code. The output depends only on this source: the header's creation date,
// the one field Little CMS fills from the clock, is fixed.
#include <lcms2.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Device code (0..255) to relative luminance (0..65535): a linear toe that
// turns into a power curve, so that mid-grey 128 sits at 0.302 of full scale.
const cmsUInt16Number kGrayCurve[256] = {
    0,     16,    32,    48,    64,    80,    97,    127,   160,   197,   236,   279,   324,   373,   424,   478,
    534,   594,   656,   720,   787,   857,   929,   1004,  1081,  1160,  1242,  1326,  1413,  1502,  1593,  1686,
    1782,  1879,  1979,  2082,  2186,  2292,  2401,  2512,  2625,  2740,  2857,  2976,  3098,  3221,  3346,  3474,
    3603,  3734,  3868,  4003,  4140,  4280,  4421,  4564,  4709,  4856,  5005,  5156,  5309,  5463,  5620,  5778,
    5938,  6100,  6264,  6430,  6598,  6767,  6939,  7112,  7286,  7463,  7642,  7822,  8004,  8188,  8373,  8561,
    8750,  8941,  9133,  9328,  9524,  9721,  9921,  10122, 10325, 10530, 10736, 10944, 11154, 11365, 11578, 11793,
    12010, 12228, 12448, 12669, 12892, 13117, 13343, 13571, 13801, 14032, 14265, 14500, 14736, 14974, 15213, 15454,
    15697, 15941, 16187, 16435, 16684, 16934, 17186, 17440, 17695, 17952, 18211, 18471, 18733, 18996, 19260, 19527,
    19795, 20064, 20335, 20607, 20881, 21157, 21434, 21713, 21993, 22274, 22558, 22842, 23128, 23416, 23705, 23996,
    24288, 24582, 24877, 25174, 25472, 25772, 26073, 26376, 26680, 26985, 27293, 27601, 27911, 28223, 28536, 28850,
    29166, 29483, 29802, 30122, 30444, 30767, 31092, 31418, 31745, 32074, 32405, 32737, 33070, 33404, 33741, 34078,
    34417, 34757, 35099, 35442, 35787, 36133, 36481, 36829, 37180, 37531, 37885, 38239, 38595, 38952, 39311, 39671,
    40032, 40395, 40759, 41125, 41492, 41861, 42230, 42601, 42974, 43348, 43723, 44100, 44478, 44857, 45238, 45620,
    46004, 46388, 46775, 47162, 47551, 47941, 48333, 48726, 49120, 49516, 49913, 50311, 50711, 51112, 51515, 51918,
    52323, 52730, 53138, 53547, 53957, 54369, 54782, 55196, 55612, 56029, 56447, 56867, 57288, 57710, 58134, 58559,
    58985, 59412, 59841, 60271, 60703, 61136, 61570, 62005, 62442, 62880, 63319, 63760, 64202, 64645, 65089, 65535,
};

// ICC header: the creation date is six big-endian 16-bit numbers at offset 24.
constexpr size_t kDateOffset = 24;
const unsigned char kFixedDate[12] = {0x07, 0xD9, 0x00, 0x01, 0x00, 0x01, 0, 0, 0, 0, 0, 0};  // 2009-01-01 00:00:00

void LogLittleCmsError(cmsContext, cmsUInt32Number code, const char* text) {
  std::fprintf(stderr, "gray_profile_generator: Little CMS error %u: %s\n", code, text);
}

bool WriteText(cmsHPROFILE profile, cmsTagSignature tag, const char* text) {
  cmsMLU* mlu = cmsMLUalloc(nullptr, 1);
  if (mlu == nullptr) return false;
  const bool ok = cmsMLUsetASCII(mlu, "en", "US", text) && cmsWriteTag(profile, tag, mlu);
  cmsMLUfree(mlu);
  return ok;
}

bool BuildProfile(std::vector<unsigned char>* bytes) {
  cmsHPROFILE profile = cmsCreateProfilePlaceholder(nullptr);
  if (profile == nullptr) return false;
  cmsSetProfileVersion(profile, 2.1);
  cmsSetDeviceClass(profile, cmsSigOutputClass);
  cmsSetColorSpace(profile, cmsSigGrayData);
  cmsSetPCS(profile, cmsSigXYZData);
  cmsSetHeaderRenderingIntent(profile, INTENT_PERCEPTUAL);

  const cmsCIEXYZ white = {0.9642, 1.0, 0.8249};  // D50
  const cmsCIEXYZ black = {0.0, 0.0, 0.0};
  cmsToneCurve* curve = cmsBuildTabulatedToneCurve16(nullptr, 256, kGrayCurve);
  bool ok = curve != nullptr && WriteText(profile, cmsSigCopyrightTag, "Copyright (c) Brightwerk Software") &&
            WriteText(profile, cmsSigProfileDescriptionTag, "Default Grayscale Profile") &&
            cmsWriteTag(profile, cmsSigMediaWhitePointTag, &white) &&
            cmsWriteTag(profile, cmsSigMediaBlackPointTag, &black) && cmsWriteTag(profile, cmsSigGrayTRCTag, curve);
  if (curve != nullptr) cmsFreeToneCurve(curve);

  cmsUInt32Number size = 0;
  if (ok) ok = cmsSaveProfileToMem(profile, nullptr, &size) && size > kDateOffset + sizeof kFixedDate;
  if (ok) {
    bytes->resize(size);
    ok = cmsSaveProfileToMem(profile, bytes->data(), &size) && size == bytes->size();
  }
  cmsCloseProfile(profile);
  if (ok) std::memcpy(bytes->data() + kDateOffset, kFixedDate, sizeof kFixedDate);
  return ok;
}

bool WriteFile(const char* path, const void* data, size_t size) {
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

bool WriteArraySource(const char* path, const std::vector<unsigned char>& bytes) {
  std::string text =
      "// Generated by gray_profile_generator at build time; do not edit.\n"
      "#include \"color/builtin_profile.h\"\n\n"
      "const unsigned char BUILTIN_GRAY_PROFILE[] = {";
  char number[8];
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i % 16 == 0) text += "\n   ";
    std::snprintf(number, sizeof number, " %u,", static_cast<unsigned>(bytes[i]));
    text += number;
  }
  text += "\n};\nconst size_t BUILTIN_GRAY_PROFILE_SIZE = sizeof BUILTIN_GRAY_PROFILE;\n";
  return WriteFile(path, text.data(), text.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: gray_profile_generator <profile.icc> <profile_data.cpp>\n");
    return 2;
  }
  cmsSetLogErrorHandler(LogLittleCmsError);
  std::vector<unsigned char> bytes;
  if (!BuildProfile(&bytes)) {
    std::fprintf(stderr, "gray_profile_generator: could not build the profile\n");
    return 1;
  }
  if (!WriteFile(argv[1], bytes.data(), bytes.size()) || !WriteArraySource(argv[2], bytes)) {
    std::fprintf(stderr, "gray_profile_generator: could not write %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
