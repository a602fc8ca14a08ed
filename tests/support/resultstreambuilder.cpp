#include "tests/support/resultstreambuilder.h"

#include "kvel/kvel_interpret.h"
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

template <class T> void Channel::set(const std::string& path, const T* values, uint32_t count) {
    kvel::write(root, path, values, count, data.data(), data.size());
}
template void Channel::set<uint8_t>(const std::string&, const uint8_t*, uint32_t);
template void Channel::set<int8_t>(const std::string&, const int8_t*, uint32_t);
template void Channel::set<uint16_t>(const std::string&, const uint16_t*, uint32_t);
template void Channel::set<uint32_t>(const std::string&, const uint32_t*, uint32_t);
template void Channel::set<int32_t>(const std::string&, const int32_t*, uint32_t);
template void Channel::set<float>(const std::string&, const float*, uint32_t);

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

// The parameter block inside its channel root: members at consecutive offsets in declaration order.
class ParameterLayout {
public:
    ParameterLayout& add(const std::string& name, uint32_t kind, uint32_t size, kvel::Dimensions dims) {
        uint32_t count = 1;
        for (uint32_t d : dims)
            count *= d;
        members.push_back(kvel::make_kvel_shared<kvel::ElementaryType>(name, std::move(dims), offset, size,
                                                                       kind, kvel::LittleEndian));
        offset += size * count;
        return *this;
    }
    ParameterLayout& u8(const std::string& name, kvel::Dimensions dims = {}) {
        return add(name, kvel::KindUnsigned, 1, std::move(dims));
    }
    ParameterLayout& u16(const std::string& name) { return add(name, kvel::KindUnsigned, 2, {}); }
    ParameterLayout& f32(const std::string& name, kvel::Dimensions dims = {}) {
        return add(name, kvel::KindFloat, 4, std::move(dims));
    }
    kvel::ITypePtr finish() const {
        auto block = kvel::make_kvel_shared<kvel::StructType>("DspCustomerParameter", kvel::Dimensions{}, 0,
                                                              offset, kvel::LittleEndian);
        for (const kvel::ITypePtr& m : members)
            block->addMember(m);
        auto root = kvel::make_kvel_shared<kvel::StructType>("SDspFrameCustomerKvel_t", kvel::Dimensions{}, 0,
                                                             offset, kvel::LittleEndian);
        root->addMember(block);
        return root;
    }

private:
    std::vector<kvel::ITypePtr> members;
    uint32_t offset = 0;
};

kvel::ITypePtr parameterLayout() {
    ParameterLayout b;
    b.u8("Ipv4AddressCamera", {4}).u8("SubnetMask", {4}).u8("Ipv4AddressDestination", {4});
    b.u16("destinationUDPPort").u8("EthernetOutputConfiguration");
    for (const char* n : {"transX", "transY", "transZ", "rotX", "rotY", "rotZ"})
        b.f32(std::string("PMDExtrCalib_camCal_") + n);
    for (const char* n : {"transX", "transY", "transZ"})
        b.f32(std::string("PMDExtrCalib_IlluCal_") + n);
    b.u8("PMDExtrCalib_IlluCalibIsRelative");
    for (const char* f : functions) {
        const std::string p = std::string(f) + "_";
        b.u8(p + "pixelPlausibilizationThresholds")
            .u8(p + "sprayRemovalSensitivity")
            .u8(p + "blockageSensitivity");
        b.f32(p + "reflectorThresholdValue");
        for (const char* n : {"XMin", "XMax", "YMin", "YMax", "ZMin", "ZMax"})
            b.f32(p + "spatialFilter" + n);
        b.u8(p + "autocalibrationMode");
    }
    b.u8("DistImageCust_reflectorCloseRange").u8("DistanceImageOnSwitch");
    b.u8("ObjectListCust_objectDetectionVariant").f32("ObjectListCust_ObjectDetectionZMin");
    b.f32("ObjectListCust_ObjectDetectionZMax").u8("ObjectListCust_EgoMotionDynamics");
    for (const char* n : {"accBrake", "egoVMin", "egoVMax", "delayBrake"})
        b.f32(std::string("ObjectListCust_") + n);
    b.u8("ObjectListCust_CrashPredictorSensitivity");
    for (const char* n : {"xMin", "xMax", "yMin", "yMax", "zMax"})
        b.f32(std::string("VehicleDim_") + n);
    b.u8("ObjectListCust_EgoDataMode").u8("ObjectListCust_cpActivate");
    for (const char* n : {"cpDeactivateTimeAfterTrigger", "cpMaxCrashObjectDistance", "cpMinDistAllowed"})
        b.f32(std::string("ObjectListCust_") + n);
    b.u8("triggeredStreetCalibration").u8("LineGuidanceCust_lineGuidanceMode");
    for (const char* n :
         {"maxLineAngle", "xMin", "xMax", "yMin", "yMax", "minHeight", "minWidth", "maxWidth"})
        b.f32(std::string("LineGuidanceCust_") + n);
    b.u8("LineGuidanceCust_skipStreetPlaneEstimation").u8("LineGuidanceCust_EgoDataMode");
    for (const char* n : {"referencePointXPos", "referencePointYPos", "referencePointZPos", "steeringTTC",
                          "steeringXMax", "steeringXMin"})
        b.f32(std::string("LineGuidanceCust_") + n);
    b.u8("AutoCalibParam_numberOfPatterns");
    b.f32("AutoCalibParam_xPattern", {8})
        .f32("AutoCalibParam_yPattern", {8})
        .f32("AutoCalibParam_zPattern", {8});
    b.u8("AutoCalibParam_patternType", {8}).u8("twoD_mirrorX").u8("twoD_mirrorY");
    return b.finish();
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

void CycleBuilder::fillImage(uint32_t frameCounter, float rotX, float rotY) {
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
    algo.set(a + "distanceData", distance.data(), 1024);
    algo.set(a + "X", x.data(), 1024);
    algo.set(a + "Y", y.data(), 1024);
    algo.set(a + "Z", z.data(), 1024);
    algo.set(a + "confidence", confidence.data(), 1024);
    algo.set(a + "amplitude", amplitude.data(), 1024);
    const float normalization[4] = {1.0f, 2.0f, 4.0f, 8.0f};
    algo.set(a + "amplitude_normalization", normalization, 4);
    algo.set<uint32_t>(a + "masterclockTimestamp", 40u * frameCounter);
    algo.set<uint32_t>(a + "frameCounter", frameCounter);
    algo.set<uint32_t>(a + "available", 0x05u);
    algo.set<float>(a + "cameraCalibration.transX", 0.1f);
    algo.set<float>(a + "cameraCalibration.transY", -0.2f);
    algo.set<float>(a + "cameraCalibration.transZ", 1.3f);
    algo.set<float>(a + "cameraCalibration.rotX", rotX);
    algo.set<float>(a + "cameraCalibration.rotY", rotY);
    algo.set<float>(a + "cameraCalibration.rotZ", 0.02f);
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
