// glimmark: applies the filter module to a PNG file from the command line,
// as an image editor would, or shows its About box.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "hostkit/host.h"
#include "hostkit/image.h"
#include "hostkit/module.h"

namespace {

const char kUsage[] =
    "usage: glimmark apply IN.png OUT.png [--module PATH] [--dialog]\n"
    "       glimmark about [--module PATH]\n"
    "       glimmark --help\n"
    "\n"
    "apply    runs the filter on IN.png and writes OUT.png (only when it succeeds).\n"
    "         Without --dialog the filter runs with its stored settings, like an\n"
    "         editor repeating the last filter; --dialog asks for settings first.\n"
    "about    shows the module's About box.\n"
    "--module the filter module to load (default: the one next to glimmark).\n";

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

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> positional;
  std::string modulePath;
  bool dialog = false;
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

  if (command == "apply") {
    if (positional.size() != 3) return Usage("apply needs an input and an output file");
    const std::string& input = positional[1];
    const std::string& output = positional[2];
    hostkit::HostImage image;
    std::string reason;
    if (!hostkit::ReadPng(input, &image, &reason)) return Fail("cannot read '" + input + "': " + reason);
    hostkit::Module module;
    std::string message;
    if (!LoadModule(modulePath, &module, &message)) return Fail(message);
    hostkit::Host host(module.entry());
    host.SetImage(std::move(image));
    const int16_t status = host.RunFilter(dialog);
    if (status != noErr) return Fail(FilterFailure(host, status));
    if (!hostkit::WritePng(output, host.image(), &reason)) return Fail("cannot write '" + output + "': " + reason);
    return 0;
  }

  return Usage("unknown command '" + command + "'");
}
