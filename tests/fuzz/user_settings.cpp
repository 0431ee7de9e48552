// The module's stored settings ("LastSavedParameters.sss" in the settings
// folder), read through the settings-file reader, which cannot tell how many
// bytes it read and finds out by reading twice. The input is the file's
// bytes. The result must match the verdict on the first 256 bytes (all the
// reader takes), a failed read must leave the caller's set alone, and a
// loaded set must save and load back equal. (What a stored set draws is the
// parameter_file target's part.)
#include <algorithm>

#include "fuzz_support.h"
#include "params/parameter_files.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpModule();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    char folder[USER_FOLDER_PATH_CHARS];
    FUZZ_CHECK(GetUserDataFolder(folder, sizeof folder));
    return std::string(folder) + "/" + LAST_SAVED_PARAMETERS_FILE;
  }();
  fuzz::WriteFile(path, data, size);

  ParameterSet expected{};
  const bool usable =
      size > 0 && ReadParameterFileBytes("input", data, std::min<size_t>(size, PARAMETER_BUFFER_SIZE + 1), &expected) ==
                      PARAMETER_FILE_USABLE;
  ParameterSet loaded = FACTORY_PARAMETER_SET;
  FUZZ_CHECK(LoadLastSavedParameters(&loaded) == usable);
  FUZZ_CHECK(std::memcmp(&loaded, usable ? &expected : &FACTORY_PARAMETER_SET, sizeof loaded) == 0);
  if (!usable) return 0;

  FUZZ_CHECK(SaveLastSavedParameters(&loaded));
  ParameterSet reloaded{};
  FUZZ_CHECK(LoadLastSavedParameters(&reloaded));
  FUZZ_CHECK(ParameterSetsEqual(&reloaded, &loaded));
  return 0;
}
