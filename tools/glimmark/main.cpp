// glimmark: applies the filter module to an image file from the command
// line, as an image editor would, or shows its About box.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analyze.h"
#include "hostkit/host.h"
#include "hostkit/image.h"
#include "hostkit/module.h"

namespace {

const char kUsage[] =
    "usage: glimmark apply IN OUT [--module PATH] [--dialog] [--mode MODE] [--mask MASK] [--profile ICC] [--tile N]\n"
    "       glimmark analyze IN [--mode MODE] [--profile ICC]\n"
    "       glimmark about [--module PATH]\n"
    "       glimmark --help\n"
    "\n"
    "apply    runs the filter on IN and writes OUT (only when it succeeds).\n"
    "         Files: PNG (8 or 16 bits; gray, gray+alpha, RGB, RGBA; alpha is the\n"
    "         transparency plane) and Radiance .hdr (float RGB). OUT is .hdr by\n"
    "         its name, otherwise PNG in the image's depth (16 bits for 16- and\n"
    "         32-bit modes).\n"
    "         Without --dialog the filter runs with its stored settings, like an\n"
    "         editor repeating the last filter; --dialog asks for settings first.\n"
    "analyze  finds the highlights of IN and prints the ranked light source table\n"
    "         (positions in pixels, diameter, brightness; \"(D)\" marks hidden ones).\n"
    "about    shows the module's About box.\n"
    "--module the filter module to load (default: the one next to glimmark).\n"
    "--mode   gray8, rgb8, gray16, rgb16, gray32 or rgb32: the document mode the\n"
    "         filter sees (default: the input file's).\n"
    "--mask   a selection: an image of the same size, its gray value per pixel.\n"
    "--profile the document's colour profile, an ICC file (default: the one\n"
    "         embedded in IN, if any).\n"
    "--tile   the tile size the host suggests (0 = none suggested; default 512).\n";

int Fail(const std::string& message) {
  std::fprintf(stderr, "glimmark: %s\n", message.c_str());
  return 1;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "glimmark: %s\n%s", message.c_str(), kUsage);
  return 2;
}

std::string FilterFailure(const hostkit::Host& host, int16_t status) {
  if (status == userCanceledErr) return "the filter was cancelled";
  std::string message = "the filter failed with status " + std::to_string(status);
  std::string detail = status == errReportString ? host.ErrorStringText() : host.stats().lastErrorSuiteText;
  if (!detail.empty()) message += " (" + detail + ")";
  return message;
}

bool LoadModule(const std::string& path, hostkit::Module* module, std::string* message) {
  std::string reason;
  if (module->Load(path, &reason)) return true;
  *message = "cannot load module '" + path + "': " + reason;
  return false;
}

bool IsHdrName(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".hdr";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::string modulePath;
  bool dialog = false;
  std::string maskPath;
  std::string profilePath;
  hostkit::ModeName mode = hostkit::ModeName::kFromFile;
  int tile = 512;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--module") {
      if (i + 1 >= argc) return Usage("--module needs a path");
      modulePath = argv[++i];
    } else if (arg == "--dialog") {
      dialog = true;
    } else if (arg == "--mode") {
      if (i + 1 >= argc) return Usage("--mode needs a mode name");
      if (!hostkit::ParseModeName(argv[++i], &mode)) return Usage("unknown mode '" + std::string(argv[i]) + "'");
    } else if (arg == "--mask") {
      if (i + 1 >= argc) return Usage("--mask needs a file name");
      maskPath = argv[++i];
    } else if (arg == "--profile") {
      if (i + 1 >= argc) return Usage("--profile needs a file name");
      profilePath = argv[++i];
    } else if (arg == "--tile") {
      if (i + 1 >= argc) return Usage("--tile needs a number");
      const std::string text = argv[++i];
      char* end = nullptr;
      const long value = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || value < 0 || value > 32767)
        return Usage("--tile takes a number from 0 to 32767, not '" + text + "'");
      tile = static_cast<int>(value);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option '" + arg + "'");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) return Usage("no command given");
  if (modulePath.empty()) modulePath = hostkit::Module::DefaultPath();
  const std::string& command = positional[0];

  if (command == "about") {
    if (positional.size() != 1) return Usage("about takes no file names");
    hostkit::Module module;
    std::string message;
    if (!LoadModule(modulePath, &module, &message)) return Fail(message);
    hostkit::Host host(module.entry());
    const int16_t status = host.CallAbout();
    return status == noErr ? 0 : Fail("the About box failed with status " + std::to_string(status));
  }

  if (command == "analyze") {
    if (positional.size() != 2) return Usage("analyze needs an input file");
    hostkit::HostImage image;
    std::string reason;
    if (!hostkit::ReadImageFile(positional[1], &image, &reason))
      return Fail("cannot read '" + positional[1] + "': " + reason);
    image = hostkit::ConvertImage(image, mode);
    if (image.empty()) return Fail("not enough memory to convert '" + positional[1] + "'");
    if (!profilePath.empty() && !hostkit::ReadIccFile(profilePath, &image.iccProfile, &reason))
      return Fail("cannot use profile '" + profilePath + "': " + reason);
    if (AnalyzeDocument(image, stdout, &reason) != 0) return Fail(reason);
    return 0;
  }

  if (command == "apply") {
    if (positional.size() != 3) return Usage("apply needs an input and an output file");
    const std::string& input = positional[1];
    const std::string& output = positional[2];
    hostkit::HostImage image;
    std::string reason;
    if (!hostkit::ReadImageFile(input, &image, &reason)) return Fail("cannot read '" + input + "': " + reason);
    image = hostkit::ConvertImage(image, mode);
    if (image.empty()) return Fail("not enough memory to convert '" + input + "'");
    const bool sixteenBitOut = image.bytesPerSample != 1 && !IsHdrName(output);
    if (sixteenBitOut && !hostkit::CanWrite16BitPng())
      return Fail("this build cannot write 16-bit PNG files; name the output .hdr or use an 8-bit --mode");
    if (!profilePath.empty() && !hostkit::ReadIccFile(profilePath, &image.iccProfile, &reason))
      return Fail("cannot use profile '" + profilePath + "': " + reason);
    std::vector<uint8_t> mask;
    if (!maskPath.empty() && !hostkit::ReadMaskFile(maskPath, image.width, image.height, &mask, &reason))
      return Fail("cannot use mask '" + maskPath + "': " + reason);
    hostkit::Module module;
    std::string message;
    if (!LoadModule(modulePath, &module, &message)) return Fail(message);
    hostkit::HostOptions options;
    options.tileWidth = options.tileHeight = static_cast<int16_t>(tile);
    hostkit::Host host(module.entry(), options);
    host.SetImage(std::move(image));
    host.SetMask(std::move(mask));
    const int16_t status = host.RunFilter(dialog);
    if (status != noErr) return Fail(FilterFailure(host, status));
    if (!hostkit::WriteImageFile(output, host.image(), &reason))
      return Fail("cannot write '" + output + "': " + reason);
    return 0;
  }

  return Usage("unknown command '" + command + "'");
}
