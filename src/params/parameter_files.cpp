#include "params/parameter_files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/report.h"
#include "runtime/test_hooks.h"
#include "runtime/user_folders.h"

namespace {

constexpr char CAPTION_WARNING[] = "Debug:  Warning";
constexpr char CAPTION_INVALID[] = "Invalid Parameter Set";
constexpr char CAPTION_CONVERSION[] = "Parameter Set Conversion";

// One byte more than any file we write: reading that many tells an oversized
// file from a full-size one.
constexpr size_t READ_LIMIT = PARAMETER_BUFFER_SIZE + 1;

bool FileSystemReady(const char* path) {
  if (IsFileSystemInitialized()) return true;
  REPORT_DEBUG("File system not initialized - parameter file '%s' is not used.", path);
  return false;
}

void RemoveUnusableFile(const char* path) {
  if (std::remove(path) != 0) {
    const int error = errno;
    DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, static_cast<uint32_t>(error));
    ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR,
                  "_tremove() failed with error = '%d'. File to be deleted was '%s'", error, path);
  }
}

enum class Origin { ParametersFolder, Elsewhere };

// LoadPresetFile and ImportPresetFile: the same reading, different messages,
// and only files of our own folder are deleted.
bool ReadPreset(const char* path, ParameterSet* set, Origin origin) {
  if (path == nullptr || set == nullptr || !FileSystemReady(path)) return false;
  ParameterSet stored;
  const ParameterFileState state = ReadParameterFile(path, &stored);
  const bool own = origin == Origin::ParametersFolder;
  if (state == PARAMETER_FILE_USABLE) {
    *set = stored;
    return true;
  }
  if (state == PARAMETER_FILE_NOT_REGULAR) {
    // Not a file anyone saved: nothing of it is ours to delete.
    REPORT_USER(STYLE_ERROR, CAPTION_INVALID,
                "'%s' is not a Parameter Set file (it is not even a regular file) and cannot be used.", path);
    return false;
  }
  if (state == PARAMETER_FILE_INVALID) {
    if (own) {
      REPORT_USER(STYLE_ERROR, CAPTION_INVALID,
                  "Your Parameter Set file '%s' is invalid and cannot be used. The file is being deleted.\r\n", path);
    } else {
      REPORT_USER(STYLE_ERROR, CAPTION_INVALID, "Your Parameter Set file '%s' is invalid and cannot be used.", path);
    }
  } else if (own) {
    REPORT_USER(STYLE_ERROR, CAPTION_CONVERSION,
                "Your Parameter Set file '%s' (Major Version = '%d', Minor Version = '%d', Revision = '%d', "
                "Build = '%d')was saved in an obsolete format and cannot be converted. The file will be deleted.",
                path, stored.versionMajor, stored.versionMinor, stored.versionRevision, stored.versionBuild);
  } else {
    REPORT_USER(STYLE_ERROR, CAPTION_CONVERSION,
                "Your Parameter Set file '%s' (Major Version = '%d', Minor Version = '%d', Revision = '%d', "
                "Build = '%d')was saved in an obsolete format and cannot be converted.  Your current settings "
                "have not been changed.",
                path, stored.versionMajor, stored.versionMinor, stored.versionRevision, stored.versionBuild);
  }
  if (own) RemoveUnusableFile(path);
  return false;
}

// ReadSettingsFile says only whether something was read. Two reads into
// buffers prefilled differently tell how much: a byte the file supplied is
// the same in both, a byte it did not keeps the two different fillers.
bool ReadSettingsImage(const char* fileName, uint8_t* bytes, size_t* length) {
  uint8_t other[READ_LIMIT];
  std::memset(bytes, 0x00, READ_LIMIT);
  std::memset(other, 0xFF, READ_LIMIT);
  if (!ReadSettingsFile(fileName, bytes, READ_LIMIT)) return false;
  if (!ReadSettingsFile(fileName, other, READ_LIMIT)) return false;
  size_t n = 0;
  while (n < READ_LIMIT && bytes[n] == other[n]) ++n;
  *length = n;
  return true;
}

}  // namespace

ParameterFileState ReadParameterFileBytes(const char* name, const uint8_t* bytes, size_t length, ParameterSet* set) {
  if (name == nullptr || (bytes == nullptr && length != 0) || set == nullptr) return PARAMETER_FILE_INVALID;
  if (length < sizeof(ParameterSet)) {
    REPORT_DEBUG("Parameter file '%s' holds %u bytes, too few for a Parameter Set of %u.", name,
                 static_cast<unsigned>(length), static_cast<unsigned>(sizeof(ParameterSet)));
    return PARAMETER_FILE_INVALID;
  }
  if (length > PARAMETER_BUFFER_SIZE) {
    REPORT_DEBUG("Parameter file '%s' is longer than the %u bytes of a parameter file.", name,
                 static_cast<unsigned>(PARAMETER_BUFFER_SIZE));
    return PARAMETER_FILE_INVALID;
  }
  // Every version writes zeros after the set; anything else there means the
  // file was never a parameter file, whatever its first bytes look like.
  for (size_t i = sizeof(ParameterSet); i < length; ++i) {
    if (bytes[i] != 0) {
      REPORT_DEBUG("Parameter file '%s' has data after the Parameter Set (byte %u); it is not a parameter file.", name,
                   static_cast<unsigned>(i));
      return PARAMETER_FILE_INVALID;
    }
  }
  std::memcpy(set, bytes, sizeof(ParameterSet));
  return ParameterSetVersionMatches(set) ? PARAMETER_FILE_USABLE : PARAMETER_FILE_OBSOLETE;
}

void MakeParameterFileImage(const ParameterSet* set, uint8_t image[PARAMETER_BUFFER_SIZE]) {
  std::memset(image, 0, PARAMETER_BUFFER_SIZE);
  ParameterSet stamped = *set;
  StampCurrentVersion(&stamped);
  std::memcpy(image, &stamped, sizeof stamped);
}

void ReportParameterConversionFailure(const char* lead, const ParameterSet* stored) {
  DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
  ReportMessage(&message, STYLE_WARNING, CAPTION_WARNING,
                "%s  Stored version = %d.%d.%d.%d, current version = %d.%d.%d.%d\n", lead, stored->versionMajor,
                stored->versionMinor, stored->versionRevision, stored->versionBuild, CURRENT_PARAMETER_VERSION.major,
                CURRENT_PARAMETER_VERSION.minor, CURRENT_PARAMETER_VERSION.revision, CURRENT_PARAMETER_VERSION.build);
}

ParameterFileState ReadParameterFile(const char* path, ParameterSet* set) {
  if (path == nullptr || set == nullptr) return PARAMETER_FILE_INVALID;
  int openError = 0;
  const char* notRegular = nullptr;
  std::FILE* file = OpenRegularFileForReading(path, &openError, &notRegular);
  if (file == nullptr && notRegular != nullptr) {
    REPORT_DEBUG("Parameter file '%s' is %s, not a regular file; it is not read.", path, notRegular);
    return PARAMETER_FILE_NOT_REGULAR;
  }
  if (file == nullptr) {
    DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, static_cast<uint32_t>(openError));
    ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR,
                  "_tfopen() failed with FilePath = '%s'  and  error = '%s'", path, std::strerror(openError));
    return PARAMETER_FILE_INVALID;
  }
  uint8_t bytes[READ_LIMIT] = {};
  const size_t length = std::fread(bytes, 1, sizeof bytes, file);
  const int error = errno;
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed || length == 0) {
    DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, failed ? static_cast<uint32_t>(error) : 0);
    ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR, "fread() failed with errno = '%s'",
                  failed ? std::strerror(error) : "the file is empty");
    return PARAMETER_FILE_INVALID;
  }
  return ReadParameterFileBytes(path, bytes, length, set);
}

bool WriteParameterFile(const char* path, const ParameterSet* set) {
  if (path == nullptr || set == nullptr) return false;
  uint8_t image[PARAMETER_BUFFER_SIZE];
  MakeParameterFileImage(set, image);
  std::string temporary;
  int error = 0;
  ReplacingWriteStep step;
  try {
    const TestHooks* hooks = ActiveTestHooks();
    const bool stop = hooks != nullptr && hooks->stopParameterFileWriteBeforeReplace.load();
    step = WriteFileReplacing(path, image, sizeof image, stop, &temporary, &error);
  } catch (...) {
    REPORT_DEBUG("WriteParameterFile() ran out of memory for '%s'.", path);
    return false;
  }
  if (step == ReplacingWriteStep::Open || step == ReplacingWriteStep::Write) {
    DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, static_cast<uint32_t>(error));
    ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR,
                  step == ReplacingWriteStep::Open ? "_tfopen() failed with FilePath = '%s'  and  error = '%s'"
                                                   : "fwrite() failed with FilePath = '%s'  and  error = '%s'",
                  temporary.c_str(), std::strerror(error));
  }
  return step == ReplacingWriteStep::Done;
}

bool LoadLastSavedParameters(ParameterSet* set, const char* fileName) {
  if (set == nullptr || fileName == nullptr) return false;
  uint8_t bytes[READ_LIMIT];
  size_t length = 0;
  // A missing file (the first run ever) is traced by the reader.
  if (!ReadSettingsImage(fileName, bytes, &length)) return false;
  ParameterSet stored;
  switch (ReadParameterFileBytes(fileName, bytes, length, &stored)) {
    case PARAMETER_FILE_USABLE:
      *set = stored;
      return true;
    case PARAMETER_FILE_OBSOLETE:
      ReportParameterConversionFailure("No parameter file conversion could be done, using defaults.", &stored);
      return false;
    default:
      return false;
  }
}

bool SaveLastSavedParameters(const ParameterSet* current, const char* fileName) {
  if (current == nullptr || fileName == nullptr) return false;
  uint8_t image[PARAMETER_BUFFER_SIZE];
  MakeParameterFileImage(current, image);
  return WriteSettingsFile(fileName, image, sizeof image);
}

bool LoadPresetFile(const char* path, ParameterSet* set) { return ReadPreset(path, set, Origin::ParametersFolder); }

bool ImportPresetFile(const char* path, ParameterSet* set) { return ReadPreset(path, set, Origin::Elsewhere); }

bool SaveParametersFile(const char* path, const ParameterSet* current) {
  if (path == nullptr || current == nullptr || !FileSystemReady(path)) return false;
  if (WriteParameterFile(path, current)) return true;
  REPORT_DEBUG("SaveParametersFile() failed with FilePath = '%s'", path);
  return false;
}
