#pragma once
// What the filter will make of a document's colour profile, found before the
// run with the plug-in's own colour set-up: the module replaces a profile it
// cannot use and says so only in its log, so the tool tells the user.
#include <string>

#include "hostkit/image.h"

// Empty when the document has no profile or the filter uses it; otherwise
// one sentence for a warning: what is wrong with the profile, named by
// `profileName` (a quoted file name, say), and what the filter uses instead.
std::string DocumentProfileWarning(const hostkit::HostImage& document, const std::string& profileName);
