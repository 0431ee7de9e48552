#pragma once
// Scripting: the descriptor of named values that a recording host hands the
// filter at Start and expects back at Finish.
//
// Eight effect fields have keys (Quantity, Intensity, Length, Angle, Number of
// Points, Spike Sharpness, Color Saturation, Soft Flare Intensity), taken with
// their types and order from params/parameter_table.h; the other fields of
// the Parameter Set are never scripted. The same keys, in the same order, are
// named for the host by the terminology resource 16000.
//
// Both routines take the record of the current call and touch only what the
// host's descriptor parameters block offers; a host without one, or without
// the procedures needed, is told -30900 (errPlugInHostInsufficient) and
// nothing changes. They run on the UI thread, like every host call.
#include <cstdint>

#include "host_abi/host_interface.h"
#include "params/parameter_set.h"

// Status of ReadScriptingParameters when its working copy cannot be had (the
// basic suite's out-of-memory value). Start ends as out of memory (-108).
constexpr int16_t SCRIPTING_OUT_OF_MEMORY = -148;

// Reads the host's descriptor into a copy of the factory set and decides
// whether the dialog is shown; *showDialog comes in holding the plug-in's own
// choice (the showDialog byte). Outcomes:
// - no descriptor parameters, read procedures or descriptor: nothing changes;
// - all eight keys and nothing else: the copy becomes *current, and the
//   dialog is shown exactly when the play mode is "display";
// - every value is stored as its field holds it: floats truncated toward
//   zero, and a number beyond the 16-bit field pinned to -32768 or 32767;
// - anything else (a key missing, repeated or unknown, a value unreadable):
//   the user is told, the keys that were read are applied over factory
//   values, the dialog is shown in play modes 0 and 1 and not in silent mode,
//   where the message also goes into the host's errorString. One host that
//   records incomplete descriptors of its own keeps the restored settings and
//   always shows the dialog instead.
// Returns 0, or SCRIPTING_OUT_OF_MEMORY (reported) with nothing changed.
int16_t ReadScriptingParameters(const FilterRecord* record, ParameterSet* current, bool* showDialog);

// Replaces the host's descriptor by one holding the eight scripted fields of
// *current. Returns 0; -30900 when the host offers no write procedures; or
// the failing procedure's code after telling the user, with the host's old
// descriptor left in place.
int32_t WriteScriptingParameters(FilterRecord* record, const ParameterSet* current);
