// One OD result cycle read through the public typed reads: every member the result extraction
// reads from channels 8 (distance image with its 1024-pixel arrays, 20 objects, crash predictor,
// 2D calibration), 14 and 256. Compared in the same run with memcpy of the same data bytes (one
// block, and one copy per member).
//
// Uses the compiled stream descriptions 8_OD.kvd, 14_OD.kvd and 256_OD.kvd when the build made
// them (KVEL_DESCRIPTION_DIR), else equivalent descriptions built here with the type classes.

#include "kvel/kvel_interpret.h"

#include "bench/common/ratioreporter.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>

namespace {

using namespace kvel;

// Builds a tree from a compact layout: members laid out in order with natural alignment.
struct Field {
    std::string name;
    uint32_t kind; // KindSigned, KindUnsigned, KindFloat or KindStruct
    uint32_t size; // element size of elementary fields
    Dimensions dims;
    std::vector<Field> members; // for structures
};

Field f32(const std::string& n, Dimensions d = {}) {
    return {n, KindFloat, 4, std::move(d), {}};
}
Field i32(const std::string& n) {
    return {n, KindSigned, 4, {}, {}};
}
Field u32(const std::string& n) {
    return {n, KindUnsigned, 4, {}, {}};
}
Field u16(const std::string& n, Dimensions d = {}) {
    return {n, KindUnsigned, 2, std::move(d), {}};
}
Field u8(const std::string& n, Dimensions d = {}) {
    return {n, KindUnsigned, 1, std::move(d), {}};
}
Field i8(const std::string& n, Dimensions d = {}) {
    return {n, KindSigned, 1, std::move(d), {}};
}
Field st(const std::string& n, std::vector<Field> m, Dimensions d = {}) {
    return {n, KindStruct, 0, std::move(d), std::move(m)};
}

uint32_t alignmentOf(const Field& f) {
    if (f.kind != KindStruct)
        return f.size;
    uint32_t a = 1;
    for (const Field& m : f.members)
        a = std::max(a, alignmentOf(m));
    return a;
}

// Element size of f when its first element starts at offset (structures: members laid out there).
ITypePtr build(const Field& f, uint32_t offset, uint32_t order) {
    if (f.kind != KindStruct)
        return make_kvel_shared<ElementaryType>(f.name, f.dims, offset, f.size, f.kind, order);
    std::vector<ITypePtr> members;
    uint32_t at = offset;
    for (const Field& m : f.members) {
        const uint32_t a = alignmentOf(m);
        at = (at + a - 1) / a * a;
        ITypePtr node = build(m, at, order);
        at += uint32_t(node->size() * node->elementCount());
        members.push_back(node);
    }
    const uint32_t a = alignmentOf(f);
    const uint32_t size = ((at - offset) + a - 1) / a * a;
    return make_kvel_shared<StructType>(f.name, f.dims, offset, size, order, std::move(members));
}

ITypePtr builtInChannel8() {
    std::vector<Field> object = {i32("id"), i32("history"), i32("measured"), i32("type"), i32("age")};
    for (const char* n : {"x1", "y1", "x2", "y2", "zMin", "zMax", "vX", "vY", "vZ", "aX", "aY", "aZ",
                          "existenceProbability", "vXQuality", "vYQuality"})
        object.push_back(f32(n));
    std::vector<Field> calib2d;
    for (const char* n : {"intrCalib_2D_fx", "intrCalib_2D_fy", "intrCalib_2D_mx", "intrCalib_2D_my",
                          "intrCalib_alpha", "intrCalib_k1", "intrCalib_k2", "intrCalib_k3", "intrCalib_k4",
                          "intrCalib_k5", "extrCalib_center_tx", "extrCalib_center_ty", "extrCalib_center_tz",
                          "extrCalib_delta_tx", "extrCalib_delta_ty", "extrCalib_delta_tz", "extrCalib_rot_x",
                          "extrCalib_rot_y", "extrCalib_rot_z"})
        calib2d.push_back(f32(n));
    const Field root =
        st("AlgoIFOutput",
           {st("distanceImageResult",
               {u16("sensorWidth"), u16("sensorHeight"), u32("masterclockTimestamp"), u32("frameCounter"),
                u32("available"), u16("distanceData", {1024}), f32("X", {1024}), f32("Y", {1024}),
                f32("Z", {1024}), u16("confidence", {1024}), u16("amplitude", {1024}),
                f32("amplitude_normalization", {4}),
                st("cameraCalibration",
                   {f32("transX"), f32("transY"), f32("transZ"), f32("rotX"), f32("rotY"), f32("rotZ")}),
                st("fieldOfView", {f32("upperLeft", {3}), f32("upperRight", {3}), f32("lowerRight", {3}),
                                   f32("lowerLeft", {3})}),
                st("intrExtrCalib_2d", calib2d)}),
            st("objectDetectionResult",
               {i32("numberOfObjects"), st("objectList", object, {20}),
                st("crashPredictorResult", {i32("crashObjectID"), f32("crashPredictTime"),
                                            f32("relImpactVelocity"), i32("crashPredicted")})})});
    return build(root, 0, LittleEndian);
}

const std::vector<std::string> kChannel14U8 = {"DistanceImageOnSwitch",
                                               "ObjectListCust_pixelPlausibilizationThresholds",
                                               "ObjectListCust_sprayRemovalSensitivity",
                                               "ObjectListCust_blockageSensitivity",
                                               "ObjectListCust_autocalibrationMode",
                                               "ObjectListCust_objectDetectionVariant",
                                               "ObjectListCust_EgoMotionDynamics",
                                               "ObjectListCust_CrashPredictorSensitivity",
                                               "ObjectListCust_EgoDataMode",
                                               "EthernetOutputConfiguration",
                                               "AutoCalibParam_numberOfPatterns"};
const std::vector<std::string> kChannel14F32 = {"PMDExtrCalib_camCal_transX",
                                                "PMDExtrCalib_camCal_transY",
                                                "PMDExtrCalib_camCal_transZ",
                                                "PMDExtrCalib_camCal_rotX",
                                                "PMDExtrCalib_camCal_rotY",
                                                "PMDExtrCalib_camCal_rotZ",
                                                "PMDExtrCalib_IlluCal_transX",
                                                "PMDExtrCalib_IlluCal_transY",
                                                "PMDExtrCalib_IlluCal_transZ",
                                                "ObjectListCust_reflectorThresholdValue",
                                                "ObjectListCust_spatialFilterXMin",
                                                "ObjectListCust_spatialFilterXMax",
                                                "ObjectListCust_spatialFilterYMin",
                                                "ObjectListCust_spatialFilterYMax",
                                                "ObjectListCust_spatialFilterZMin",
                                                "ObjectListCust_spatialFilterZMax",
                                                "ObjectListCust_ObjectDetectionZMin",
                                                "ObjectListCust_ObjectDetectionZMax",
                                                "ObjectListCust_accBrake",
                                                "ObjectListCust_egoVMin",
                                                "ObjectListCust_egoVMax",
                                                "ObjectListCust_delayBrake",
                                                "VehicleDim_xMin",
                                                "VehicleDim_xMax",
                                                "VehicleDim_yMin",
                                                "VehicleDim_yMax",
                                                "VehicleDim_zMax"};

ITypePtr builtInChannel14() {
    std::vector<Field> p = {u8("Ipv4AddressCamera", {4}), u8("SubnetMask", {4}),
                            u8("Ipv4AddressDestination", {4}), u16("destinationUDPPort")};
    for (const std::string& n : kChannel14U8)
        p.push_back(u8(n));
    for (const std::string& n : kChannel14F32)
        p.push_back(f32(n));
    for (const char* n : {"AutoCalibParam_xPattern", "AutoCalibParam_yPattern", "AutoCalibParam_zPattern"})
        p.push_back(f32(n, {8}));
    p.push_back(u8("AutoCalibParam_patternType", {8}));
    return build(st("SDspFrameCustomerKvel_t", {u32("frameCounter"), st("DspCustomerParameter", p)}), 0,
                 LittleEndian);
}

ITypePtr builtInChannel256() {
    return build(st("Meas_Customer_Data_Type",
                    {u8("SoftwareVersion", {3}), u8("CameraVariant", {3}), i8("CameraPartNumber", {6}),
                     i8("CameraSerialNumber", {20}), u8("OpMode"), f32("CameraMainTemperature"),
                     f32("IlluTemperature"), u32("CANBaudrate"),
                     st("KpCustomerParameter",
                        {u8("CANProtocol"), u8("J1939SourceAddress"), u8("CANopenNodeAddress")})}),
                 0, BigEndian);
}

struct Read {
    std::string path;
    int channel;
    TypeCode code;
    uint32_t count = 0;
    size_t destOffset = 0;
    uint32_t srcOffset = 0; // in the channel's data block
    size_t bytes = 0;
};

size_t nativeSize(TypeCode code) {
    static const size_t sizes[] = {1, 2, 4, 8, 1, 2, 4, 8, 4, 8};
    return sizes[code];
}

std::vector<Read> cycleReads() {
    std::vector<Read> r;
    const std::string a = "AlgoIFOutput.distanceImageResult.";
    for (auto [n, c] : std::vector<std::pair<const char*, TypeCode>>{{"sensorWidth", TC_UINT16},
                                                                     {"sensorHeight", TC_UINT16},
                                                                     {"distanceData", TC_UINT16},
                                                                     {"X", TC_FLOAT},
                                                                     {"Y", TC_FLOAT},
                                                                     {"Z", TC_FLOAT},
                                                                     {"confidence", TC_UINT16},
                                                                     {"amplitude", TC_UINT16},
                                                                     {"amplitude_normalization", TC_FLOAT},
                                                                     {"masterclockTimestamp", TC_UINT32},
                                                                     {"frameCounter", TC_UINT32},
                                                                     {"available", TC_UINT32}})
        r.push_back({a + n, 8, c});
    for (const char* n : {"transX", "transY", "transZ", "rotX", "rotY", "rotZ"})
        r.push_back({a + "cameraCalibration." + n, 8, TC_FLOAT});
    for (const char* n : {"upperLeft", "upperRight", "lowerRight", "lowerLeft"})
        r.push_back({a + "fieldOfView." + n, 8, TC_FLOAT});
    for (const char* n : {"intrCalib_2D_fx", "intrCalib_2D_fy", "intrCalib_2D_mx", "intrCalib_2D_my",
                          "intrCalib_alpha", "intrCalib_k1", "intrCalib_k2", "intrCalib_k3", "intrCalib_k4",
                          "intrCalib_k5", "extrCalib_center_tx", "extrCalib_center_ty", "extrCalib_center_tz",
                          "extrCalib_delta_tx", "extrCalib_delta_ty", "extrCalib_delta_tz", "extrCalib_rot_x",
                          "extrCalib_rot_y", "extrCalib_rot_z"})
        r.push_back({a + "intrExtrCalib_2d." + n, 8, TC_FLOAT});
    for (int i = 0; i < 20; ++i) {
        const std::string o = "AlgoIFOutput.objectDetectionResult.objectList[" + std::to_string(i) + "].";
        for (const char* n : {"id", "history", "measured", "type", "age"})
            r.push_back({o + n, 8, TC_INT32});
        for (const char* n : {"x1", "y1", "x2", "y2", "zMin", "zMax", "vX", "vY", "vZ", "aX", "aY", "aZ",
                              "existenceProbability", "vXQuality", "vYQuality"})
            r.push_back({o + n, 8, TC_FLOAT});
    }
    const std::string c = "AlgoIFOutput.objectDetectionResult.crashPredictorResult.";
    r.push_back({c + "crashObjectID", 8, TC_INT32});
    r.push_back({c + "crashPredictTime", 8, TC_FLOAT});
    r.push_back({c + "relImpactVelocity", 8, TC_FLOAT});
    r.push_back({c + "crashPredicted", 8, TC_INT32});

    const std::string m = "Meas_Customer_Data_Type.";
    r.push_back({m + "SoftwareVersion", 256, TC_UINT8});
    r.push_back({m + "CameraVariant", 256, TC_UINT8}); // kind checked against the description below
    r.push_back({m + "CameraPartNumber", 256, TC_INT8});
    r.push_back({m + "CameraSerialNumber", 256, TC_INT8});
    r.push_back({m + "OpMode", 256, TC_UINT8});
    r.push_back({m + "CameraMainTemperature", 256, TC_FLOAT});
    r.push_back({m + "IlluTemperature", 256, TC_FLOAT});
    r.push_back({m + "CANBaudrate", 256, TC_UINT32});
    for (const char* n : {"J1939SourceAddress", "CANProtocol", "CANopenNodeAddress"})
        r.push_back({m + "KpCustomerParameter." + n, 256, TC_UINT8});

    const std::string d = "SDspFrameCustomerKvel_t.DspCustomerParameter.";
    for (const char* n : {"Ipv4AddressCamera", "SubnetMask", "Ipv4AddressDestination"})
        r.push_back({d + n, 14, TC_UINT8});
    r.push_back({d + "destinationUDPPort", 14, TC_UINT16});
    for (const std::string& n : kChannel14U8)
        r.push_back({d + n, 14, TC_UINT8});
    for (const std::string& n : kChannel14F32)
        r.push_back({d + n, 14, TC_FLOAT});
    for (const char* n : {"AutoCalibParam_xPattern", "AutoCalibParam_yPattern", "AutoCalibParam_zPattern"})
        r.push_back({d + n, 14, TC_FLOAT});
    r.push_back({d + "AutoCalibParam_patternType", 14, TC_UINT8});
    return r;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string toString(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// The cycle: description bytes, data blocks, the reads and the destination.
struct Cycle {
    std::map<int, std::string> descriptions;
    std::map<int, std::vector<char>> data;
    std::vector<Read> reads;
    std::vector<char> dest;
    std::vector<char> flatSource;
    size_t dataBytes = 0;
    std::string origin;

    std::vector<KvelChunk> freshChunks() const {
        // New chunk objects each cycle, as the data output makes them: nothing remembered.
        std::vector<KvelChunk> chunks;
        for (const auto& [channel, description] : descriptions)
            chunks.emplace_back(description.data(), uint32_t(description.size()), data.at(channel).data(),
                                uint32_t(data.at(channel).size()), channel);
        return chunks;
    }
};

bool prepare(Cycle& cycle) {
    cycle.reads = cycleReads();
    size_t at = 0;
    for (Read& read : cycle.reads) {
        const ITypePtr root = cachedParse(cycle.descriptions.at(read.channel).data(),
                                          cycle.descriptions.at(read.channel).size());
        const PathType type = typeOfPath(root, read.path);
        if (read.code == TC_UINT8 && type.code == TC_INT8)
            read.code = TC_INT8; // character fields: the description decides signedness
        read.count = 1;
        for (uint32_t e : type.uncoveredDimensions)
            read.count *= e;
        read.srcOffset = resolveAccessor(root, read.path, read.code)->byteOffset;
        read.bytes = read.count * nativeSize(read.code);
        read.destOffset = at;
        at += (read.bytes + 7) / 8 * 8;
        cycle.dataBytes += read.bytes;
    }
    cycle.dest.assign(at, 0);
    cycle.flatSource.assign(cycle.dataBytes, 1);
    return true;
}

Cycle makeCycle() {
    Cycle cycle;
#ifdef KVEL_DESCRIPTION_DIR
    const std::string dir = std::string(KVEL_DESCRIPTION_DIR) + "/streamdescription/";
    cycle.descriptions = {{8, readFile(dir + "8_OD.kvd")},
                          {14, readFile(dir + "14_OD.kvd")},
                          {256, readFile(dir + "256_OD.kvd")}};
    cycle.origin = "compiled descriptions " + dir + "{8,14,256}_OD.kvd";
    try {
        for (const auto& [channel, description] : cycle.descriptions)
            cycle.data[channel].assign(cachedParse(description.data(), description.size())->size(), 0);
        prepare(cycle);
        return cycle;
    } catch (const std::exception& e) {
        std::cerr << "compiled descriptions not usable (" << e.what() << "), using built-in ones\n";
    }
    cycle = Cycle();
#endif
    cycle.descriptions = {{8, toString(write(builtInChannel8()))},
                          {14, toString(write(builtInChannel14()))},
                          {256, toString(write(builtInChannel256()))}};
    cycle.origin = "built-in OD-like descriptions";
    for (const auto& [channel, description] : cycle.descriptions)
        cycle.data[channel].assign(cachedParse(description.data(), description.size())->size(), 0);
    prepare(cycle);
    return cycle;
}

Cycle& theCycle() {
    static Cycle cycle = makeCycle();
    return cycle;
}

template <class T> void typedRead(const Read& read, char* dest, const std::vector<KvelChunk>& chunks) {
    kvel::read<T>(read.path, reinterpret_cast<T*>(dest + read.destOffset), read.count, chunks, read.channel);
}

void readAll(const Cycle& cycle, const std::vector<KvelChunk>& chunks, char* dest) {
    for (const Read& read : cycle.reads) {
        switch (read.code) {
        case TC_INT8:
            typedRead<int8_t>(read, dest, chunks);
            break;
        case TC_UINT8:
            typedRead<uint8_t>(read, dest, chunks);
            break;
        case TC_UINT16:
            typedRead<uint16_t>(read, dest, chunks);
            break;
        case TC_INT32:
            typedRead<int32_t>(read, dest, chunks);
            break;
        case TC_UINT32:
            typedRead<uint32_t>(read, dest, chunks);
            break;
        case TC_FLOAT:
            typedRead<float>(read, dest, chunks);
            break;
        default:
            std::abort();
        }
    }
}

void BM_CycleTypedReads(benchmark::State& state) {
    Cycle& cycle = theCycle();
    for (auto _ : state) {
        const std::vector<KvelChunk> chunks = cycle.freshChunks();
        readAll(cycle, chunks, cycle.dest.data());
        benchmark::ClobberMemory();
    }
    state.counters["reads"] = double(cycle.reads.size());
    state.counters["bytes"] = double(cycle.dataBytes);
    state.SetBytesProcessed(int64_t(state.iterations() * cycle.dataBytes));
}

// The floor for callers that keep their accessors: no path lookups, only checks and copies.
void BM_CyclePreResolvedAccessors(benchmark::State& state) {
    Cycle& cycle = theCycle();
    std::vector<AccessorPtr> accessors;
    for (const Read& read : cycle.reads) {
        const std::string& description = cycle.descriptions.at(read.channel);
        accessors.push_back(
            getAccessor(cachedParse(description.data(), description.size()), read.path, read.code));
    }
    for (auto _ : state) {
        for (size_t i = 0; i < cycle.reads.size(); ++i) {
            const Read& read = cycle.reads[i];
            const std::vector<char>& data = cycle.data.at(read.channel);
            char* dest = cycle.dest.data() + read.destOffset;
            switch (read.code) {
            case TC_INT8:
                kvel::read(accessors[i], reinterpret_cast<int8_t*>(dest), read.count, data.data(),
                           data.size());
                break;
            case TC_UINT8:
                kvel::read(accessors[i], reinterpret_cast<uint8_t*>(dest), read.count, data.data(),
                           data.size());
                break;
            case TC_UINT16:
                kvel::read(accessors[i], reinterpret_cast<uint16_t*>(dest), read.count, data.data(),
                           data.size());
                break;
            case TC_INT32:
                kvel::read(accessors[i], reinterpret_cast<int32_t*>(dest), read.count, data.data(),
                           data.size());
                break;
            case TC_UINT32:
                kvel::read(accessors[i], reinterpret_cast<uint32_t*>(dest), read.count, data.data(),
                           data.size());
                break;
            case TC_FLOAT:
                kvel::read(accessors[i], reinterpret_cast<float*>(dest), read.count, data.data(),
                           data.size());
                break;
            default:
                std::abort();
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * cycle.dataBytes));
}

void BM_MemcpySameBytes(benchmark::State& state) {
    Cycle& cycle = theCycle();
    for (auto _ : state) {
        std::memcpy(cycle.dest.data(), cycle.flatSource.data(), cycle.dataBytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * cycle.dataBytes));
}

void BM_MemcpyPerMember(benchmark::State& state) {
    Cycle& cycle = theCycle();
    for (auto _ : state) {
        for (const Read& read : cycle.reads)
            std::memcpy(cycle.dest.data() + read.destOffset, cycle.data[read.channel].data() + read.srcOffset,
                        read.bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * cycle.dataBytes));
}

BENCHMARK(BM_CycleTypedReads)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_CyclePreResolvedAccessors)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_MemcpySameBytes)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_MemcpyPerMember)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const Cycle& cycle = theCycle();
    std::cout << "Cycle from " << cycle.origin << ": " << cycle.reads.size() << " typed reads, "
              << cycle.dataBytes << " data bytes\n";
    bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double reads = reporter.time("BM_CycleTypedReads");
    const double copy = reporter.time("BM_MemcpySameBytes");
    const double perMember = reporter.time("BM_MemcpyPerMember");
    if (reads > 0 && copy > 0 && perMember > 0) {
        std::cout << "CPU time per cycle (median): " << reads << " ns\n"
                  << "ratio typed reads / memcpy of the same bytes: " << reads / copy << "\n"
                  << "ratio typed reads / one memcpy per member: " << reads / perMember << "\n";
    }
    benchmark::Shutdown();
    return 0;
}
