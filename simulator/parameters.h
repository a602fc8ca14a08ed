#pragma once
// The sensor's customer parameters: one set of values by member name, laid out into the DSP and
// KP parameter blocks by the parameter descriptions of its variant and version (what the CAN
// side reads and writes), and into the customer-parameter structures of the result stream.

#include "simulator/describedblock.h"
#include "simulator/frametruth.h"
#include "simulator/simconfig.h"

#include <string>
#include <vector>

namespace trvsim {

// Firmware versions (major, minor) for which parameter descriptions exist.
std::vector<std::pair<int, int>> knownFirmwareVersions(Variant variant);
bool isKnownFirmwareVersion(Variant variant, const FirmwareVersion& version);

// Factory values, with the configuration's addresses, port and cycle time.
ParameterValues factoryParameters(const SimConfig& config);

// The values a sensor restarting with new firmware (identity in config) starts from: its
// factory values, overlaid by the current ones, so values whose names both layouts know are kept;
// the block version is the new firmware's.
ParameterValues carriedParameters(const SimConfig& config, const ParameterValues& current);

// Four bytes of a dotted IPv4 address; empty when it is not one.
std::vector<double> addressValues(const std::string& address);

class ParameterState {
public:
    // Loads both parameter descriptions and lays the values out. False with errorText().
    bool load(const SensorIdentity& identity, const ParameterValues& values);

    const ParameterValues& values() const { return m_values; }
    // Changes values and lays the blocks out again.
    void setValues(const ParameterValues& changes);

    const DescribedBlock& dspBlock() const { return m_dsp; }
    const DescribedBlock& kpBlock() const { return m_kp; }

    // The values a receiver must find in block (below path): every leaf with its set value, 0
    // for members without one.
    ParameterValues expected(const DescribedBlock& block, const std::string& path = std::string()) const;

    // One value (first element) by member name, or fallback.
    double value(const std::string& name, double fallback = 0.0) const;

    const std::string& errorText() const { return m_error; }

private:
    ParameterValues m_values;
    DescribedBlock m_dsp;
    DescribedBlock m_kp;
    std::string m_error;
};

} // namespace trvsim
