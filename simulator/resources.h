#pragma once
// Access to the embedded descriptions (Qt resources of the stream and parameter descriptions).

#include "simulator/simconfig.h"

#include <cstdint>
#include <string>
#include <vector>

namespace trvsim {

// Makes sure the resource objects linked from the static libraries are registered.
void initSimulatorResources();

// Whole content of a resource (":/..."); false with error when it cannot be read.
bool readResource(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

// ":/streamdescription/<channel>_<VARIANT>.kvd"
std::string streamDescriptionPath(int channel, Variant variant);
// ":/paramdescription/DSP_CPAR_OD_3_4.kvd" and the KP_CPAR counterpart.
std::string dspParameterDescriptionPath(Variant variant, const FirmwareVersion& version);
std::string kpParameterDescriptionPath(Variant variant, const FirmwareVersion& version);

} // namespace trvsim
