#include "tests/result/resultstreambuilder.h"

#include "kvel/kvel_interpret.h"
#include "kvel/kvel_parse.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace resulttest {

LayoutBuilder::LayoutBuilder(std::string rootName, uint32_t order) : byteOrder(order) {
    root.name = std::move(rootName);
    open.push_back(&root);
}

LayoutBuilder& LayoutBuilder::begin(const std::string& name, kvel::Dimensions dims) {
    Node node;
    node.name = name;
    node.dims = std::move(dims);
    open.back()->children.push_back(node);
    open.push_back(&open.back()->children.back());
    return *this;
}

LayoutBuilder& LayoutBuilder::end() {
    if (open.size() <= 1)
        throw std::logic_error("end() without begin()");
    open.pop_back();
    return *this;
}

LayoutBuilder& LayoutBuilder::add(const std::string& name, uint32_t kind, uint32_t size,
                                  kvel::Dimensions dims) {
    Node node;
    node.name = name;
    node.kind = kind;
    node.size = size;
    node.dims = std::move(dims);
    open.back()->children.push_back(node);
    return *this;
}

uint64_t LayoutBuilder::count(const kvel::Dimensions& dims) {
    uint64_t n = 1;
    for (uint32_t d : dims)
        n *= d;
    return n;
}

uint32_t LayoutBuilder::layout(Node& node, uint32_t offset) {
    if (node.kind != kvel::KindStruct)
        return node.size;
    uint32_t size = 0;
    for (Node& child : node.children)
        size += layout(child, offset + size) * uint32_t(count(child.dims));
    node.size = size;
    return size;
}

kvel::ITypePtr LayoutBuilder::build(const Node& node, uint32_t& offset, bool isRoot) {
    const uint32_t own = isRoot ? 0 : offset;
    if (node.kind != kvel::KindStruct) {
        offset += node.size * uint32_t(count(node.dims));
        return kvel::make_kvel_shared<kvel::ElementaryType>(node.name, node.dims, own, node.size, node.kind,
                                                            byteOrder);
    }
    auto structure =
        kvel::make_kvel_shared<kvel::StructType>(node.name, node.dims, own, node.size, byteOrder);
    uint32_t cursor = own;
    for (const Node& child : node.children)
        structure->addMember(build(child, cursor, false));
    offset = own + node.size * uint32_t(count(node.dims));
    return structure;
}

kvel::ITypePtr LayoutBuilder::finish() {
    layout(root, 0);
    uint32_t offset = 0;
    return build(root, offset, true);
}

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

// Channel 8 as the sensor describes it: the compiled stream description of the variant, the one
// definition of its layout.
kvel::ITypePtr algoLayout(Variant variant) {
    static const char* const names[] = {"DI", "OD", "LG"};
    const std::string path = std::string(TRVAXX_DESCRIPTION_DIR) + "/streamdescription/8_" +
                             names[static_cast<int>(variant)] + ".kvd";
    std::ifstream in(path, std::ios::binary);
    const Bytes container((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (container.empty())
        throw std::runtime_error("cannot read " + path);
    return kvel::parse(container);
}

kvel::ITypePtr parameterLayout() {
    LayoutBuilder b("SDspFrameCustomerKvel_t", kvel::LittleEndian);
    b.begin("DspCustomerParameter");
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
    b.end();
    return b.finish();
}

// Big-endian, like the sensor's communication processor, so the byte swap is exercised.
kvel::ITypePtr identityLayout(bool unsignedVariant) {
    LayoutBuilder b("Meas_Customer_Data_Type", kvel::BigEndian);
    b.u8("SoftwareVersion", {3});
    if (unsignedVariant)
        b.u8("CameraVariant", {3});
    else
        b.i8("CameraVariant", {3});
    b.i8("CameraPartNumber", {6}).i8("CameraSerialNumber", {20});
    b.u8("OpMode").f32("CameraMainTemperature").f32("IlluTemperature").u32("CANBaudrate");
    b.begin("KpCustomerParameter").u8("J1939SourceAddress").u8("CANProtocol").u8("CANopenNodeAddress");
    b.u8("CANMaxNumberOfLines").end();
    return b.finish();
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
    makeChannel(algo, 8, algoLayout(variant));
    makeChannel(parameters, 14, parameterLayout());
    makeChannel(identity, 256, identityLayout(id.unsignedVariant));
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

uint32_t seedOf(const std::string& path) {
    uint32_t sum = 0;
    for (unsigned char ch : path)
        sum += ch;
    return sum % 200 + 1;
}

double leafValue(const std::string& path, int typeCode, uint32_t element) {
    const uint32_t seed = seedOf(path) + element;
    switch (typeCode) {
    case kvel::TC_FLOAT:
        return seed + 0.5;
    case kvel::TC_UINT16:
        return 40000 + seed;
    case kvel::TC_UINT32:
        return 250000 + seed;
    default:
        return seed;
    }
}

void CycleBuilder::fillParameters() {
    // Every leaf gets a value derived from its path; the tests compute the same value.
    for (Channel* c : {&parameters, &identity}) {
        for (const std::string& path : kvel::memberPaths(c->root, c->root->name(), -1)) {
            if (path.find("SoftwareVersion") != std::string::npos ||
                path.find(".Camera") != std::string::npos)
                continue; // identification is set by the constructor
            const kvel::PathType type = kvel::typeOfPath(c->root, path);
            uint32_t count = 1;
            for (uint32_t d : type.uncoveredDimensions)
                count *= d;
            std::vector<double> values(count);
            for (uint32_t k = 0; k < count; ++k)
                values[k] = leafValue(path, type.code, k);
            kvel::write(c->root, path, values.data(), count, c->data.data(), c->data.size());
        }
    }
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
