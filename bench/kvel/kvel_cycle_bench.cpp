// One OD result cycle read through the public typed reads: every member the result extraction
// reads from channels 8 (distance image with its 1024-pixel arrays, 20 objects, crash predictor,
// 2D calibration), 14 and 256. Compared in the same run with memcpy of the same data bytes (one
// block, and one copy per member).
//
// Uses the compiled stream descriptions 8_OD.kvd, 14_OD.kvd and 256_OD.kvd (KVEL_DESCRIPTION_DIR),
// the one definition of the channel layouts.

#include "kvel/kvel_interpret.h"

#include "bench/common/ratioreporter.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <stdexcept>

namespace {

using namespace kvel;

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
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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
    const std::string dir = std::string(KVEL_DESCRIPTION_DIR) + "/streamdescription/";
    cycle.descriptions = {{8, readFile(dir + "8_OD.kvd")},
                          {14, readFile(dir + "14_OD.kvd")},
                          {256, readFile(dir + "256_OD.kvd")}};
    cycle.origin = "compiled descriptions " + dir + "{8,14,256}_OD.kvd";
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
