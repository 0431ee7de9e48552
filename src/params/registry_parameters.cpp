#include "params/registry_parameters.h"

#include <cstring>
#include <initializer_list>

#include "params/parameter_files.h"
#include "runtime/report.h"

namespace {

// The two suites, acquired together and released by the destructor with the
// versions they were acquired with.
class DescriptorSuites {
 public:
  explicit DescriptorSuites(const SPBasicSuite* basic) {
    if (basic == nullptr || basic->AcquireSuite == nullptr || basic->ReleaseSuite == nullptr) return;
    basic_ = basic;
    const void* suite = nullptr;
    if (basic->AcquireSuite(kPSDescriptorRegistrySuite, kPSDescriptorRegistrySuiteVersion, &suite) == kSPNoError &&
        suite != nullptr) {
      registry_ = static_cast<const PSDescriptorRegistryProcs*>(suite);
    }
    for (int32_t version : {kPSActionDescriptorSuiteVersion3, kPSActionDescriptorSuiteVersion2}) {
      suite = nullptr;
      if (basic->AcquireSuite(kPSActionDescriptorSuite, version, &suite) == kSPNoError && suite != nullptr) {
        descriptors_ = static_cast<const PSActionDescriptorProcs*>(suite);
        descriptorVersion_ = version;
        break;
      }
    }
  }

  ~DescriptorSuites() {
    if (descriptors_ != nullptr) basic_->ReleaseSuite(kPSActionDescriptorSuite, descriptorVersion_);
    if (registry_ != nullptr) basic_->ReleaseSuite(kPSDescriptorRegistrySuite, kPSDescriptorRegistrySuiteVersion);
  }

  DescriptorSuites(const DescriptorSuites&) = delete;
  DescriptorSuites& operator=(const DescriptorSuites&) = delete;

  // Both suites, with every procedure the parameter block needs (all within
  // version 2 of the descriptor suite).
  bool Usable() const {
    return registry_ != nullptr && descriptors_ != nullptr && registry_->Register != nullptr &&
           registry_->Get != nullptr && descriptors_->Make != nullptr && descriptors_->Free != nullptr &&
           descriptors_->PutData != nullptr && descriptors_->GetDataLength != nullptr &&
           descriptors_->GetData != nullptr;
  }
  const PSDescriptorRegistryProcs* registry() const { return registry_; }
  const PSActionDescriptorProcs* descriptors() const { return descriptors_; }

 private:
  const SPBasicSuite* basic_ = nullptr;
  const PSDescriptorRegistryProcs* registry_ = nullptr;
  const PSActionDescriptorProcs* descriptors_ = nullptr;
  int32_t descriptorVersion_ = 0;
};

// Reads the block of the registry entry into *set: 0, -30900 or -30905.
int16_t ReadBlock(const PSActionDescriptorProcs* descriptors, PIActionDescriptor descriptor, ParameterSet* set) {
  int32_t length = 0;
  if (descriptors->GetDataLength(descriptor, PARAMETER_BLOCK_KEY, &length) != noErr || length <= 0) {
    REPORT_DEBUG("ReadRegistryParameters() couldn't get the parameter block length or it was zero.");
    return errPlugInHostInsufficient;
  }
  // We store 255 bytes; a block too short to hold a set or longer than any
  // we write is not ours to trust (and is never allocated at its word).
  if (length < static_cast<int32_t>(sizeof(ParameterSet)) || length > static_cast<int32_t>(PARAMETER_BUFFER_SIZE)) {
    REPORT_DEBUG("ReadRegistryParameters() found a parameter block of %d bytes; %u to %u bytes were expected.",
                 static_cast<int>(length), static_cast<unsigned>(sizeof(ParameterSet)),
                 static_cast<unsigned>(PARAMETER_BUFFER_SIZE));
    return errPlugInHostInsufficient;
  }
  uint8_t block[PARAMETER_BUFFER_SIZE] = {};
  if (descriptors->GetData(descriptor, PARAMETER_BLOCK_KEY, block) != noErr) {
    REPORT_DEBUG("ReadRegistryParameters() couldn't read parameter data from the registry.");
    return errPlugInHostInsufficient;
  }
  ParameterSet stored;
  std::memcpy(&stored, block, sizeof stored);
  if (!ParameterSetVersionMatches(&stored)) {
    ReportParameterConversionFailure("No parameter conversion could be done, using defaults.", &stored);
    return errHostVersionIncompatible;
  }
  *set = stored;
  return noErr;
}

}  // namespace

int16_t ReadRegistryParameters(const SPBasicSuite* basic, ParameterSet* set) {
  if (set == nullptr) return errPlugInHostInsufficient;
  DescriptorSuites suites(basic);
  if (!suites.Usable()) return errPlugInHostInsufficient;

  PIActionDescriptor descriptor = nullptr;
  // Some hosts answer "nothing stored" with success and no descriptor.
  if (suites.registry()->Get(PARAMETER_REGISTRY_KEY, &descriptor) != noErr || descriptor == nullptr)
    return errPlugInHostInsufficient;
  const int16_t result = ReadBlock(suites.descriptors(), descriptor, set);
  suites.descriptors()->Free(descriptor);
  return result;
}

int16_t WriteRegistryParameters(const SPBasicSuite* basic, const ParameterSet* current) {
  if (current == nullptr) return errPlugInHostInsufficient;
  DescriptorSuites suites(basic);
  if (!suites.Usable()) return errPlugInHostInsufficient;

  PIActionDescriptor descriptor = nullptr;
  if (suites.descriptors()->Make(&descriptor) != noErr || descriptor == nullptr) {
    REPORT_DEBUG("WriteRegistryParameters() could not make a descriptor.");
    return errPlugInHostInsufficient;
  }
  uint8_t block[PARAMETER_BUFFER_SIZE];
  MakeParameterFileImage(current, block);
  int16_t result = noErr;
  if (suites.descriptors()->PutData(descriptor, PARAMETER_BLOCK_KEY, static_cast<int32_t>(sizeof block), block) !=
      noErr) {
    REPORT_DEBUG("WriteRegistryParameters() could not put the parameter block into the descriptor.");
    result = errPlugInHostInsufficient;
  } else if (suites.registry()->Register(PARAMETER_REGISTRY_KEY, descriptor, 1) != noErr) {
    REPORT_DEBUG("WriteRegistryParameters() failed to register the data.");
    result = errPlugInHostInsufficient;
  }
  suites.descriptors()->Free(descriptor);
  return result;
}
