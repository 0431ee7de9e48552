// The host image transfer of a Start run: a 6000 x 4000 RGB document in 8-bit,
// 16-bit and float read into the module and written back, through the built
// native module and hostkit, next to a plain memcpy of the same bytes.
//
// Each Start is split at the first output delivery: before it the module
// reads (and sets up its copy), from it on it writes back (including the
// closing advanceState that lets the host take the last tile). hostkit times
// itself inside every advanceState, so each phase is also given as the
// module's own share (phase time minus the host's time in that phase).
//
// Fresh memory is slow to touch the first time on this machine, and the
// module allocates its copy anew in every run, so the first run of a
// document is reported apart from the steady state that follows it. The C
// library hands blocks this large back to the system when they are freed,
// so each steady-state run still pays for touching its copy; to see the
// transfer without that cost, keep freed memory in the process:
//   GLIBC_TUNABLES=glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=17179869184
//
// The module is looked for in $GLIMMARK_MODULE, next to this program, and in
// the build's bin folder beside it. Its log goes to a temporary data folder.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hostkit/host.h"
#include "hostkit/host_platform.h"
#include "hostkit/module.h"

#include <unistd.h>

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
constexpr double kMegapixels = kWidth * double(kHeight) / 1e6;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// Benchmarks build natively only.
std::string g_dataFolder;
void RemoveDataFolder() {
  if (g_dataFolder.empty()) return;
  const std::string command = "rm -rf '" + g_dataFolder + "'";
  if (std::system(command.c_str()) != 0) {
    // A left-over temporary folder is harmless.
  }
}

// The module, loaded once; null when it cannot be found.
PluginMainProc ModuleEntry(std::string* error) {
  static hostkit::Module* module = nullptr;
  static std::string reason;
  if (module == nullptr) {
    char pattern[] = "/tmp/glimmark-bench-XXXXXX";
    if (const char* folder = mkdtemp(pattern)) {
      g_dataFolder = folder;
      setenv("XDG_DATA_HOME", folder, 1);
      std::atexit(RemoveDataFolder);
    }
    module = new hostkit::Module;  // kept loaded, as a host keeps a filter
    std::vector<std::string> candidates;
    if (const char* path = std::getenv("GLIMMARK_MODULE")) candidates.push_back(path);
    candidates.push_back(hostkit::Module::DefaultPath());
    const std::string folder = hostkit::ExecutableDirectory();
    const std::string separator(1, hostkit::PathSeparator());
    candidates.push_back(folder + separator + ".." + separator + "bin" + separator + hostkit::kDefaultModuleFileName);
    for (const std::string& path : candidates) {
      std::string why;
      if (module->Load(path, &why)) break;
      reason += path + ": " + why + "; ";
    }
  }
  if (!module->IsLoaded()) *error = "no module (" + reason + ")";
  return module->entry();
}

hostkit::HostImage Document(int32_t bytes) {
  hostkit::HostImage image;
  if (!image.Allocate(kWidth, kHeight, 3, bytes)) return image;
  // Varied samples in range for the depth; the content does not steer the
  // transfer, but every page is written here, before any timing.
  const size_t samples = image.pixels.size() / static_cast<size_t>(bytes);
  for (size_t i = 0; i < samples; ++i) {
    const uint32_t hash = static_cast<uint32_t>(i * 2654435761u) >> 8;
    uint8_t* at = image.pixels.data() + i * static_cast<size_t>(bytes);
    if (bytes == 1) {
      *at = static_cast<uint8_t>(hash);
    } else if (bytes == 2) {
      const uint16_t v = static_cast<uint16_t>(hash % (hostkit::kHost16Max + 1u));
      std::memcpy(at, &v, 2);
    } else {
      const float v = static_cast<float>(hash & 0xFFFF) / 40000.0f;
      std::memcpy(at, &v, 4);
    }
  }
  return image;
}

// One Start, split into its read and write phases.
struct StartTimes {
  double read = 0, write = 0;          // wall time of each phase
  double hostRead = 0, hostWrite = 0;  // hostkit's time inside advanceState in each
  bool ok = false;
};

StartTimes TimeOneStart(hostkit::Host& host) {
  StartTimes times;
  if (host.CallPrepare() != 0) return times;
  host.ResetStats();
  const Clock::time_point begin = Clock::now();
  const int16_t status = host.CallStart();
  const Clock::time_point end = Clock::now();
  const int16_t finished = host.CallFinish();
  const hostkit::HostStats& stats = host.stats();
  Clock::time_point split = end;
  for (const hostkit::AdvanceStateCall& call : stats.advanceStates)
    if (call.deliveredOutput) {
      split = call.start;
      break;
    }
  for (const hostkit::AdvanceStateCall& call : stats.advanceStates)
    (call.start < split ? times.hostRead : times.hostWrite) += call.seconds;
  times.read = Seconds(begin, split);
  times.write = Seconds(split, end);
  times.ok = status == 0 && finished == 0 && stats.outputDeliveries > 0 &&
             stats.advanceStateCalls == static_cast<int32_t>(stats.advanceStates.size());
  return times;
}

void SetPhaseCounters(benchmark::State& state, const char* prefix, const StartTimes& t) {
  const double scale = 1000.0 / kMegapixels;  // seconds per image to ms per megapixel
  const std::string p(prefix);
  state.counters[p + "read"] = t.read * scale;
  state.counters[p + "read_module"] = (t.read - t.hostRead) * scale;
  state.counters[p + "write"] = t.write * scale;
  state.counters[p + "write_module"] = (t.write - t.hostWrite) * scale;
}

// Counters are milliseconds per megapixel: "first_*" for the first run of a
// fresh document, the others averaged over the steady-state iterations.
void BM_StartTransfer(benchmark::State& state) {
  const int32_t bytes = static_cast<int32_t>(state.range(0));
  std::string error;
  const PluginMainProc entry = ModuleEntry(&error);
  if (entry == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  hostkit::HostOptions options;
  options.revertFailedStart = false;  // no snapshot copy inside the timed Start
  hostkit::Host host(entry, options);
  host.SetImage(Document(bytes));
  if (host.image().empty() || host.CallParameters() != 0) {
    state.SkipWithError("cannot set up the document");
    return;
  }
  const StartTimes first = TimeOneStart(host);
  if (!first.ok) {
    state.SkipWithError("the first run failed");
    return;
  }
  StartTimes sum;
  int64_t runs = 0;
  for (auto _ : state) {
    const StartTimes t = TimeOneStart(host);
    if (!t.ok) {
      state.SkipWithError("a run failed");
      return;
    }
    state.SetIterationTime(t.read + t.write);
    sum.read += t.read;
    sum.write += t.write;
    sum.hostRead += t.hostRead;
    sum.hostWrite += t.hostWrite;
    ++runs;
  }
  if (runs == 0) return;
  StartTimes average;
  average.read = sum.read / runs;
  average.write = sum.write / runs;
  average.hostRead = sum.hostRead / runs;
  average.hostWrite = sum.hostWrite / runs;
  SetPhaseCounters(state, "first_", first);
  SetPhaseCounters(state, "", average);
  state.SetBytesProcessed(runs * static_cast<int64_t>(host.image().pixels.size()) * 2);
}

// The floor for moving the same bytes once: a plain copy between two buffers
// of the document's size, into fresh memory the first time and into touched
// memory after.
void BM_Memcpy(benchmark::State& state) {
  const size_t bytes = static_cast<size_t>(kWidth) * kHeight * 3 * static_cast<size_t>(state.range(0));
  std::vector<uint8_t> source(bytes, 1);  // touched by the fill
  std::unique_ptr<uint8_t[]> target(new uint8_t[bytes]);
  const Clock::time_point begin = Clock::now();
  std::memcpy(target.get(), source.data(), bytes);
  benchmark::DoNotOptimize(target.get());
  const double first = Seconds(begin, Clock::now());
  double sum = 0;
  int64_t runs = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    std::memcpy(target.get(), source.data(), bytes);
    benchmark::DoNotOptimize(target.get());
    benchmark::ClobberMemory();
    const double seconds = Seconds(start, Clock::now());
    state.SetIterationTime(seconds);
    sum += seconds;
    ++runs;
  }
  state.counters["first_copy"] = first * 1000.0 / kMegapixels;
  if (runs > 0) state.counters["copy"] = sum / runs * 1000.0 / kMegapixels;
  state.SetBytesProcessed(runs * static_cast<int64_t>(bytes));
}

}  // namespace

// Argument: bytes per sample (1, 2, 4). Whole-image runs are slow: a few
// iterations give stable averages.
BENCHMARK(BM_StartTransfer)->Arg(1)->Arg(2)->Arg(4)->Iterations(4)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Arg(1)->Arg(2)->Arg(4)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);
