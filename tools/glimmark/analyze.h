#pragma once
// The highlight analysis of a document, printed as the light source table.
#include <cstdio>
#include <string>

#include "hostkit/image.h"

// Prints the table's text lines to `out` and the phase timings to standard
// error. 0 on success; otherwise 1 with the reason in *error.
int AnalyzeDocument(const hostkit::HostImage& document, std::FILE* out, std::string* error);
