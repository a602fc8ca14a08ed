#include "tests/support/resultstreambuilder.h"

#include "kvel/kvel_parse.h"

#include <QFile>

#include <mutex>
#include <stdexcept>

// The resource objects sit in a static library: registering them keeps the linker from dropping
// them. Q_INIT_RESOURCE declares functions of the global namespace.
static void initStreamDescriptions() {
    static std::once_flag once;
    std::call_once(once, [] { Q_INIT_RESOURCE(trvaxx_stream_descriptions); });
}

namespace resulttest {

namespace {

const char* const functions[] = {"DistImageCust", "ObjectListCust", "LineGuidanceCust"};

void makeChannel(Channel& channel, int number, const kvel::ITypePtr& root) {
    channel.number = number;
    channel.root = root;
    channel.description = kvel::write(root);
    channel.data.assign(root->size(), 0);
}

// The sensor's own description of a channel, as the plug-in embeds it.
kvel::ITypePtr streamDescription(int channel, Variant variant) {
    initStreamDescriptions();
    QFile file(QStringLiteral(":/streamdescription/%1_%2.kvd")
                   .arg(channel)
                   .arg(QString::fromStdString(CycleBuilder::variantText(variant))));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("no embedded description " + file.fileName().toStdString());
    const QByteArray bytes = file.readAll();
    return kvel::parse(bytes.constData(), size_t(bytes.size()));
}

// The parameter block inside its channel root: members at consecutive offsets in declaration order,
// floats where 4 bytes wide, unsigned otherwise.
kvel::ITypePtr parameterLayout() {
    using Names = std::initializer_list<const char*>;
    std::vector<kvel::ITypePtr> members;
    uint32_t offset = 0;
    const auto add = [&](uint32_t size, const std::string& prefix, Names names, uint32_t count = 1) {
        for (const char* name : names) {
            members.push_back(kvel::make_kvel_shared<kvel::ElementaryType>(
                prefix + name, count == 1 ? kvel::Dimensions{} : kvel::Dimensions{count}, offset, size,
                size == 4 ? kvel::KindFloat : kvel::KindUnsigned, kvel::LittleEndian));
            offset += size * count;
        }
    };
    add(1, "", {"Ipv4AddressCamera", "SubnetMask", "Ipv4AddressDestination"}, 4);
    add(2, "", {"destinationUDPPort"});
    add(1, "", {"EthernetOutputConfiguration"});
    add(4, "PMDExtrCalib_camCal_", {"transX", "transY", "transZ", "rotX", "rotY", "rotZ"});
    add(4, "PMDExtrCalib_IlluCal_", {"transX", "transY", "transZ"});
    add(1, "", {"PMDExtrCalib_IlluCalibIsRelative"});
    for (const char* f : functions) {
        const std::string p = std::string(f) + "_";
        add(1, p, {"pixelPlausibilizationThresholds", "sprayRemovalSensitivity", "blockageSensitivity"});
        add(4, p, {"reflectorThresholdValue"});
        add(4, p + "spatialFilter", {"XMin", "XMax", "YMin", "YMax", "ZMin", "ZMax"});
        add(1, p, {"autocalibrationMode"});
    }
    add(1, "", {"DistImageCust_reflectorCloseRange", "DistanceImageOnSwitch"});
    add(1, "ObjectListCust_", {"objectDetectionVariant"});
    add(4, "ObjectListCust_", {"ObjectDetectionZMin", "ObjectDetectionZMax"});
    add(1, "ObjectListCust_", {"EgoMotionDynamics"});
    add(4, "ObjectListCust_", {"accBrake", "egoVMin", "egoVMax", "delayBrake"});
    add(1, "ObjectListCust_", {"CrashPredictorSensitivity"});
    add(4, "VehicleDim_", {"xMin", "xMax", "yMin", "yMax", "zMax"});
    add(1, "ObjectListCust_", {"EgoDataMode", "cpActivate"});
    add(4, "ObjectListCust_",
        {"cpDeactivateTimeAfterTrigger", "cpMaxCrashObjectDistance", "cpMinDistAllowed"});
    add(1, "", {"triggeredStreetCalibration", "LineGuidanceCust_lineGuidanceMode"});
    add(4, "LineGuidanceCust_",
        {"maxLineAngle", "xMin", "xMax", "yMin", "yMax", "minHeight", "minWidth", "maxWidth"});
    add(1, "LineGuidanceCust_", {"skipStreetPlaneEstimation", "EgoDataMode"});
    add(4, "LineGuidanceCust_",
        {"referencePointXPos", "referencePointYPos", "referencePointZPos", "steeringTTC", "steeringXMax",
         "steeringXMin"});
    add(1, "AutoCalibParam_", {"numberOfPatterns"});
    add(4, "AutoCalibParam_", {"xPattern", "yPattern", "zPattern"}, 8);
    add(1, "AutoCalibParam_", {"patternType"}, 8);
    add(1, "twoD_", {"mirrorX", "mirrorY"});
    auto block = kvel::make_kvel_shared<kvel::StructType>("DspCustomerParameter", kvel::Dimensions{}, 0,
                                                          offset, kvel::LittleEndian);
    for (const kvel::ITypePtr& m : members)
        block->addMember(m);
    auto root = kvel::make_kvel_shared<kvel::StructType>("SDspFrameCustomerKvel_t", kvel::Dimensions{}, 0,
                                                         offset, kvel::LittleEndian);
    root->addMember(block);
    return root;
}

// The identification block (big-endian, like the sensor's communication processor) with the
// element kind of CameraVariant chosen.
kvel::ITypePtr identityLayout(Variant variant, bool unsignedVariant) {
    const kvel::ITypePtr real = streamDescription(256, variant);
    auto root = kvel::make_kvel_shared<kvel::StructType>(real->name(), real->dimensions(), real->offset(),
                                                         real->size(), real->byteOrder());
    for (const kvel::ITypePtr& m : real->members())
        root->addMember(m->name() != "CameraVariant"
                            ? m
                            : kvel::make_kvel_shared<kvel::ElementaryType>(
                                  m->name(), m->dimensions(), m->offset(), m->size(),
                                  unsignedVariant ? kvel::KindUnsigned : kvel::KindSigned, m->byteOrder()));
    return root;
}

void setText(Channel& c, const std::string& path, const std::string& text, uint32_t length, bool asUnsigned) {
    std::vector<uint8_t> bytes(length, 0);
    for (size_t i = 0; i < text.size() && i < length; ++i)
        bytes[i] = uint8_t(text[i]);
    if (asUnsigned)
        c.set(path, bytes.data(), length);
    else
        c.set(path, reinterpret_cast<const int8_t*>(bytes.data()), length);
}

} // namespace

std::string CycleBuilder::variantText(Variant v) {
    return v == Variant::DI ? "DI" : v == Variant::OD ? "OD" : "LG";
}

CycleBuilder::CycleBuilder(Variant variant, const Identification& id) {
    makeChannel(algo, 8, streamDescription(8, variant));
    makeChannel(parameters, 14, parameterLayout());
    makeChannel(identity, 256, identityLayout(variant, id.unsignedVariant));
    const std::string m = "Meas_Customer_Data_Type.";
    identity.set(m + "SoftwareVersion", id.softwareVersion, 3);
    setText(identity, m + "CameraVariant", id.variant, 3, id.unsignedVariant);
    setText(identity, m + "CameraPartNumber", id.partNumber, 6, false);
    setText(identity, m + "CameraSerialNumber", id.serialNumber, 20, false);
}

void CycleBuilder::fillImage(uint32_t frameCounter) {
    const std::string a = "AlgoIFOutput.distanceImageResult.";
    algo.set<uint16_t>(a + "sensorWidth", 64);
    algo.set<uint16_t>(a + "sensorHeight", 16);
    std::vector<float> x(1024), y(1024), z(1024);
    std::vector<uint16_t> distance(1024), confidence(1024), amplitude(1024);
    for (int i = 0; i < 1024; ++i) {
        const int col = i % 64, row = i / 64;
        x[size_t(i)] = 2.0f + 0.05f * float(i % 97);
        y[size_t(i)] = -1.6f + 0.05f * float(col);
        z[size_t(i)] = 0.3f + 0.04f * float(row);
        distance[size_t(i)] = uint16_t(1000 + i);
        confidence[size_t(i)] = uint16_t((i % 4) << 1); // all four normalisation factors
        amplitude[size_t(i)] = uint16_t(100 + (i * 7) % 3000);
    }
    for (const auto& [name, values] : {std::pair{"X", &x}, {"Y", &y}, {"Z", &z}})
        algo.set(a + name, values->data(), 1024);
    for (const auto& [name, values] :
         {std::pair{"distanceData", &distance}, {"confidence", &confidence}, {"amplitude", &amplitude}})
        algo.set(a + name, values->data(), 1024);
    const float normalization[4] = {1.0f, 2.0f, 4.0f, 8.0f};
    algo.set(a + "amplitude_normalization", normalization, 4);
    algo.set<uint32_t>(a + "masterclockTimestamp", 40u * frameCounter);
    algo.set<uint32_t>(a + "frameCounter", frameCounter);
    algo.set<uint32_t>(a + "available", 0x05u);
    const std::pair<const char*, float> pose[] = {{"transX", 0.1f}, {"transY", -0.2f}, {"transZ", 1.3f},
                                                  {"rotX", 0.1f},   {"rotY", -0.05f},  {"rotZ", 0.02f}};
    for (const auto& [name, value] : pose)
        algo.set<float>(a + "cameraCalibration." + name, value);
}

std::vector<KvelChunk> CycleBuilder::chunks(const std::vector<const Channel*>& which) const {
    std::vector<KvelChunk> list;
    for (const Channel* c : which)
        list.emplace_back(reinterpret_cast<const char*>(c->description.data()),
                          uint32_t(c->description.size()), reinterpret_cast<const char*>(c->data.data()),
                          uint32_t(c->data.size()), c->number);
    return list;
}

} // namespace resulttest
