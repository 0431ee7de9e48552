#pragma once
// The words of glimmark's error lines: a status of the filter interface in
// plain words, and a cause that is never empty.
#include <cstdint>
#include <string>

namespace glimmark {

// What a status a filter returns means, then its number: "not enough memory
// (status -108)". Every status of the interface has words; others are "an
// unknown error (status N)".
std::string StatusWords(int16_t status);

// `reason` when it says something; else the system's words for `error` (an
// errno value; 0 when none was recorded); else "unknown error".
std::string CauseText(const std::string& reason, int error);

}  // namespace glimmark
