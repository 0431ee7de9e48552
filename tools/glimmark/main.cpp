// glimmark: applies the filter module to an image file from the command
// line, as an image editor would, or shows its About box.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "analyze.h"
#include "console.h"
#include "hostkit/host.h"
#include "hostkit/host_platform.h"
#include "hostkit/host_state.h"
#include "hostkit/image.h"
#include "hostkit/module.h"
#include "messages.h"
#include "profile_check.h"
#include "progress.h"
#include "settings.h"
#include "timings.h"

namespace {

const char kUsageHead[] =
    "usage: glimmark apply IN OUT [--module PATH] [--dialog] [--mode MODE] [--mask MASK] [--profile ICC] [--tile N]\n"
    "                     [--quantity P] [--intensity P] [--length P] [--angle DEG] [--points N]\n"
    "                     [--sharpness P] [--saturation P] [--flare P]\n"
    "                     [--no-registry] [--print-descriptor] [--save-descriptor FILE] [--timings]\n"
    "                     [--repeat N]\n"
    "       glimmark analyze IN [--mode MODE] [--profile ICC]\n"
    "       glimmark about [--module PATH]\n"
    "       glimmark options [--module PATH]\n"
    "       glimmark --help\n"
    "\n"
    "apply    runs the filter on IN and writes OUT (only when it succeeds).\n"
    "         Files: PNG (8 or 16 bits) and TIFF (8 or 16 bits, 32-bit float);\n"
    "         gray, gray+alpha, RGB, RGBA; alpha is the transparency plane. OUT\n"
    "         is TIFF in the image's depth when named .tif or .tiff, otherwise\n"
    "         PNG (16 bits for 16- and 32-bit modes, floats clamped to 0..1).\n"
    "         Settings reach the filter as a host replays a recorded action: a\n"
    "         descriptor of all eight settings, with no dialog. A setting not\n"
    "         given takes its value from the descriptor the filter wrote back at\n"
    "         the end of the last successful apply, else its factory value. With\n"
    "         no setting given and no earlier run recorded, the filter runs with\n"
    "         its own stored settings, like an editor repeating the last filter.\n"
    "         --dialog asks for settings first (and the descriptor, if any, is\n"
    "         passed with the dialog requested). Cancel in the dialog ends with\n"
    "         exit status 2 and OUT not written.\n"
    "         Progress shows on stderr when it is a terminal; Ctrl+C (or SIGTERM)\n"
    "         stops the filter or the writing of OUT (exit status 130, OUT not\n"
    "         written, an old OUT kept). A warning on stderr says when the filter\n"
    "         will not use the document's profile (damaged, or not suiting the\n"
    "         image) and what it uses instead.\n"
    "analyze  finds the highlights of IN and prints the ranked light source table\n"
    "         (positions in pixels, diameter, brightness; \"(D)\" marks hidden ones).\n"
    "about    shows the module's About box.\n"
    "options  shows the module's options dialog, as a start-menu shortcut\n"
    "         does (Windows modules only). Exit status 0 for OK, 2 for Cancel\n"
    "         or when an options dialog already open was brought to the front.\n"
    "--module the filter module to load (default: the one next to glimmark).\n"
    "--mode   gray8, rgb8, gray16, rgb16, gray32 or rgb32: the document mode the\n"
    "         filter sees (default: the input file's).\n"
    "--mask   a selection: an image of the same size, its gray value per pixel.\n"
    "--profile the document's colour profile, an ICC file (default: the one\n"
    "         embedded in IN, if any).\n"
    "--tile   the tile size the host suggests (0 = none suggested; default 512).\n";

// After the settings, which the module's parameter table describes.
const char kUsageTail[] =
    "--no-registry  offer the filter no descriptor registry, as a host without\n"
    "         one; the stored registry entries are neither read nor changed.\n"
    "--print-descriptor  prints the descriptor the filter wrote back, one\n"
    "         \"key value\" line per item (four-character key, number).\n"
    "--save-descriptor FILE  saves it as text: a line \"# glimmark descriptor\",\n"
    "         then the lines --print-descriptor prints (replacing FILE whole;\n"
    "         anything but a regular file there is refused before the run).\n"
    "--timings prints to stderr the time of each phase of the run as the filter\n"
    "         measured it (or, from a filter that does not, the host's split of\n"
    "         it), the total of Start and of the run, and the file decoding\n"
    "         and encoding times, which are not part of the run; natively\n"
    "         also the run's peak resident memory.\n"
    "--repeat N  runs the filter N times on the same document in this\n"
    "         process (a benchmark's steady state); each run's times are\n"
    "         printed, and the last run's result is written.\n"
    "State: the descriptor registry and the last written-back descriptor are\n"
    "kept in host-state.bin in $XDG_CONFIG_HOME/glimmark (else\n"
    "$HOME/.config/glimmark; %APPDATA%\\glimmark on Windows), saved after each\n"
    "successful apply. A damaged file is ignored with a warning and replaced;\n"
    "a folder, pipe or device in its place is left alone with a warning.\n"
    "Exit status: 0 success, 1 failure, 2 usage error, 130 interrupted.\n";

std::string UsageText() { return kUsageHead + glimmark::SettingsHelp() + kUsageTail; }

constexpr int kInterruptedStatus = 130;
constexpr int kCancelledStatus = 2;  // Cancel in the dialog

int Fail(const std::string& message) {
  std::fprintf(stderr, "glimmark: %s\n", message.c_str());
  return 1;
}

void Warn(const std::string& message) { std::fprintf(stderr, "glimmark: warning: %s\n", message.c_str()); }

// The options dialog through the export a start-menu shortcut calls.
int RunOptionsEntry(const hostkit::Module& module) {
#ifdef _WIN32
  using ConfigureOptionsProc = int(__stdcall*)(void*, void*, char*, int);
  void* symbol = module.Symbol("ConfigureOptions");
  if (symbol == nullptr) return Fail("the module has no options dialog");
  char commandLine[] = "";
  const int chosen = reinterpret_cast<ConfigureOptionsProc>(symbol)(nullptr, nullptr, commandLine, 1);
  return chosen == 1 ? 0 : 2;
#else
  (void)module;
  return Fail("the module has no options dialog: modules without windows have none");
#endif
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "glimmark: %s\n%s", message.c_str(), UsageText().c_str());
  return 2;
}

std::string FilterFailure(const hostkit::Host& host, int16_t status) {
  if (status == userCanceledErr) return "the filter was cancelled";
  const std::string detail = status == errReportString ? host.ErrorStringText() : host.stats().lastErrorSuiteText;
  if (status == errReportString && !detail.empty()) return "the filter failed: " + detail;
  std::string message = "the filter failed: " + glimmark::StatusWords(status);
  if (!detail.empty()) message += " (" + detail + ")";
  return message;
}

// "cannot read 'x.png': cause", never with an empty cause: a library that
// gave no reason leaves the system's (errno is cleared before each call).
std::string FileFailure(const std::string& what, const std::string& path, const std::string& reason, int error) {
  return what + " '" + path + "': " + glimmark::CauseText(reason, error);
}

bool LoadModule(const std::string& path, hostkit::Module* module, std::string* message) {
  std::string reason;
  errno = 0;
  if (module->Load(path, &reason)) return true;
  *message = FileFailure("cannot load module", path, reason, errno);
  return false;
}

// Reads the document and its profile, as apply and analyze both do; false
// with the message.
bool ReadDocument(const std::string& input, hostkit::ModeName mode, const std::string& profilePath,
                  hostkit::HostImage* image, std::string* message) {
  std::string reason;
  errno = 0;
  if (!hostkit::ReadImageFile(input, image, &reason)) {
    *message = FileFailure("cannot read", input, reason, errno);
    return false;
  }
  *image = hostkit::ConvertImage(*image, mode);
  if (image->empty()) {
    *message = "not enough memory to convert '" + input + "'";
    return false;
  }
  if (!image->profileProblem.empty() && profilePath.empty())
    Warn("'" + input + "': " + image->profileProblem + "; it is read without it");
  errno = 0;
  if (!profilePath.empty() && !hostkit::ReadIccFile(profilePath, &image->iccProfile, &reason)) {
    *message = FileFailure("cannot use profile", profilePath, reason, errno);
    return false;
  }
  return true;
}

// The plug-in replaces a profile it cannot use and says so only in its log.
void WarnAboutProfile(const hostkit::HostImage& image, const std::string& input, const std::string& profilePath) {
  const std::string name = profilePath.empty() ? "embedded in '" + input + "'" : "'" + profilePath + "'";
  const std::string warning = DocumentProfileWarning(image, name);
  if (!warning.empty()) Warn(warning);
}

// The whole text as a decimal number from low to high.
bool WholeNumberIn(const std::string& text, int low, int high, int* value) {
  char* end = nullptr;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || parsed < low || parsed > high) return false;
  *value = static_cast<int>(parsed);
  return true;
}


struct ApplyRequest {
  std::string input, output, modulePath, maskPath, profilePath;
  hostkit::ModeName mode = hostkit::ModeName::kFromFile;
  int tile = 512;
  bool dialog = false;
  std::map<DescriptorKeyID, double> settings;
  bool noRegistry = false;
  bool printDescriptor = false;
  std::string descriptorFile;
  bool timings = false;
  int repeat = 1;
};

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string StateFilePath() {
  const std::string folder = glimmark::ConfigFolder();
  return folder.empty() ? std::string() : folder + glimmark::FolderSeparator() + "host-state.bin";
}

// The phase file the module fills when asked to through the environment;
// removed, and the variable dropped, when the run is over.
class PhaseTimesFile {
 public:
  bool Open() {
    path_ = glimmark::CreateTemporaryFile();
    if (path_.empty()) return false;
    if (glimmark::SetEnvironmentValue(glimmark::kPhaseTimesVariable, path_)) return true;
    hostkit::RemoveFileQuietly(path_);
    path_.clear();
    return false;
  }
  ~PhaseTimesFile() {
    if (path_.empty()) return;
    glimmark::UnsetEnvironmentValue(glimmark::kPhaseTimesVariable);
    hostkit::RemoveFileQuietly(path_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// What a run of the filter cost: resident memory before it and its peak.
struct RunMemory {
  bool known = false;
  uint64_t before = 0;
  uint64_t peak = 0;
};

std::string Format(const char* format, double a, double b = 0, double c = 0, double d = 0) {
  char line[256];
  std::snprintf(line, sizeof line, format, a, b, c, d);
  return line;
}

// The lines --timings prints for one run: its phases from the filter's
// phase file (else the host's split), the selector totals from the calls
// from `firstCall` on, and the run's resident memory.
std::string RunTimings(const hostkit::Host& host, const std::string& phaseFile, size_t firstCall,
                       const RunMemory& memory) {
  std::string text;
  std::vector<glimmark::PhaseTime> phases;
  if (!phaseFile.empty()) phases = glimmark::ReadPhaseTimes(phaseFile);
  if (phases.empty()) {
    phases = glimmark::HostSideSplit(host.stats().advanceStates);
    if (phases.empty())
      text += "(the filter reported no phases and served no image data)\n";
    else
      text += "(the filter reported no phases; the host's split follows)\n";
  }
  for (const glimmark::PhaseTime& phase : phases) text += phase.name + Format(": %.1f ms\n", phase.milliseconds);
  double run = 0, start = 0;
  const std::vector<hostkit::SelectorCall>& calls = host.stats().selectors;
  for (size_t i = firstCall; i < calls.size(); ++i) {
    run += calls[i].seconds;
    if (calls[i].selector == filterSelectorStart) start += calls[i].seconds;
  }
  text += Format("start total: %.1f ms\n", start * 1000);
  text += Format("run total: %.1f ms\n", run * 1000);
  if (memory.known) {
    const hostkit::HostImage& image = host.image();
    const double imageBytes = static_cast<double>(image.pixels.size());
    const double mb = 1024.0 * 1024.0;
    text += Format(
        "memory: peak %.1f MB resident during the run, %.1f MB before it (the document: %.1f MB in host "
        "layout)\n",
        memory.peak / mb, memory.before / mb, imageBytes / mb);
    if (imageBytes > 0)
      text += Format("memory: the run added %.2f x the document's size at its peak\n",
                     (static_cast<double>(memory.peak) - static_cast<double>(memory.before)) / imageBytes);
  }
  return text;
}

int Apply(const ApplyRequest& request) {
  hostkit::HostImage image;
  std::string reason;
  // From here on Ctrl+C and SIGTERM stop the work and leave OUT alone.
  glimmark::InstallInterruptHandler();
  const auto interrupted = [&request] {
    std::fprintf(stderr, "glimmark: interrupted; '%s' was not written\n", request.output.c_str());
    return kInterruptedStatus;
  };
  const Clock::time_point decodeStart = Clock::now();
  if (!ReadDocument(request.input, request.mode, request.profilePath, &image, &reason)) return Fail(reason);
  if (!hostkit::CanWriteImageFile(request.output, &reason))
    return Fail("cannot write '" + request.output + "': " + reason);
  std::vector<uint8_t> mask;
  reason.clear();
  errno = 0;
  if (!request.maskPath.empty() &&
      !hostkit::ReadMaskFile(request.maskPath, image.width, image.height, &mask, &reason))
    return Fail(FileFailure("cannot use mask", request.maskPath, reason, errno));
  const double decodeMs = MillisecondsSince(decodeStart);
  WarnAboutProfile(image, request.input, request.profilePath);
  for (const auto& given : request.settings) {
    const glimmark::SettingOption* option = glimmark::kSettingOptions;
    while (option->key != given.first) ++option;
    const std::string note = glimmark::SettingDrawnNote(*option, given.second);
    if (!note.empty()) Warn(note);
  }
  // A descriptor file that could never be written fails now, not after the run.
  const std::string descriptorProblem =
      request.descriptorFile.empty() ? std::string() : hostkit::ReplaceabilityProblem(request.descriptorFile);
  if (!descriptorProblem.empty())
    return Fail("cannot write the descriptor file '" + request.descriptorFile + "': " + descriptorProblem);
  if (glimmark::InterruptRequested()) return interrupted();

  // What this host remembers from earlier sessions.
  const std::string statePath = StateFilePath();
  hostkit::HostState state;
  reason.clear();
  if (statePath.empty()) {
    Warn("no configuration folder (HOME is not set); settings are not kept between runs");
  } else if (hostkit::LoadHostState(statePath, &state, &reason) == hostkit::StateLoad::kUnusable) {
    Warn(FileFailure("ignoring the host state file", statePath, reason, 0));
    state = hostkit::HostState();
  }

  PhaseTimesFile phaseTimes;
  if (request.timings && !phaseTimes.Open())
    Warn("cannot create a file for the filter's phase times; the host's split is shown instead");

  hostkit::Module module;
  std::string message;
  if (!LoadModule(request.modulePath, &module, &message)) return Fail(message);

  glimmark::ProgressBar bar(stderr);
  const bool showProgress = glimmark::StderrIsTerminal();
  hostkit::HostOptions options;
  options.tileWidth = options.tileHeight = static_cast<int16_t>(request.tile);
  options.offerDescriptorSuites = !request.noRegistry;
  options.abortRequested = [] { return glimmark::InterruptRequested(); };
  if (showProgress) options.progressSink = [&bar](int32_t done, int32_t total) { bar.Update(done, total); };
  hostkit::Host host(module.entry(), options);
  host.SetImage(std::move(image));
  host.SetMask(std::move(mask));
  if (!request.noRegistry)
    for (const hostkit::RegistryRecord& record : state.registry) host.SetRegistryEntry(record.key, record.items, true);
  // A replayed action: every setting, with the dialog only when asked for.
  if (!request.settings.empty() || state.hasLastDescriptor) {
    host.SetScriptDescriptor(glimmark::BuildSettingsDescriptor(
        request.settings, state.hasLastDescriptor ? &state.lastDescriptor : nullptr));
    host.SetPlayInfo(request.dialog ? plugInDialogDisplay : plugInDialogDontDisplay);
  }

  // --repeat runs the filter again on the same document, in this process:
  // later runs show the steady state, without first touches of memory.
  hostkit::HostImage original;
  if (request.repeat > 1) original = host.image();
  std::string timingText;
  for (int run = 1; run <= request.repeat; ++run) {
    if (run > 1) host.SetImage(hostkit::HostImage(original));
    const size_t firstCall = host.stats().selectors.size();
    RunMemory memory;
    if (request.timings && glimmark::ResetResidentPeak()) {
      uint64_t ignored = 0;
      memory.known = glimmark::ResidentMemory(&memory.before, &ignored);
    }
    const int16_t status = host.RunFilter(request.dialog);
    if (memory.known) {
      uint64_t now = 0;
      memory.known = glimmark::ResidentMemory(&now, &memory.peak);
    }
    if (showProgress) bar.Clear();
    if (glimmark::InterruptRequested()) return interrupted();
    if (status == userCanceledErr) {
      // The user said no in the dialog: nothing to write, and a script can
      // tell this from a failure.
      Fail(FilterFailure(host, status));
      return kCancelledStatus;
    }
    if (status != noErr) return Fail(FilterFailure(host, status));
    if (request.timings) {
      if (request.repeat > 1) timingText += Format("run %.0f of %.0f\n", run, request.repeat);
      timingText += RunTimings(host, phaseTimes.path(), firstCall, memory);
    }
  }

  hostkit::DescriptorItems written;
  const bool wroteBack = host.GetScriptDescriptor(&written);
  const Clock::time_point encodeStart = Clock::now();
  if (glimmark::InterruptRequested()) return interrupted();
  reason.clear();
  errno = 0;
  std::string writeNote;
  if (!hostkit::WriteImageFile(
          request.output, host.image(), &reason, [] { return glimmark::InterruptRequested(); }, &writeNote)) {
    if (glimmark::InterruptRequested() || reason == "cancelled") return interrupted();
    return Fail(FileFailure("cannot write", request.output, reason, errno));
  }
  if (!writeNote.empty()) Warn("'" + request.output + "': " + writeNote);
  const double encodeMs = MillisecondsSince(encodeStart);

  if (!statePath.empty()) {
    if (wroteBack) {
      state.hasLastDescriptor = true;
      state.lastDescriptor = written;
    }
    if (!request.noRegistry) {
      state.registry.clear();
      for (const auto& entry : host.registry())
        if (entry.second.second) state.registry.push_back({entry.first, entry.second.first});
    }
    reason.clear();
    if (!hostkit::SaveHostState(statePath, state, &reason))
      Warn(FileFailure("cannot save the host state file", statePath, reason, 0) +
           "; the settings of this run are not kept");
  }

  if (request.timings) {
    std::fprintf(stderr, "decode: %.1f ms (reading the file; not part of the run)\n", decodeMs);
    std::fputs(timingText.c_str(), stderr);
    std::fprintf(stderr, "encode: %.1f ms (writing the file; not part of the run)\n", encodeMs);
  }
  if ((request.printDescriptor || !request.descriptorFile.empty()) && !wroteBack)
    return Fail("the filter wrote back no descriptor");
  if (request.printDescriptor) std::fputs(glimmark::DescriptorLines(written).c_str(), stdout);
  reason.clear();
  if (!request.descriptorFile.empty() && !glimmark::SaveDescriptorText(request.descriptorFile, written, &reason))
    return Fail(FileFailure("cannot write the descriptor file", request.descriptorFile, reason, 0));
  return 0;
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
  std::map<DescriptorKeyID, double> settings;
  bool noRegistry = false;
  bool printDescriptor = false;
  std::string descriptorFile;
  bool timings = false;
  int repeat = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(UsageText().c_str(), stdout);
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
    } else if (arg == "--repeat" || arg == "--tile") {
      const int low = arg == "--repeat" ? 1 : 0, high = arg == "--repeat" ? 1000 : 32767;
      if (i + 1 >= argc) return Usage(arg + " needs a number");
      const std::string text = argv[++i];
      int value = 0;
      if (!WholeNumberIn(text, low, high, &value))
        return Usage(arg + " takes a number from " + std::to_string(low) + " to " + std::to_string(high) + ", not '" +
                     text + "'");
      (arg == "--repeat" ? repeat : tile) = value;
    } else if (const glimmark::SettingOption* setting = glimmark::FindSettingOption(arg)) {
      if (i + 1 >= argc) return Usage(arg + " needs a number");
      const std::string text = argv[++i];
      double value = 0;
      if (!glimmark::ParseSettingValue(*setting, text, &value))
        return Usage(glimmark::SettingValueRefusal(*setting, text));
      settings[setting->key] = value;
    } else if (arg == "--no-registry") {
      noRegistry = true;
    } else if (arg == "--print-descriptor") {
      printDescriptor = true;
    } else if (arg == "--save-descriptor") {
      if (i + 1 >= argc) return Usage("--save-descriptor needs a file name");
      descriptorFile = argv[++i];
    } else if (arg == "--timings") {
      timings = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option '" + arg + "'");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty()) return Usage("no command given");
  if (modulePath.empty()) modulePath = hostkit::Module::DefaultPath();
  const std::string& command = positional[0];
  if (command != "apply" &&
      (!settings.empty() || noRegistry || printDescriptor || !descriptorFile.empty() || timings || repeat != 1))
    return Usage(
        "settings, --no-registry, --print-descriptor, --save-descriptor, --timings and --repeat belong to apply");

  if (command == "about") {
    if (positional.size() != 1) return Usage("about takes no file names");
    hostkit::Module module;
    std::string message;
    if (!LoadModule(modulePath, &module, &message)) return Fail(message);
    hostkit::Host host(module.entry());
    const int16_t status = host.CallAbout();
    return status == noErr ? 0 : Fail("the About box failed: " + glimmark::StatusWords(status));
  }

  if (command == "options") {
    if (positional.size() != 1) return Usage("options takes no file names");
    hostkit::Module module;
    std::string message;
    if (!LoadModule(modulePath, &module, &message)) return Fail(message);
    return RunOptionsEntry(module);
  }

  if (command == "analyze") {
    if (positional.size() != 2) return Usage("analyze needs an input file");
    hostkit::HostImage image;
    std::string reason;
    if (!ReadDocument(positional[1], mode, profilePath, &image, &reason)) return Fail(reason);
    WarnAboutProfile(image, positional[1], profilePath);
    if (AnalyzeDocument(image, stdout, &reason) != 0) return Fail(glimmark::CauseText(reason, 0));
    return 0;
  }

  if (command == "apply") {
    if (positional.size() != 3) return Usage("apply needs an input and an output file");
    ApplyRequest request;
    request.input = positional[1];
    request.output = positional[2];
    request.modulePath = modulePath;
    request.maskPath = maskPath;
    request.profilePath = profilePath;
    request.mode = mode;
    request.tile = tile;
    request.dialog = dialog;
    request.settings = settings;
    request.noRegistry = noRegistry;
    request.printDescriptor = printDescriptor;
    request.descriptorFile = descriptorFile;
    request.timings = timings;
    request.repeat = repeat;
    return Apply(request);
  }

  return Usage("unknown command '" + command + "'");
}
