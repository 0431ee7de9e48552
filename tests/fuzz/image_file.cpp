// Image files through the command-line host's readers: the document
// (ReadImageFile), its embedded profile (ReadPngIccProfile) and a selection
// mask (ReadMaskFile). The input is the file. A read either fails with a
// reason or gives an image whose buffer matches its size and layout; the
// mask reader takes the same file at its own size and refuses any other.
#include "fuzz_support.h"
#include "hostkit/image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpModule();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = std::string(fuzz::Home()) + "/input.img";
  fuzz::WriteFile(path, data, size);

  std::vector<uint8_t> profile;
  std::string error;
  if (hostkit::ReadPngIccProfile(path, &profile, &error)) FUZZ_CHECK(profile.empty() || profile.size() >= 128);

  hostkit::HostImage image;
  error.clear();
  if (!hostkit::ReadImageFile(path, &image, &error)) {
    FUZZ_CHECK(!error.empty());
    std::vector<uint8_t> mask;
    FUZZ_CHECK(!hostkit::ReadMaskFile(path, 1, 1, &mask, &error));
    return 0;
  }
  FUZZ_CHECK(image.width > 0 && image.height > 0 && image.planes >= 1 && image.planes <= 4);
  FUZZ_CHECK(image.bytesPerSample == 1 || image.bytesPerSample == 2 || image.bytesPerSample == 4);
  FUZZ_CHECK(image.pixels.size() == image.rowBytes() * static_cast<size_t>(image.height));
  FUZZ_CHECK(image.iccProfile.empty() || image.iccProfile.size() >= 128);

  // The same file read again must read the same (a decoder that reads
  // memory it never wrote does not).
  std::vector<uint8_t> mask;
  if (!hostkit::ReadMaskFile(path, image.width, image.height, &mask, &error)) {
    std::fprintf(stderr, "the second read of the file failed: %s\n", error.c_str());
    std::abort();
  }
  FUZZ_CHECK(mask.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
  FUZZ_CHECK(!hostkit::ReadMaskFile(path, image.width + 1, image.height, &mask, &error));

  // The document in every mode --mode offers, for images small enough to
  // keep an iteration short.
  if (mask.size() <= 4096) {
    for (hostkit::ModeName mode : {hostkit::ModeName::kGray8, hostkit::ModeName::kRgb8, hostkit::ModeName::kGray16,
                                   hostkit::ModeName::kRgb16, hostkit::ModeName::kGray32, hostkit::ModeName::kRgb32}) {
      const hostkit::HostImage converted = hostkit::ConvertImage(image, mode);
      FUZZ_CHECK(converted.width == image.width && converted.height == image.height);
      FUZZ_CHECK(converted.pixels.size() == converted.rowBytes() * static_cast<size_t>(converted.height));
    }
    // What was read can be written in both formats (with whatever profile
    // and 16-bit file samples it carries) and reads back the same.
    static const std::string png = std::string(fuzz::Home()) + "/output.png";
    static const std::string tif = std::string(fuzz::Home()) + "/output.tif";
    for (const std::string& out : {png, tif}) {
      std::string note;
      if (!hostkit::WriteImageFile(out, image, &error, {}, &note)) {
        std::fprintf(stderr, "writing '%s' failed: %s\n", out.c_str(), error.c_str());
        std::abort();
      }
      hostkit::HostImage back;
      FUZZ_CHECK(hostkit::ReadImageFile(out, &back, &error));
      FUZZ_CHECK(back.width == image.width && back.height == image.height && back.planes == image.planes);
    }
  }
  return 0;
}
