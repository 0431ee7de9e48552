#pragma once
// Parameter files: a Parameter Set on disk, as "LastSavedParameters.sss" in
// the settings folder and as named presets ("*.sss") in the parameters folder
// or anywhere the user picks.
//
// A file is written as exactly 255 bytes: the 40-byte set, stamped with the
// current version, then zeros. Writes go to a temporary file beside the
// target, which then replaces it in one step, so a crash or a full disk
// leaves the old file or the new one, never a damaged one.
//
// A file is usable when it holds 40 to 255 bytes (a whole set, and no more
// than we ever write), nothing but zeros after the set, and the current
// version stamp. Anything shorter, longer, unreadable or with data after the
// set is invalid (damaged, or some other program's file); a file of our form
// with another version is obsolete (no older layout can be converted).
//
// No file is read or written while the user data folders could not be made.
#include <cstddef>
#include <cstdint>

#include "params/parameter_set.h"

inline constexpr char LAST_SAVED_PARAMETERS_FILE[] = "LastSavedParameters.sss";
inline constexpr char PARAMETER_FILE_EXTENSION[] = "sss";

// The 255-byte file and registry image of a set: the set with the current
// version stamp, then zeros.
void MakeParameterFileImage(const ParameterSet* set, uint8_t image[PARAMETER_BUFFER_SIZE]);

// Debug warning for a stored set of another version: "<lead>  Stored version
// = a.b.c.d, current version = 0.0.0.5".
void ReportParameterConversionFailure(const char* lead, const ParameterSet* stored);

// "LastSavedParameters.sss" in the settings folder (tests pass a name of
// their own). Load: true when the file held a usable set, now in *set; a
// missing file is only traced, an invalid or obsolete one reported; *set is
// untouched unless true. Save: true when the file was replaced.
bool LoadLastSavedParameters(ParameterSet* set, const char* fileName = LAST_SAVED_PARAMETERS_FILE);
bool SaveLastSavedParameters(const ParameterSet* current, const char* fileName = LAST_SAVED_PARAMETERS_FILE);

// A preset file in the parameters folder. An invalid or obsolete one is
// reported to the user and deleted; a folder, named pipe or device of that
// name is reported and left alone. True with the set in *set.
bool LoadPresetFile(const char* path, ParameterSet* set);
// A file from anywhere else: reported the same way but never deleted.
bool ImportPresetFile(const char* path, ParameterSet* set);
// Writes the 255-byte image of *current to path, replacing any file there.
bool SaveParametersFile(const char* path, const ParameterSet* current);

// The plain file operations under the three above, by full path; each
// reports its own failures as Debug Messages.
enum ParameterFileState {
  PARAMETER_FILE_USABLE,
  PARAMETER_FILE_INVALID,      // unreadable, empty, truncated, oversized or foreign
  PARAMETER_FILE_OBSOLETE,     // another version; *set holds it for the messages
  PARAMETER_FILE_NOT_REGULAR,  // a folder, named pipe or device: never opened for reading, never deleted
};
ParameterFileState ReadParameterFile(const char* path, ParameterSet* set);
// The verdict on the bytes of a parameter file already in memory, as both
// readers above give it once they have read the file (`name` labels the
// reports). *set is written unless the verdict is PARAMETER_FILE_INVALID.
ParameterFileState ReadParameterFileBytes(const char* name, const uint8_t* bytes, size_t length, ParameterSet* set);
bool WriteParameterFile(const char* path, const ParameterSet* set);
