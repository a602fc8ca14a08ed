#include "simulator/parameters.h"

#include "simulator/resources.h"
#include "simulator/scene.h"

#include "generated/firmwareversions.h"

#include <arpa/inet.h>

namespace trvsim {

namespace {
template <std::size_t N>
std::vector<std::pair<int, int>> versionPairs(const trvaxx::DescribedFirmwareVersion (&table)[N]) {
    std::vector<std::pair<int, int>> pairs;
    for (const auto& v : table)
        pairs.emplace_back(v.major, v.minor);
    return pairs;
}
} // namespace

std::vector<std::pair<int, int>> knownFirmwareVersions(Variant variant) {
    switch (variant) {
    case Variant::DI:
        return versionPairs(trvaxx::FIRMWARE_VERSIONS_DI);
    case Variant::OD:
        return versionPairs(trvaxx::FIRMWARE_VERSIONS_OD);
    case Variant::LG:
        return versionPairs(trvaxx::FIRMWARE_VERSIONS_LG);
    }
    return {};
}

bool isKnownFirmwareVersion(Variant variant, const FirmwareVersion& version) {
    for (const auto& v : knownFirmwareVersions(variant))
        if (v.first == version.major && v.second == version.minor)
            return true;
    return false;
}

std::vector<double> addressValues(const std::string& address) {
    in_addr a{};
    if (inet_pton(AF_INET, address.c_str(), &a) != 1)
        return {};
    const auto* b = reinterpret_cast<const uint8_t*>(&a.s_addr);
    return {double(b[0]), double(b[1]), double(b[2]), double(b[3])};
}

ParameterValues factoryParameters(const SimConfig& config) {
    ParameterValues v;
    const SensorIdentity& id = config.identity;
    const FirmwareVersion& fw = id.version;
    auto f = [](double x) { return std::vector<double>{double(static_cast<float>(x))}; };
    auto n = [](double x) { return std::vector<double>{x}; };

    v["BlockVersion"] = {double(fw.major), double(fw.minor), double(fw.patch)};

    // Network: the sensor's own address (factory 192.168.1.1 when bound to any address).
    const std::string own = config.sourceAddress == "0.0.0.0" ? "192.168.1.1" : config.sourceAddress;
    v["Ipv4AddressCamera"] = addressValues(own);
    v["SubnetMask"] = {255, 255, 255, 0};
    v["Ipv4AddressDestination"] = addressValues(config.destAddress);
    v["destinationUDPPort"] = n(config.destPort);
    v["EthernetOutputConfiguration"] = n(1);

    // Calibration: the camera pose the scene is seen from.
    const CameraPose pose = defaultCameraPose();
    v["PMDExtrCalib_camCal_transX"] = f(pose.transX);
    v["PMDExtrCalib_camCal_transY"] = f(pose.transY);
    v["PMDExtrCalib_camCal_transZ"] = f(pose.transZ);
    v["PMDExtrCalib_camCal_rotX"] = f(pose.rotX);
    v["PMDExtrCalib_camCal_rotY"] = f(pose.rotY);
    v["PMDExtrCalib_camCal_rotZ"] = f(pose.rotZ);
    v["PMDExtrCalib_IlluCal_transX"] = f(0.0);
    v["PMDExtrCalib_IlluCal_transY"] = f(0.04);
    v["PMDExtrCalib_IlluCal_transZ"] = f(-0.01);
    v["PMDExtrCalib_IlluCalibIsRelative"] = n(1);

    // Function parameters shared by the three variants' groups.
    for (const char* group : {"DistImageCust_", "ObjectListCust_", "LineGuidanceCust_"}) {
        const std::string g = group;
        v[g + "pixelPlausibilizationThresholds"] = n(2);
        v[g + "sprayRemovalSensitivity"] = n(1);
        v[g + "blockageSensitivity"] = n(1);
        v[g + "reflectorThresholdValue"] = f(1500.0);
        v[g + "spatialFilterXMin"] = f(0.5);
        v[g + "spatialFilterXMax"] = f(25.0);
        v[g + "spatialFilterYMin"] = f(-8.0);
        v[g + "spatialFilterYMax"] = f(8.0);
        v[g + "spatialFilterZMin"] = f(-0.5);
        v[g + "spatialFilterZMax"] = f(4.0);
        v[g + "autocalibrationMode"] = n(0);
    }
    v["DistImageCust_reflectorCloseRange"] = n(0);
    v["DistanceImageOnSwitch"] = n(1);
    v["DistImageCust_bfActive"] = n(0);
    v["DistImageCust_bfTemporalWindowSize"] = n(5);
    v["DistImageCust_bfOutputMode"] = n(0);

    v["ObjectListCust_objectDetectionVariant"] = n(1);
    v["ObjectListCust_ObjectDetectionZMin"] = f(0.1);
    v["ObjectListCust_ObjectDetectionZMax"] = f(3.0);
    v["ObjectListCust_EgoMotionDynamics"] = n(0);
    v["ObjectListCust_accBrake"] = f(3.0);
    v["ObjectListCust_egoVMin"] = f(0.0);
    v["ObjectListCust_egoVMax"] = f(8.0);
    v["ObjectListCust_delayBrake"] = f(0.3);
    v["ObjectListCust_CrashPredictorSensitivity"] = n(1);
    v["ObjectListCust_UseCaseApproach"] = n(0);
    v["ObjectListCust_EgoDataMode"] = n(0);
    v["ObjectListCust_cpActivate"] = n(1);
    v["ObjectListCust_cpDeactivateTimeAfterTrigger"] = f(2.0);
    v["ObjectListCust_cpMaxCrashObjectDistance"] = f(10.0);
    v["ObjectListCust_cpMinDistAllowed"] = f(0.5);
    v["VehicleDim_xMin"] = f(-4.0);
    v["VehicleDim_xMax"] = f(0.5);
    v["VehicleDim_yMin"] = f(-1.0);
    v["VehicleDim_yMax"] = f(1.0);
    v["VehicleDim_zMax"] = f(2.5);
    v["triggeredStreetCalibration"] = n(0);

    v["LineGuidanceCust_lineGuidanceMode"] = n(1);
    v["LineGuidanceCust_maxLineAngle"] = f(0.35);
    v["LineGuidanceCust_xMin"] = f(2.0);
    v["LineGuidanceCust_xMax"] = f(12.0);
    v["LineGuidanceCust_yMin"] = f(-3.0);
    v["LineGuidanceCust_yMax"] = f(3.0);
    v["LineGuidanceCust_minHeight"] = f(0.1);
    v["LineGuidanceCust_minWidth"] = f(0.5);
    v["LineGuidanceCust_maxWidth"] = f(3.0);
    v["LineGuidanceCust_skipStreetPlaneEstimation"] = n(0);
    v["LineGuidanceCust_EgoDataMode"] = n(0);
    v["LineGuidanceCust_referencePointXPos"] = f(0.0);
    v["LineGuidanceCust_referencePointYPos"] = f(0.0);
    v["LineGuidanceCust_referencePointZPos"] = f(0.0);
    v["LineGuidanceCust_steeringTTC"] = f(1.5);
    v["LineGuidanceCust_steeringXMax"] = f(8.0);
    v["LineGuidanceCust_steeringXMin"] = f(2.0);

    v["AutoCalibParam_numberOfPatterns"] = n(2);
    v["AutoCalibParam_xPattern"] = {3.0, 5.0, 0, 0, 0, 0, 0, 0};
    v["AutoCalibParam_yPattern"] = {-1.0, 1.0, 0, 0, 0, 0, 0, 0};
    v["AutoCalibParam_zPattern"] = {0, 0, 0, 0, 0, 0, 0, 0};
    v["AutoCalibParam_patternType"] = {1, 1, 0, 0, 0, 0, 0, 0};
    v["twoD_mirrorX"] = n(0);
    v["twoD_mirrorY"] = n(0);

    // KP block.
    v["BeginHeatingTemperature"] = n(-10);
    v["StopHeatingTemperature"] = n(0);
    v["CANProtocol"] = n(config.canopen ? 1 : 0);
    v["CANBaudrate"] = n(config.canBitRate ? config.canBitRate : 250000); // bit/s
    v["MasterSlaveConfiguration"] = n(0);
    v["J1939SourceAddress"] = n(config.canAddress >= 0 && !config.canopen ? config.canAddress : 239);
    v["CANopenNodeAddress"] = n(config.canAddress >= 0 && config.canopen ? config.canAddress : 10);
    v["CANMaxNumberOfObjects"] = n(20);
    v["CANMaxNumberOfLines"] = n(5);
    v["CANOutputCycleModulo"] = n(1);
    v["CycleTime"] = n(config.cycleTimeMs ? config.cycleTimeMs : 40);
    return v;
}

ParameterValues carriedParameters(const SimConfig& config, const ParameterValues& current) {
    ParameterValues values = factoryParameters(config);
    for (const auto& [name, value] : current)
        if (name != "BlockVersion")
            values[name] = value;
    return values;
}

bool ParameterState::load(const SensorIdentity& identity, const ParameterValues& values) {
    m_values = values;
    std::vector<uint8_t> bytes;
    std::string error;
    const std::string dspPath = dspParameterDescriptionPath(identity.variant, identity.version);
    if (!readResource(dspPath, bytes, error) || !m_dsp.setDescription(bytes)) {
        m_error = "no usable DSP parameter description " + dspPath + ": " +
                  (error.empty() ? m_dsp.errorText() : error);
        return false;
    }
    const std::string kpPath = kpParameterDescriptionPath(identity.variant, identity.version);
    error.clear();
    if (!readResource(kpPath, bytes, error) || !m_kp.setDescription(bytes)) {
        m_error = "no usable KP parameter description " + kpPath + ": " +
                  (error.empty() ? m_kp.errorText() : error);
        return false;
    }
    // The block names are the blocks' own, not parameters.
    ParameterValues all = m_values;
    all["BlockIdName"] = textValues("DSP_CPAR", 21);
    m_dsp.fill(all);
    all["BlockIdName"] = textValues("KP_CPAR", 21);
    m_kp.fill(all);
    return true;
}

void ParameterState::setValues(const ParameterValues& changes) {
    for (const auto& [name, value] : changes)
        m_values[name] = value;
    m_dsp.fill(changes);
    m_kp.fill(changes);
}

ParameterValues ParameterState::expected(const DescribedBlock& block, const std::string& path) const {
    ParameterValues out;
    std::map<std::string, std::size_t> used;
    for (const auto& leaf : block.leaves(path)) {
        auto& dst = out[leaf.name];
        if (leaf.arrayKey.empty())
            dst.clear();
        const auto it = m_values.find(leaf.name);
        std::size_t unused = 0;
        std::size_t& first = leaf.arrayKey.empty() ? unused : used[leaf.arrayKey];
        for (uint32_t i = 0; i < leaf.count; ++i)
            dst.push_back(it != m_values.end() && first + i < it->second.size() ? it->second[first + i]
                                                                                : 0.0);
        first += leaf.count;
    }
    return out;
}

double ParameterState::value(const std::string& name, double fallback) const {
    const auto it = m_values.find(name);
    return it == m_values.end() || it->second.empty() ? fallback : it->second.front();
}

} // namespace trvsim
