#include "timings.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace glimmark {

namespace {

constexpr size_t kMaxPhases = 64;
constexpr size_t kMaxNameLength = 64;
constexpr long kMaxFileSize = 64 * 1024;

bool ParseLine(std::string line, PhaseTime* phase) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const size_t tab = line.find('\t');
  if (tab == std::string::npos || tab == 0 || tab > kMaxNameLength) return false;
  for (size_t i = 0; i < tab; ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c < 0x20 || c >= 0x7F) return false;
  }
  const std::string number = line.substr(tab + 1);
  if (number.empty() || number[0] == ' ' || number[0] == '\t') return false;
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (*end != '\0' || !std::isfinite(value) || value < 0) return false;
  phase->name = line.substr(0, tab);
  phase->milliseconds = value;
  return true;
}

double Milliseconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

std::chrono::steady_clock::time_point End(const hostkit::AdvanceStateCall& call) {
  return call.start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(call.seconds));
}

}  // namespace

std::vector<PhaseTime> ParsePhaseTimes(const std::string& text) {
  std::vector<PhaseTime> phases;
  size_t at = 0;
  while (at < text.size() && phases.size() < kMaxPhases) {
    size_t next = text.find('\n', at);
    if (next == std::string::npos) next = text.size();
    PhaseTime phase;
    if (ParseLine(text.substr(at, next - at), &phase)) phases.push_back(phase);
    at = next + 1;
  }
  return phases;
}

std::vector<PhaseTime> ReadPhaseTimes(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return {};
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() < kMaxFileSize)
    text.append(buffer, got);
  std::fclose(file);
  return ParsePhaseTimes(text);
}

std::vector<PhaseTime> HostSideSplit(const std::vector<hostkit::AdvanceStateCall>& calls) {
  const hostkit::AdvanceStateCall* firstInput = nullptr;
  const hostkit::AdvanceStateCall* lastInput = nullptr;
  const hostkit::AdvanceStateCall* firstOutput = nullptr;
  for (const hostkit::AdvanceStateCall& call : calls) {
    if (call.deliveredOutput) {
      firstOutput = &call;
      break;
    }
    if (call.deliveredInput) {
      if (firstInput == nullptr) firstInput = &call;
      lastInput = &call;
    }
  }
  if (firstInput == nullptr || firstOutput == nullptr) return {};
  const auto inputEnd = End(*lastInput);
  auto outputEnd = End(*firstOutput);
  for (const hostkit::AdvanceStateCall& call : calls)
    if (End(call) > outputEnd) outputEnd = End(call);
  return {
      {"input transfer (host side)", Milliseconds(firstInput->start, inputEnd)},
      {"between transfers (host side)", Milliseconds(inputEnd, firstOutput->start)},
      {"output transfer (host side)", Milliseconds(firstOutput->start, outputEnd)},
  };
}

}  // namespace glimmark
