// Parameter Set files ("*.sss" presets): the input is a file's bytes, read
// from memory and from disk through both preset readers. The readers must
// agree with the verdict on the bytes, leave the caller's set alone unless
// they succeed, delete only unusable files of our own folder, and a usable
// set must survive a save and a read and be drawable.
#include <sys/stat.h>

#include "fuzz_support.h"
#include "params/parameter_files.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpModule();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ParameterSet set{};
  const ParameterFileState state = ReadParameterFileBytes("input.sss", data, size, &set);
  const bool usable = state == PARAMETER_FILE_USABLE;

  static const std::string path = std::string(fuzz::Home()) + "/input.sss";
  fuzz::WriteFile(path, data, size);
  ParameterSet imported = FACTORY_PARAMETER_SET;
  FUZZ_CHECK(ImportPresetFile(path.c_str(), &imported) == usable);
  FUZZ_CHECK(std::memcmp(&imported, usable ? &set : &FACTORY_PARAMETER_SET, sizeof set) == 0);
  ParameterSet preset = FACTORY_PARAMETER_SET;
  FUZZ_CHECK(LoadPresetFile(path.c_str(), &preset) == usable);
  FUZZ_CHECK(std::memcmp(&preset, &imported, sizeof set) == 0);
  struct stat info;
  FUZZ_CHECK((stat(path.c_str(), &info) == 0) == usable);
  if (!usable) return 0;

  FUZZ_CHECK(SaveParametersFile(path.c_str(), &set));
  FUZZ_CHECK(stat(path.c_str(), &info) == 0 && info.st_size == static_cast<off_t>(PARAMETER_BUFFER_SIZE));
  ParameterSet reread{};
  FUZZ_CHECK(ReadParameterFile(path.c_str(), &reread) == PARAMETER_FILE_USABLE);
  FUZZ_CHECK(ParameterSetsEqual(&reread, &set));
  fuzz::DrawWith(set, static_cast<unsigned>(size));
  return 0;
}
