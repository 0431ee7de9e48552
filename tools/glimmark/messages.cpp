#include "messages.h"

#include <cstring>

#include "host_abi/host_interface.h"

namespace glimmark {

namespace {

const char* Meaning(int16_t status) {
  switch (status) {
    case noErr:
      return "no error";
    case writErr:
      // The module's rendering answers this when a part of it failed.
      return "the rendering failed (write error)";
    case paramErr:
      return "a setting, the image or its colour profile could not be used (parameter error)";
    case memFullErr:
    case kSPOutOfMemoryError:
      return "not enough memory";
    case nilHandleErr:
      return "a block of memory the host handed over is missing";
    case userCanceledErr:
      return "cancelled";
    case errMissingParameter:
      // The module's answer after it has reported the failure itself.
      return "a failure the filter has reported (see the lines above, or its log)";
    case filterBadParameters:
      return "the filter could not use the host's parameters (bad parameters)";
    case filterBadMode:
      return "the filter does not work on documents of this mode";
    case errPlugInHostInsufficient:
      return "the host lacks a service the filter needs";
    case errPlugInPropertyUndefined:
      return "the host does not know a property the filter asked for";
    case errHostDoesNotSupportColStep:
      return "the host cannot step through columns as the filter asked";
    case errInvalidSamplePoint:
      return "the filter asked for a sample point outside the image";
    case errReportString:
      return "an error the filter described in its own words";
    case errHostVersionIncompatible:
      return "the host's interface version does not suit the filter";
    case errUnknownPort:
      return "the filter named a pixel port the host does not know";
    case errUnsupportedRowBits:
    case errUnsupportedColBits:
    case errUnsupportedBitOffset:
      return "the host cannot lay out pixels as the filter asked";
    case errUnsupportedDepth:
    case errUnsupportedDepthConversion:
      return "the host cannot convert to the sample depth the filter asked for";
    case errWrongPlatformFilePath:
      return "a file path of another platform";
    case errIllegalCharInID:
      return "an identifier with a character the host does not allow";
    default:
      return "an unknown error";
  }
}

}  // namespace

std::string StatusWords(int16_t status) {
  return std::string(Meaning(status)) + " (status " + std::to_string(status) + ")";
}

std::string CauseText(const std::string& reason, int error) {
  for (char c : reason)
    if (c != ' ' && c != '\t' && c != '\n') return reason;
  if (error != 0) {
    const char* text = std::strerror(error);
    if (text != nullptr && text[0] != '\0') return text;
  }
  return "unknown error";
}

}  // namespace glimmark
