// Fault sweeps: whole filter runs (Prepare, Start, Continue, Finish, as
// hostkit drives them) of the plug-in linked into this program, each with one
// fault injected at its N-th opportunity, for N = 1, 2, ... until a run no
// longer reaches the N-th. Kinds of fault:
//   alloc            the N-th allocation of the plug-in fails (operator new on
//                    any of its threads, tracked buffers)
//   host-alloc       the host refuses its N-th request for memory
//   advance          the host refuses its N-th advanceState call
//   cancel           the abort procedure answers true from its N-th call on
//   progress-cancel  ... from the N-th progress call on
// Every run must end in one of the outcomes the host interface allows, with
// nothing leaked (LeakSanitizer where built in; tracked buffers, operator new
// blocks, the host's suites, descriptors and blocks everywhere, and no more
// host handles than an undisturbed run keeps): success with exactly the image
// of an undisturbed run, or the fault's status with the document untouched,
// byte for byte. The status is memFullErr for memory, with a message that
// says so and none that speaks of writing; userCanceledErr for a cancel; the
// host's code for a refused write, and paramErr for a refused read (an image
// the host would not hand over ends Start as bad parameters, by design).
// One exception: a failure that comes after the result was delivered (the
// closing advanceState, Finish, a refused tile of the write-back) cannot
// take the pixels back; the host reverts them as it does for every failed
// run, so there the delivered result is accepted too ("late"). And one
// allowance the plug-in makes by design: a shape or highlight search that
// runs out of memory is left out after the user was warned ("Low memory ...
// some effects may not be rendered"), so a run that warned of low memory may
// succeed with fewer effects ("warned").
//
//   fault_sweep [--sample FIRST:EVERY] [--cold] [--doc NAME]... [KIND...]  (--help for all)
// prints per kind and document the runs made, the N at which a run first
// completed without meeting its fault, and the failures found; exit status 1
// when there are failures. Runs share one process, as runs in a host do;
// --cold gives each run a process of its own that never ran the plug-in
// before (so that first-use allocations are swept too) and follows it with
// an undisturbed run that must succeed as if nothing had happened.
#include <fcntl.h>
#include <lcms2.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "counting_new.h"
#include "hostkit/host.h"
#include "hostkit/host_code.h"
#include "hostkit/module.h"
#include "runtime/buffers.h"
#include "runtime/test_hooks.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#endif

extern "C" void PluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result);

namespace {

using hostkit::DescriptorItem;
using hostkit::HostImage;

enum class Kind { kAlloc, kHostAlloc, kAdvance, kCancel, kProgressCancel };
struct KindName {
  Kind kind;
  const char* name;
};
constexpr KindName kKinds[] = {{Kind::kAlloc, "alloc"},
                               {Kind::kHostAlloc, "host-alloc"},
                               {Kind::kAdvance, "advance"},
                               {Kind::kCancel, "cancel"},
                               {Kind::kProgressCancel, "progress-cancel"}};

struct Document {
  std::string name;
  HostImage image;
  std::vector<uint8_t> mask;
  bool everyKind = true;  // else only the kinds that stop or refuse a transfer
};

// A document with a colour profile of its own (wider primaries, gamma 1.8),
// as an editor hands it over.
std::vector<uint8_t> WideGamutProfile() {
  const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves);
  cmsFreeToneCurve(curve);
  cmsUInt32Number size = 0;
  std::vector<uint8_t> bytes;
  if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
    bytes.resize(size);
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  if (profile != nullptr) cmsCloseProfile(profile);
  return bytes;
}

enum Extra { kPlain = 0, kSoftSelection = 1, kProfile = 2, kWide = 4 };

// A dark sky with a few small bright lights of different colours, so that
// the analysis finds light sources and stars are drawn; the float document
// has one light brighter than white. The wide one is two of the write-back's
// tiles across, so that a cancel can come between them.
Document MakeDocument(const std::string& name, int32_t bytesPerSample, int extras) {
  struct Light {
    double x, y, sigma, peak, r, g, b;
  };
  const bool wide = (extras & kWide) != 0;
  const Light lights[] = {{20, wide ? 3.0 : 16.0, 1.6, 1.0, 1.0, 0.9, 0.7},
                          {wide ? 2070.0 : 70.0, wide ? 6.0 : 20.0, 2.4, 1.0, 0.8, 0.9, 1.0},
                          {47, wide ? 5.0 : 43.0, 1.2, bytesPerSample == 4 ? 3.0 : 1.0, 1.0, 1.0, 1.0},
                          {wide ? 1500.0 : 82.0, wide ? 4.0 : 54.0, 2.0, 0.95, 1.0, 0.6, 0.5}};
  Document doc;
  doc.name = name;
  doc.everyKind = !wide;
  HostImage& image = doc.image;
  image.Allocate(wide ? 2100 : 96, wide ? 10 : 64, 3, bytesPerSample);
  if ((extras & kProfile) != 0) image.iccProfile = WideGamutProfile();
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      double rgb[3] = {0.04 + 0.05 * y / image.height, 0.05, 0.09 + 0.05 * x / image.width};
      for (const Light& light : lights) {
        const double d2 = (x - light.x) * (x - light.x) + (y - light.y) * (y - light.y);
        const double glow = light.peak * std::exp(-d2 / (2 * light.sigma * light.sigma));
        rgb[0] += glow * light.r;
        rgb[1] += glow * light.g;
        rgb[2] += glow * light.b;
      }
      for (int32_t p = 0; p < 3; ++p) image.Set(x, y, p, rgb[p]);
    }
  }
  if ((extras & kSoftSelection) != 0) {
    doc.mask.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    for (int32_t y = 0; y < image.height; ++y)
      for (int32_t x = 0; x < image.width; ++x)
        doc.mask[static_cast<size_t>(y * image.width + x)] = static_cast<uint8_t>(255 * x / (image.width - 1));
  }
  return doc;
}

// The factory settings as a recorded action replays them, without a dialog.
hostkit::DescriptorItems FactorySettings() {
  const uint32_t percent = FourCC("#Prc");
  return {DescriptorItem::UnitFloat(FourCC("qntY"), percent, 50),
          DescriptorItem::UnitFloat(FourCC("Intn"), percent, 50),
          DescriptorItem::UnitFloat(FourCC("Lngt"), percent, 50),
          DescriptorItem::UnitFloat(FourCC("Angl"), FourCC("#Ang"), 15),
          DescriptorItem::Integer(FourCC("numP"), 6),
          DescriptorItem::UnitFloat(FourCC("spsH"), percent, 50),
          DescriptorItem::UnitFloat(FourCC("Strt"), percent, 30),
          DescriptorItem::UnitFloat(FourCC("sflB"), percent, 30)};
}

// --- the process around the runs -----------------------------------------

// The plug-in, linked into this program: the hooks below reach its code.
const hostkit::Module g_module = hostkit::Module::FromEntry(PluginMain, "the plug-in linked in");
TestHooks g_hooks;
int g_stderr = 2;                         // the real standard error
std::atomic<int64_t> g_runStart{0};       // steady-clock ns of the run in progress; 0 = none
std::atomic<const char*> g_runLabel{""};  // for the hang report
int64_t g_runN = 0;
#if defined(__SANITIZE_ADDRESS__)
bool g_leakCheck = true;  // until the first leak: later checks would repeat it
#endif
bool g_show = false;

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// User messages of the native module go to standard error, one
// "caption: text" line each: catch them per run in a temporary file.
class MessageCapture {
 public:
  MessageCapture() {
    std::fflush(stderr);
    file_ = std::tmpfile();
    if (file_ != nullptr) dup2(fileno(file_), 2);
  }
  std::vector<std::string> Stop() {
    std::vector<std::string> lines;
    std::fflush(stderr);
    dup2(g_stderr, 2);
    if (file_ == nullptr) return lines;
    std::rewind(file_);
    std::string line;
    for (int c; (c = std::fgetc(file_)) != EOF;) {
      if (c != '\n') {
        line.push_back(static_cast<char>(c));
      } else if (!line.empty()) {
        lines.push_back(line);
        line.clear();
      }
    }
    if (!line.empty()) lines.push_back(line);
    std::fclose(file_);
    file_ = nullptr;
    return lines;
  }

 private:
  std::FILE* file_ = nullptr;
};

struct Outcome {
  int16_t status = 0;
  bool reached = false;  // the run met its fault
  std::vector<uint8_t> pixels;
  std::vector<std::string> messages;
  int32_t outputDeliveries = 0;
  bool refusedRead = false;   // the refused advanceState asked for input
  int64_t opportunities = 0;  // allocations, requests, calls: what N walks through
  size_t handles = 0;         // host handles alive after the run
  bool cold = false;          // the process's first run: its caches stay
  std::string leftovers;      // what the run left behind, if anything (host objects, leaks)
  // Operator new blocks and tracked buffer bytes the run added for good: 0
  // once the plug-in's caches exist, their size on a process's first run.
  int64_t addedBlocks = 0;
  int64_t addedBufferBytes = 0;
};

Outcome RunOnce(const Document& doc, Kind kind, int64_t n) {
  Outcome outcome;
  const int64_t liveBefore = sweep::LiveBlocks();
  const uint64_t buffersBefore = GetBufferUsage().current;
  int32_t progressSeen = 0;
  {
    hostkit::HostOptions options;
    options.revertFailedStart = false;  // the module's own guarantee, not the host's
    options.advanceStateFailure = memFullErr;
    if (kind == Kind::kHostAlloc) options.refuseAllocationAtRequest = static_cast<int32_t>(n);
    if (kind == Kind::kAdvance) options.failAdvanceStateAtCall = static_cast<int32_t>(n);
    if (kind == Kind::kCancel) options.abortAtCall = static_cast<int32_t>(n);
    if (kind == Kind::kProgressCancel) {
      options.progressSink = [&progressSeen](int32_t, int32_t) { ++progressSeen; };
      options.abortRequested = [&progressSeen, n] { return n > 0 && progressSeen >= n; };
    }
    hostkit::Host host(g_module.entry(), options);
    host.SetImage(doc.image);
    host.SetMask(doc.mask);
    host.SetScriptDescriptor(FactorySettings());
    host.SetPlayInfo(plugInDialogDontDisplay);

    MessageCapture capture;
    g_hooks.allocationsCounted = 0;
    g_hooks.failAllocationAt = kind == Kind::kAlloc ? n : 0;
    g_runStart = Now();
    sweep::ArmAllocationFailures(true);
    outcome.status = host.RunFilter(false);
    sweep::ArmAllocationFailures(false);
    g_runStart = 0;
    g_hooks.failAllocationAt = 0;
    outcome.messages = capture.Stop();

    const hostkit::HostStats& stats = host.stats();
    switch (kind) {
      case Kind::kAlloc:
        outcome.opportunities = g_hooks.allocationsCounted.load();
        break;
      case Kind::kHostAlloc:
        outcome.opportunities = stats.allocationRequests;
        break;
      case Kind::kAdvance:
        outcome.opportunities = stats.advanceStateCalls;
        break;
      case Kind::kCancel:
        outcome.opportunities = stats.abortCalls;
        break;
      case Kind::kProgressCancel:
        outcome.opportunities = progressSeen;
        break;
    }
    outcome.reached = n > 0 && outcome.opportunities >= n;
    outcome.outputDeliveries = stats.outputDeliveries;
    if (kind == Kind::kAdvance && n > 0 && static_cast<size_t>(n) <= stats.advanceStates.size()) {
      const VRect& in = stats.advanceStates[static_cast<size_t>(n - 1)].inRect;
      outcome.refusedRead = in.right > in.left && in.bottom > in.top;
    }
    outcome.pixels = host.image().pixels;
    outcome.handles = host.handles().LiveCount();
    auto leftover = [&outcome](const char* what, size_t count) {
      if (count != 0) outcome.leftovers += std::string(" ") + what + "=" + std::to_string(count);
    };
    leftover("suites", static_cast<size_t>(host.OutstandingSuites()));
    leftover("action-descriptors", host.LiveActionDescriptors());
    leftover("readers", host.OpenDescriptorReaders());
    leftover("writers", host.OpenDescriptorWriters());
    leftover("blocks", host.LiveBlocks());
  }
  // The blocks this record holds are the only new ones allowed to stay.
  int64_t kept = (outcome.pixels.capacity() > 0 ? 1 : 0) + (outcome.messages.capacity() > 0 ? 1 : 0) +
                 (outcome.leftovers.capacity() > 15 ? 1 : 0);
  for (const std::string& message : outcome.messages) kept += message.capacity() > 15 ? 1 : 0;
  outcome.addedBlocks = sweep::LiveBlocks() - liveBefore - kept;
  outcome.addedBufferBytes = static_cast<int64_t>(GetBufferUsage().current - buffersBefore);
#if defined(__SANITIZE_ADDRESS__)
  // A leak stays reported by every later check: look until the first one.
  if (g_leakCheck && __lsan_do_recoverable_leak_check() != 0) {
    outcome.leftovers += " lsan-leak";
    g_leakCheck = false;
  }
#endif
  return outcome;
}

bool Mentions(const std::vector<std::string>& messages, const char* text) {
  for (const std::string& message : messages) {
    std::string lower = message;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.find(text) != std::string::npos) return true;
  }
  return false;
}

struct Verdict {
  bool late = false;    // failed after the whole result was delivered
  bool warned = false;  // succeeded with fewer effects after a low-memory warning
};

// "" when the outcome is one the interface allows; else what is wrong.
std::string Judge(Kind kind, const Outcome& o, const std::vector<uint8_t>& original, const Outcome& undisturbed,
                  Verdict* verdict) {
  const std::vector<uint8_t>& reference = undisturbed.pixels;
  if (!o.leftovers.empty()) return "left behind:" + o.leftovers;
  if (!o.cold && (o.addedBlocks != 0 || o.addedBufferBytes != 0))
    return "left " + std::to_string(o.addedBlocks) + " blocks and " + std::to_string(o.addedBufferBytes) +
           " tracked bytes behind";
  if (o.handles > undisturbed.handles)
    return "left " + std::to_string(o.handles - undisturbed.handles) + " more host handles than an undisturbed run";
  if (!o.reached) {
    if (o.status != noErr) return "a run that met no fault failed with status " + std::to_string(o.status);
    return o.pixels == reference ? "" : "a run that met no fault drew another image";
  }
  const bool memory = kind == Kind::kAlloc || kind == Kind::kHostAlloc;
  if (o.status == noErr) {
    if (o.pixels != reference) {
      verdict->warned = memory && Mentions(o.messages, "low memory");
      if (!verdict->warned) return "succeeded with an image other than the undisturbed run's, without a warning";
    }
    // Only a cancel may be overruled (once the write-back began).
    if (kind == Kind::kAdvance) return "succeeded although the host refused advanceState";
    return "";
  }
  int16_t expected = 0;
  switch (kind) {
    case Kind::kAlloc:
    case Kind::kHostAlloc:
      expected = memFullErr;
      break;
    // An image the host would not hand over ends Start as bad parameters
    // (the module's documented answer); a refused write keeps the host's code.
    case Kind::kAdvance:
      expected = o.refusedRead ? paramErr : memFullErr;
      break;
    case Kind::kCancel:
    case Kind::kProgressCancel:
      expected = userCanceledErr;
      break;
  }
  if (o.status != expected) return "status " + std::to_string(o.status) + " instead of " + std::to_string(expected);
  if (o.pixels != original) {
    // A host that refuses a call of the write-back keeps what it took before
    // (hosts revert a failed run); a cancel, though, is never taken once the
    // write-back began, so it never leaves a part of the result.
    if (o.outputDeliveries > 0 && (o.pixels == reference || kind == Kind::kAdvance)) {
      verdict->late = true;
    } else {
      return "the document was changed by a failed run";
    }
  }
  if (memory) {
    if (!Mentions(o.messages, "memory")) return "no message says that memory ran out";
    if (Mentions(o.messages, "could not write")) return "out of memory reported as a write error";
  }
  return "";
}

// The reports in the plug-in's newest log (UTF-16, read as ASCII), for
// --show.
void PrintNewestLogReports() {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = fs::path(std::getenv("XDG_DATA_HOME")) / "Brightwerk/Glimmark2/Logs";
  fs::path newest;
  fs::file_time_type newestTime{};
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.path().extension() == ".log" && (newest.empty() || entry.last_write_time() > newestTime)) {
      newest = entry.path();
      newestTime = entry.last_write_time();
    }
  }
  std::FILE* file = newest.empty() ? nullptr : std::fopen(newest.c_str(), "rb");
  if (file == nullptr) return;
  std::string line;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    if (c == 0 || c == '\r' || c > 126) continue;
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    if (line.find("Message: '") != std::string::npos || line.find("Error") != std::string::npos)
      std::printf("    log: %s\n", line.c_str());
    line.clear();
  }
  std::fclose(file);
}

struct Sampling {
  int64_t first = 0;  // every N up to this one; 0 = every N
  int64_t every = 1;
  int64_t from = 1, to = 0;  // the range of N swept (to = 0: until a run completes)
  bool Takes(int64_t n) const { return n >= from && (first == 0 || n <= first || n % every == 0); }
};

struct Tally {
  int64_t runs = 0, completedAt = 0, failures = 0, late = 0, warned = 0, perRun = 0;
};

// One run at N and its verdict; prints the fault, if any, while fewer than
// `printed` were printed before (all of them with --show).
struct Judged {
  bool reached = false, fault = false;
  Verdict verdict;
};

Judged RunAndJudge(const Document& doc, Kind kind, const char* kindName, int64_t n, const Outcome& undisturbed,
                   bool followUp, int64_t faultsSoFar) {
  Judged judged;
  Outcome o = RunOnce(doc, kind, n);
  o.cold = followUp;
  judged.reached = o.reached;
  std::string fault = Judge(kind, o, doc.image.pixels, undisturbed, &judged.verdict);
  // In a fresh process: whatever the first run left behind must not spoil
  // the next one (a cache half built when memory ran out, say), and the two
  // runs together keep what two undisturbed runs keep.
  if (fault.empty() && followUp) {
    const Outcome next = RunOnce(doc, kind, 0);
    if (next.status != noErr || next.pixels != undisturbed.pixels || !next.leftovers.empty()) {
      fault = "the undisturbed run after it failed (status " + std::to_string(next.status) + ") or drew another image";
    } else if (o.addedBlocks + next.addedBlocks != undisturbed.addedBlocks ||
               o.addedBufferBytes + next.addedBufferBytes != undisturbed.addedBufferBytes) {
      fault = "it and the run after it left " + std::to_string(o.addedBlocks + next.addedBlocks) + " blocks and " +
              std::to_string(o.addedBufferBytes + next.addedBufferBytes) +
              " tracked bytes behind, two undisturbed runs " + std::to_string(undisturbed.addedBlocks) + " and " +
              std::to_string(undisturbed.addedBufferBytes);
    }
  }
  judged.fault = !fault.empty();
  if (judged.fault && (faultsSoFar < 8 || g_show)) {
    std::printf("FAULT %s %s N=%lld: %s (status %d)\n", kindName, doc.name.c_str(), static_cast<long long>(n),
                fault.c_str(), o.status);
    for (size_t i = 0; i < o.messages.size() && i < 4; ++i) std::printf("    %s\n", o.messages[i].c_str());
    if (g_show) PrintNewestLogReports();
  }
  std::fflush(stdout);
  return judged;
}

// --cold: every run in a process of its own, forked from one that never ran
// the plug-in, so that what the plug-in allocates only on its first use is
// swept too. The child's exit status carries the verdict; the undisturbed
// run's record comes back through a pipe.
int g_hangSeconds = 300;

// Runs `body` (returning 0..127) in a child; its bytes written to the fd it
// gets come back in *data. Negative: the child crashed or hung.
template <typename Body>
int InChild(Body body, std::vector<uint8_t>* data) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return -1;
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    close(pipeEnds[0]);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers forget a report descriptor across a fork.
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(g_stderr)));
#endif
    const int code = body(pipeEnds[1]);
    close(pipeEnds[1]);
    std::fflush(stdout);
    _exit(code);
  }
  close(pipeEnds[1]);
  const int64_t deadline = Now() + int64_t{g_hangSeconds} * 1000000000;
  bool hung = false;
  for (;;) {
    pollfd ready{pipeEnds[0], POLLIN, 0};
    const int64_t left = (deadline - Now()) / 1000000;
    if (left <= 0 || poll(&ready, 1, static_cast<int>(std::min<int64_t>(left, 1000))) < 0) {
      hung = left <= 0;
      if (hung) break;
      continue;
    }
    if (ready.revents == 0) continue;
    uint8_t buffer[65536];
    const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
    if (got <= 0) break;
    if (data != nullptr) data->insert(data->end(), buffer, buffer + got);
  }
  close(pipeEnds[0]);
  if (hung) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (hung) return -2;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool WriteAll(int fd, const void* bytes, size_t size) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (size > 0) {
    const ssize_t put = write(fd, p, size);
    if (put <= 0) return false;
    p += put;
    size -= static_cast<size_t>(put);
  }
  return true;
}

// The undisturbed run, in this process or (cold) in a child.
Outcome Undisturbed(const Document& doc, Kind kind, bool cold) {
  if (!cold) return RunOnce(doc, kind, 0);
  std::vector<uint8_t> data;
  const int code = InChild(
      [&](int fd) {
        const Outcome o = RunOnce(doc, kind, 0);
        const Outcome next = RunOnce(doc, kind, 0);
        const bool same = next.status == o.status && next.pixels == o.pixels;
        const int64_t header[5] = {same ? o.status : -1, o.opportunities, static_cast<int64_t>(o.handles),
                                   o.addedBlocks + next.addedBlocks, o.addedBufferBytes + next.addedBufferBytes};
        return WriteAll(fd, header, sizeof header) && WriteAll(fd, o.pixels.data(), o.pixels.size()) ? 0 : 1;
      },
      &data);
  Outcome o;
  int64_t header[5] = {-1, 0, 0, 0, 0};
  if (code != 0 || data.size() < sizeof header) {
    o.status = -1;
    return o;
  }
  std::memcpy(header, data.data(), sizeof header);
  o.status = static_cast<int16_t>(header[0]);
  o.opportunities = header[1];
  o.handles = static_cast<size_t>(header[2]);
  o.addedBlocks = header[3];
  o.addedBufferBytes = header[4];
  o.pixels.assign(data.begin() + sizeof header, data.end());
  return o;
}

Tally Sweep(const Document& doc, Kind kind, const char* kindName, const Sampling& sampling, bool cold) {
  Tally tally;
  const Outcome undisturbed = Undisturbed(doc, kind, cold);
  if (undisturbed.status != noErr || undisturbed.pixels == doc.image.pixels) {
    std::printf("%s %s: the undisturbed run failed (status %d) or drew nothing\n", kindName, doc.name.c_str(),
                undisturbed.status);
    tally.failures = 1;
    return tally;
  }
  tally.perRun = undisturbed.opportunities;
  if (g_show && !cold) {
    std::printf("undisturbed %s %s:\n", kindName, doc.name.c_str());
    PrintNewestLogReports();
  }
  const std::string label = std::string(kindName) + " " + doc.name;
  g_runLabel = label.c_str();
  constexpr int64_t kLimit = 10000000;
  for (int64_t n = 1; n < kLimit && (sampling.to == 0 || n <= sampling.to); ++n) {
    if (!sampling.Takes(n)) continue;
    g_runN = n;
    Judged judged;
    if (!cold) {
      judged = RunAndJudge(doc, kind, kindName, n, undisturbed, false, tally.failures);
    } else {
      const int code = InChild(
          [&](int) {
            const Judged j = RunAndJudge(doc, kind, kindName, n, undisturbed, true, tally.failures);
            return (j.reached ? 1 : 0) | (j.fault ? 2 : 0) | (j.verdict.late ? 4 : 0) | (j.verdict.warned ? 8 : 0);
          },
          nullptr);
      if (code < 0) {
        std::printf("FAULT %s %s N=%lld: the run %s\n", kindName, doc.name.c_str(), static_cast<long long>(n),
                    code == -2 ? "hung" : "crashed");
        judged.fault = true;
        judged.reached = true;
      } else {
        judged.reached = (code & 1) != 0;
        judged.fault = (code & 2) != 0;
        judged.verdict.late = (code & 4) != 0;
        judged.verdict.warned = (code & 8) != 0;
      }
    }
    ++tally.runs;
    tally.failures += judged.fault ? 1 : 0;
    tally.late += judged.verdict.late ? 1 : 0;
    tally.warned += judged.verdict.warned ? 1 : 0;
    if (!judged.reached) {
      tally.completedAt = n;
      break;
    }
  }
  g_runLabel = "";
  return tally;
}

// A run that takes far longer than any run should is a hang: say where, and
// end the process.
void Watchdog(int seconds) {
  hostkit::HostCodeScope notThePlugIn;  // nothing here counts as the plug-in's
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const int64_t start = g_runStart.load();
    if (start != 0 && Now() - start > int64_t{seconds} * 1000000000) {
      dprintf(g_stderr, "HANG %s N=%lld: a run took more than %d s\n", g_runLabel.load(),
              static_cast<long long>(g_runN), seconds);
      _exit(3);
    }
  }
}

// The plug-in's folders (settings, logs) in a temporary home of the sweep's,
// in memory where the system has a memory file system: every run saves its
// settings, and a disk's flush of them would take most of a run's time.
std::string g_home;
bool UseTemporaryHome() {
  std::error_code error;
  const bool inMemory = std::filesystem::is_directory("/dev/shm", error);
  std::string pattern = std::string(inMemory ? "/dev/shm" : "/tmp") + "/glimmark-sweep-XXXXXX";
  const char* home = mkdtemp(&pattern[0]);
  if (home == nullptr) return false;
  g_home = home;
  const std::string data = std::string(home) + "/data", config = std::string(home) + "/config";
  setenv("HOME", home, 1);
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: fault_sweep [--sample FIRST:EVERY] [--from N] [--to N] [--cold] [--show] [--doc NAME]...\n"
               "                   [--hang-seconds S] [KIND...]\n"
               "--from, --to: sweep only these N; --cold: every run in a fresh process, followed by an undisturbed\n"
               "run; --show: the stack of each failed allocation, the log of each fault\n"
               "kinds: alloc host-alloc advance cancel progress-cancel (default: all)\n"
               "documents: rgb8 rgb16 rgb32 rgb8-selection rgb16-profile, and rgb8-wide for advance and the\n"
               "cancels (default: all)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Sampling sampling;
  std::vector<std::string> docNames, kindNames;
  bool cold = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--sample" && i + 1 < argc) {
      long long first = 0, every = 0;
      if (std::sscanf(argv[++i], "%lld:%lld", &first, &every) != 2 || first < 0 || every < 1) return Usage();
      sampling.first = first;
      sampling.every = every;
    } else if (arg == "--from" && i + 1 < argc) {
      sampling.from = std::max(1LL, std::atoll(argv[++i]));
    } else if (arg == "--to" && i + 1 < argc) {
      sampling.to = std::max(1LL, std::atoll(argv[++i]));
    } else if (arg == "--show") {
      sweep::ShowFailedAllocations(true);
      g_show = true;
    } else if (arg == "--doc" && i + 1 < argc) {
      docNames.push_back(argv[++i]);
    } else if (arg == "--hang-seconds" && i + 1 < argc) {
      g_hangSeconds = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--cold") {
      cold = true;
    } else if (!arg.empty() && arg[0] != '-') {
      kindNames.push_back(arg);
    } else {
      return Usage();
    }
  }
  std::vector<Document> docs;
  for (const Document& doc : {MakeDocument("rgb8", 1, kPlain), MakeDocument("rgb16", 2, kPlain),
                              MakeDocument("rgb32", 4, kPlain), MakeDocument("rgb8-selection", 1, kSoftSelection),
                              MakeDocument("rgb16-profile", 2, kProfile), MakeDocument("rgb8-wide", 1, kWide)}) {
    if (docNames.empty() || std::find(docNames.begin(), docNames.end(), doc.name) != docNames.end())
      docs.push_back(doc);
  }
  std::vector<KindName> kinds;
  for (const KindName& k : kKinds) {
    if (kindNames.empty() || std::find(kindNames.begin(), kindNames.end(), k.name) != kindNames.end())
      kinds.push_back(k);
  }
  // Every name given must name something.
  for (const std::string& name : kindNames)
    if (std::none_of(kinds.begin(), kinds.end(), [&name](const KindName& k) { return name == k.name; })) return Usage();
  for (const std::string& name : docNames)
    if (std::none_of(docs.begin(), docs.end(), [&name](const Document& d) { return name == d.name; })) return Usage();
  if (!UseTemporaryHome()) {
    std::perror("fault_sweep: no temporary home");
    return 2;
  }
  g_stderr = dup(2);
#if defined(__SANITIZE_ADDRESS__)
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(g_stderr)));
#endif
  InstallTestHooks(&g_hooks);
  if (!cold) std::thread(Watchdog, g_hangSeconds).detach();

  int64_t failures = 0;
  std::printf("%-16s %-15s %6s %9s %8s %5s %6s %7s\n", "kind", "document", "runs", "completed", "failures", "late",
              "warned", "per-run");
  for (const KindName& kind : kinds) {
    for (const Document& doc : docs) {
      const bool transferKind =
          kind.kind == Kind::kAdvance || kind.kind == Kind::kCancel || kind.kind == Kind::kProgressCancel;
      if (!doc.everyKind && !transferKind) continue;
      const Tally t = Sweep(doc, kind.kind, kind.name, sampling, cold);
      failures += t.failures;
      std::printf("%-16s %-15s %6lld %9lld %8lld %5lld %6lld %7lld\n", kind.name, doc.name.c_str(),
                  static_cast<long long>(t.runs), static_cast<long long>(t.completedAt),
                  static_cast<long long>(t.failures), static_cast<long long>(t.late), static_cast<long long>(t.warned),
                  static_cast<long long>(t.perRun));
      std::fflush(stdout);
    }
  }
  std::printf("faults found: %lld\n", static_cast<long long>(failures));
  std::error_code error;
  std::filesystem::remove_all(g_home, error);
  return failures == 0 ? 0 : 1;
}
