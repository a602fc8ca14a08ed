#include "simulator/cycleproducer.h"

#include "simulator/resources.h"

#include <cmath>

namespace trvsim {

namespace {

// The pixel direction table: unit view directions of all pixels in the camera frame, a large
// and constant channel, so the sensor sends it in parts over several cycles.
kvel::ITypePtr pixelDirectionType() {
    using namespace kvel;
    auto root = make_kvel_shared<StructType>("PixelDirectionTable_t", Dimensions{}, 0, 12292, LittleEndian);
    root->addMember(
        make_kvel_shared<ElementaryType>("numberOfPixels", Dimensions{}, 0, 4, KindUnsigned, LittleEndian));
    root->addMember(
        make_kvel_shared<ElementaryType>("direction", Dimensions{16, 64, 3}, 4, 4, KindFloat, LittleEndian));
    return root;
}

// The KP's own state, big-endian like everything the KP sends.
kvel::ITypePtr kpStatusType() {
    using namespace kvel;
    auto root = make_kvel_shared<StructType>("KpStatus_t", Dimensions{}, 0, 20, BigEndian);
    root->addMember(
        make_kvel_shared<ElementaryType>("cycleCounter", Dimensions{}, 0, 4, KindUnsigned, BigEndian));
    root->addMember(
        make_kvel_shared<ElementaryType>("CameraMainTemperature", Dimensions{}, 4, 4, KindFloat, BigEndian));
    root->addMember(
        make_kvel_shared<ElementaryType>("IlluTemperature", Dimensions{}, 8, 4, KindFloat, BigEndian));
    root->addMember(
        make_kvel_shared<ElementaryType>("uptimeMs", Dimensions{}, 12, 4, KindUnsigned, BigEndian));
    root->addMember(make_kvel_shared<ElementaryType>("OpMode", Dimensions{}, 16, 1, KindUnsigned, BigEndian));
    root->addMember(
        make_kvel_shared<ElementaryType>("heatingActive", Dimensions{}, 17, 1, KindUnsigned, BigEndian));
    root->addMember(
        make_kvel_shared<ElementaryType>("reserved", Dimensions{2}, 18, 1, KindUnsigned, BigEndian));
    return root;
}

std::string dotted(const std::vector<double>& bytes) {
    if (bytes.size() < 4)
        return "0.0.0.0";
    return std::to_string(int(bytes[0])) + "." + std::to_string(int(bytes[1])) + "." +
           std::to_string(int(bytes[2])) + "." + std::to_string(int(bytes[3]));
}

} // namespace

CycleProducer::CycleProducer(const SimConfig& config)
    : m_config(config), m_faults(config.faults, config.seed), m_truth(std::make_unique<FrameTruth>()) {
    m_dspParts.reserve(16);
    m_kpParts.reserve(4);
}

bool CycleProducer::loadLayout(const SensorIdentity& id, const ParameterValues& values, Layout& out,
                               std::string& error) const {
    if (!isKnownFirmwareVersion(id.variant, id.version)) {
        error = "no parameter descriptions for " + std::string(variantName(id.variant)) + " " +
                std::to_string(id.version.major) + "." + std::to_string(id.version.minor);
        return false;
    }
    for (const auto& [block, number] :
         {std::pair{&out.algo, channel::kAlgoOutput}, std::pair{&out.dspFrame, channel::kDspParameters},
          std::pair{&out.meas, channel::kIdentification}}) {
        std::vector<uint8_t> bytes;
        const std::string path = streamDescriptionPath(int(number), id.variant);
        if (!readResource(path, bytes, error))
            return false;
        if (!block->setDescription(std::move(bytes))) {
            error = path + ": " + block->errorText();
            return false;
        }
    }
    ResultFrameWriter writer; // checks that the result layout has what the writer needs
    if (!writer.init(out.algo, id.variant, error))
        return false;
    if (!out.params.load(id, values)) {
        error = out.params.errorText();
        return false;
    }
    return true;
}

void CycleProducer::adopt(const SensorIdentity& identity, Layout&& layout) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_config.identity = identity;
        m_algo = std::move(layout.algo);
        m_dspFrame = std::move(layout.dspFrame);
        m_meas = std::move(layout.meas);
        m_params = std::move(layout.params);
    }
    std::string unused; // loadLayout() checked this layout
    m_frameWriter.init(m_algo, identity.variant, unused);
    m_measMainTemperature = m_meas.accessor<float>("CameraMainTemperature");
    m_measIlluTemperature = m_meas.accessor<float>("IlluTemperature");
    m_measOpMode = m_meas.accessor<uint8_t>("OpMode");
    layOutParameters();
}

bool CycleProducer::applyIdentity(const SensorIdentity& identity, const ParameterValues& changes,
                                  std::string& error) {
    SimConfig next = m_config;
    next.identity = identity;
    ParameterValues values;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        values = carriedParameters(next, m_params.values());
    }
    for (const auto& [name, value] : changes)
        values[name] = value;
    Layout layout;
    if (!loadLayout(identity, values, layout, error))
        return false;
    adopt(identity, std::move(layout));
    return true;
}

bool CycleProducer::init(std::string& error) {
    Layout layout;
    if (!loadLayout(m_config.identity, factoryParameters(m_config), layout, error))
        return false;
    if (!m_directions.setRoot(pixelDirectionType())) {
        error = "pixel direction description: " + m_directions.errorText();
        return false;
    }
    if (!m_kpStatus.setRoot(kpStatusType())) {
        error = "KP status description: " + m_kpStatus.errorText();
        return false;
    }
    adopt(m_config.identity, std::move(layout));

    m_kpCycleCounter = m_kpStatus.accessor<uint32_t>("cycleCounter");
    m_kpMainTemperature = m_kpStatus.accessor<float>("CameraMainTemperature");
    m_kpIlluTemperature = m_kpStatus.accessor<float>("IlluTemperature");
    m_kpUptime = m_kpStatus.accessor<uint32_t>("uptimeMs");
    m_kpOpMode = m_kpStatus.accessor<uint8_t>("OpMode");

    // The pixel directions never change: written once.
    {
        const uint32_t pixels = kPixelCount;
        m_directions.put(m_directions.accessor<uint32_t>("numberOfPixels"), pixels);
        std::vector<float> directions(kPixelCount * 3);
        constexpr double kPitch = 0.0207;
        for (int r = 0; r < kSensorHeight; ++r)
            for (int c = 0; c < kSensorWidth; ++c) {
                const double x = std::tan((c - 31.5) * kPitch), y = std::tan((r - 7.5) * kPitch);
                const double n = std::sqrt(x * x + y * y + 1.0);
                float* d = &directions[(r * kSensorWidth + c) * 3];
                d[0] = static_cast<float>(x / n);
                d[1] = static_cast<float>(y / n);
                d[2] = static_cast<float>(1.0 / n);
            }
        m_directions.put(m_directions.accessor<float>("direction"), directions.data(), kPixelCount * 3);
    }
    return true;
}

SceneSettings CycleProducer::sceneSettings() const {
    SceneSettings s;
    s.variant = m_config.identity.variant;
    s.seed = m_config.seed;
    s.cycleTimeMs = static_cast<uint32_t>(m_params.value("CycleTime", 40));
    s.pose.transX = static_cast<float>(m_params.value("PMDExtrCalib_camCal_transX"));
    s.pose.transY = static_cast<float>(m_params.value("PMDExtrCalib_camCal_transY"));
    s.pose.transZ = static_cast<float>(m_params.value("PMDExtrCalib_camCal_transZ"));
    s.pose.rotX = static_cast<float>(m_params.value("PMDExtrCalib_camCal_rotX"));
    s.pose.rotY = static_cast<float>(m_params.value("PMDExtrCalib_camCal_rotY"));
    s.pose.rotZ = static_cast<float>(m_params.value("PMDExtrCalib_camCal_rotZ"));
    s.vehicleXMax = static_cast<float>(m_params.value("VehicleDim_xMax", 0.5));
    s.vehicleYMin = static_cast<float>(m_params.value("VehicleDim_yMin", -1.0));
    s.vehicleYMax = static_cast<float>(m_params.value("VehicleDim_yMax", 1.0));
    if (m_config.identity.variant == Variant::LG &&
        m_dspFrame.has("DspCustomerParameter.LineGuidanceCust_referencePointXPos")) {
        s.refPoint = {static_cast<float>(m_params.value("LineGuidanceCust_referencePointXPos")),
                      static_cast<float>(m_params.value("LineGuidanceCust_referencePointYPos")),
                      static_cast<float>(m_params.value("LineGuidanceCust_referencePointZPos"))};
    }
    s.carriesCalibration2d = m_frameWriter.carriesCalibration2d();
    return s;
}

void CycleProducer::layOutParameters() {
    ParameterValues values = m_params.values();
    values["BlockIdName"] = textValues("DSP_CPAR", 21);
    m_dspFrame.fill(values);

    const SensorIdentity& id = m_config.identity;
    const FirmwareVersion& fw = id.version;
    values["BlockIdName"] = textValues("KP_CPAR", 21);
    values["SoftwareVersion"] = {double(fw.major), double(fw.minor), double(fw.patch)};
    values["CameraVariant"] = textValues(std::string(variantName(id.variant)) + " ", 3);
    values["CameraPartNumber"] = textValues(modelName(id.model), 6);
    values["CameraSerialNumber"] = textValues(id.serialNumber, 20);
    values["OpMode"] = {34};
    m_meas.fill(values);

    std::lock_guard<std::mutex> lock(m_mutex);
    m_scene = std::make_shared<const Scene>(sceneSettings());
}

void CycleProducer::applyParameters(const ParameterValues& changes) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_params.setValues(changes);
    }
    layOutParameters();
}

void CycleProducer::appendChannel(std::vector<ChannelPart>& parts, uint32_t number,
                                  const std::vector<uint8_t>& bytes) {
    ChannelPart p;
    p.channel = number;
    p.body = bytes.data();
    p.bodySize = static_cast<uint32_t>(bytes.size());
    p.totalSize = p.bodySize;
    p.faults = m_faults.nextChannel();
    parts.push_back(p);
}

void CycleProducer::produce(uint32_t frameCounter, DatagramBatch& batch) {
    std::shared_ptr<const Scene> scene;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        scene = m_scene;
    }
    FrameTruth& t = *m_truth;
    scene->render(frameCounter, t);
    m_frameWriter.write(t);
    m_meas.put(m_measMainTemperature, t.cameraMainTemperature);
    m_meas.put(m_measIlluTemperature, t.illuTemperature);
    m_meas.put(m_measOpMode, t.opMode);
    const uint32_t kpCycle = m_kpCycle++;
    m_kpStatus.put(m_kpCycleCounter, kpCycle);
    m_kpStatus.put(m_kpMainTemperature, t.cameraMainTemperature);
    m_kpStatus.put(m_kpIlluTemperature, t.illuTemperature);
    m_kpStatus.put(m_kpUptime, static_cast<uint32_t>(uint64_t(kpCycle) * scene->settings().cycleTimeMs));
    m_kpStatus.put(m_kpOpMode, t.opMode);

    batch.clear();
    composeSubDevices(frameCounter, kpCycle, m_dsp, m_kp, batch);
    if (m_config.faults.secondSender) {
        // Another sensor with the same address: its own counters, a different cycle count.
        composeSubDevices(frameCounter + 7919u, kpCycle + 7919u, m_otherDsp, m_otherKp, batch);
    }
    m_faults.applyToDatagrams(batch);
}

void CycleProducer::composeSubDevices(uint32_t frameCounter, uint32_t kpCycle, DatagramComposer& dsp,
                                      DatagramComposer& kp, DatagramBatch& batch) {
    const bool withLrc = !m_config.faults.noLrc;
    m_dspParts.clear();
    appendChannel(m_dspParts, channel::kAlgoOutput, m_algo.data());
    appendChannel(m_dspParts, channel::kAlgoOutput + 1, m_algo.description());
    appendChannel(m_dspParts, channel::kDspParameters, m_dspFrame.data());
    appendChannel(m_dspParts, channel::kDspParameters + 1, m_dspFrame.description());

    // One part of the pixel direction table per cycle; its description travels with part 0, so
    // that both land in the cycle the transmission is filed under.
    const uint16_t part =
        static_cast<uint16_t>((frameCounter - m_config.firstFrameCounter) % kPixelDirectionParts);
    const auto& table = m_directions.data();
    const uint32_t total = static_cast<uint32_t>(table.size());
    const uint32_t partSize = (total + kPixelDirectionParts - 1) / kPixelDirectionParts;
    ChannelPart p;
    p.channel = channel::kPixelDirections;
    p.offset = part * partSize;
    p.body = table.data() + p.offset;
    p.bodySize = std::min(partSize, total - p.offset);
    p.currentPart = part;
    p.numberOfParts = kPixelDirectionParts;
    p.totalSize = total;
    p.faults = m_faults.nextChannel();
    m_dspParts.push_back(p);
    if (part == 0)
        appendChannel(m_dspParts, channel::kPixelDirections + 1, m_directions.description());

    appendChannel(m_dspParts, channel::kIdentification, m_meas.data());
    appendChannel(m_dspParts, channel::kIdentification + 1, m_meas.description());
    dsp.compose(frameCounter, m_dspParts.data(), m_dspParts.size(), batch, withLrc);

    m_kpParts.clear();
    appendChannel(m_kpParts, channel::kKpStatus, m_kpStatus.data());
    appendChannel(m_kpParts, channel::kKpStatus + 1, m_kpStatus.description());
    kp.compose(kpCycle, m_kpParts.data(), m_kpParts.size(), batch, withLrc);
}

void CycleProducer::renderTruth(uint32_t frameCounter, FrameTruth& out) const {
    std::shared_ptr<const Scene> scene;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        scene = m_scene;
    }
    scene->render(frameCounter, out);
}

IdentificationTruth CycleProducer::identification() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const SensorIdentity& id = m_config.identity;
    IdentificationTruth t;
    t.softwareVersion = id.version.text();
    t.cameraVariant = variantName(id.variant);
    t.partNumber = modelName(id.model);
    t.serialNumber = id.serialNumber.substr(0, 20);
    t.canBaudrate = static_cast<uint32_t>(m_params.value("CANBaudrate"));
    t.canProtocol = static_cast<uint8_t>(m_params.value("CANProtocol"));
    t.j1939SourceAddress = static_cast<uint8_t>(m_params.value("J1939SourceAddress"));
    t.canopenNodeAddress = static_cast<uint8_t>(m_params.value("CANopenNodeAddress"));
    return t;
}

ParameterValues CycleProducer::dspParameters() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    ParameterValues out = m_params.expected(m_dspFrame, "DspCustomerParameter");
    for (auto& [name, value] : m_params.expected(m_params.dspBlock()))
        out.emplace(name, value);
    out.erase("BlockIdName");
    return out;
}

ParameterValues CycleProducer::kpParameters() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    ParameterValues out = m_params.expected(m_meas, "KpCustomerParameter");
    for (auto& [name, value] : m_params.expected(m_params.kpBlock()))
        out.emplace(name, value);
    out.erase("BlockIdName");
    return out;
}

uint32_t CycleProducer::cycleTimeMs() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<uint32_t>(m_params.value("CycleTime", 40));
}

std::string CycleProducer::destinationAddress() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_params.values().find("Ipv4AddressDestination");
    return it == m_params.values().end() ? m_config.destAddress : dotted(it->second);
}

uint16_t CycleProducer::destinationPort() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<uint16_t>(m_params.value("destinationUDPPort", m_config.destPort));
}

} // namespace trvsim
