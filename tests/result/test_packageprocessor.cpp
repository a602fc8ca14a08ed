// Package processor and extraction: which channels are read, the gates of the steps, the error
// budget, the identification carried across cycles, the pixel post-processing and the record pool.

#include "tests/support/messagecapture.h"
#include "tests/support/resultstreambuilder.h"

#include "result/firmwareclassification_trvaxx.h"
#include "result/packageprocessor_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "result/resultrecordpool_trvaxx.h"

#include "kvel/kvel_interpret.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QVariantList>

#include <numeric>
#include <set>
#include <thread>

using namespace resulttest;

namespace {

Identification identification(const std::string& variant, uint8_t major, uint8_t minor,
                              const std::string& part = "TRVAFN") {
    return {{major, minor, 7}, variant, part};
}

uint32_t seedOf(const std::string& path) {
    uint32_t sum = 0;
    for (unsigned char ch : path)
        sum += ch;
    return sum % 200 + 1;
}

// What fillParameters writes into an element of the leaf at `path` (root name included).
double leafValue(const std::string& path, int typeCode, uint32_t element = 0) {
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

// Every leaf of the parameter and identification blocks, but the identification, gets its leafValue.
void fillParameters(CycleBuilder& cycle) {
    for (Channel* c : {&cycle.parameters, &cycle.identity}) {
        for (const std::string& path : kvel::memberPaths(c->root, c->root->name(), -1)) {
            if (path.find("SoftwareVersion") != std::string::npos ||
                path.find(".Camera") != std::string::npos)
                continue;
            const kvel::PathType type = kvel::typeOfPath(c->root, path);
            const uint32_t count = std::accumulate(type.uncoveredDimensions.begin(),
                                                   type.uncoveredDimensions.end(), 1u, std::multiplies<>());
            std::vector<double> values(count);
            for (uint32_t k = 0; k < count; ++k)
                values[k] = leafValue(path, type.code, k);
            kvel::write(c->root, path, values.data(), count, c->data.data(), c->data.size());
        }
    }
}

struct Fixture {
    ResultCache_TRVAXX cache;
    PackageProcessor_TRVAXX processor{&cache};

    ResultDataSP_TRVAXX run(const std::vector<KvelChunk>& chunks) {
        processor.processCycle(chunks);
        return cache.getResult();
    }
};

} // namespace

// Beyond the end-to-end run: every object slot is read whatever its id, the serial is trimmed, and a
// signed CameraVariant (as some sensors describe it) is read as text all the same.
TEST(PackageProcessor, OdCycleReadsEveryObjectSlotTrimsTheSerialAndReadsASignedVariant) {
    Identification id = identification("OD", 3, 4);
    id.unsignedVariant = false;
    CycleBuilder cycle(Variant::OD, id);
    cycle.fillImage(77);
    fillParameters(cycle);
    const std::string o = "AlgoIFOutput.objectDetectionResult.objectList[";
    for (int i = 0; i < 20; ++i) {
        cycle.algo.set<int32_t>(o + std::to_string(i) + "].id", i % 3 == 0 ? -1 : 100 + i);
        cycle.algo.set<float>(o + std::to_string(i) + "].vYQuality", float(i) / 4);
    }
    Fixture f;
    const ResultDataSP_TRVAXX r = f.run(cycle.chunks());
    ASSERT_TRUE(r);
    EXPECT_EQ(f.processor.getErrorCount(), 0);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(r->objects.objects[size_t(i)].id, i % 3 == 0 ? -1 : 100 + i) << i;
        EXPECT_FLOAT_EQ(r->objects.objects[size_t(i)].vYQuality, float(i) / 4) << i;
    }
    EXPECT_EQ(r->frameCounter(), 77u);
    EXPECT_EQ(r->serialNumber, "0001234567");
    EXPECT_EQ(r->cameraVariant, "OD");
    EXPECT_EQ(f.processor.getFirmwareType(), FirmwareClassification_TRVAXX::TRVAFN_OD_3_2);
}

// Each firmware type runs its own step (a key only that step writes), every row read without error.
TEST(PackageProcessor, EachFirmwareTypeReadsItsRowsWithTypedValues) {
    struct Case {
        std::string variant;
        uint8_t major, minor;
        std::string part;
        int type, key;
    };
    const std::vector<Case> cases = {
        {"DI", 2, 2, "TRVADN", 0, 38}, {"DI", 3, 3, "TRVAFN", 5, 92},  {"OD", 2, 2, "TRVAFN", 2, 72},
        {"LG", 2, 1, "TRVAFN", 3, 93}, {"LG", 3, 5, "TRVAFN", 7, 103}, {"XX", 3, 4, "TRVAFN", 8, 34},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant + " " + std::to_string(c.major) + "." + std::to_string(c.minor));
        const Variant v = c.variant == "LG" ? Variant::LG : c.variant == "OD" ? Variant::OD : Variant::DI;
        CycleBuilder cycle(v, identification(c.variant, c.major, c.minor, c.part));
        cycle.fillImage(1);
        fillParameters(cycle);
        Fixture f;
        const ResultDataSP_TRVAXX r = f.run(cycle.chunks());
        EXPECT_EQ(f.processor.getFirmwareType(), c.type);
        EXPECT_EQ(f.processor.getErrorCount(), 0);
        EXPECT_EQ(r->info.contains(c.key), c.type != 8);
        if (c.type != 7)
            continue;
        // Floats, lists and byte arrays (integers and addresses are compared end to end).
        const std::string d = "SDspFrameCustomerKvel_t.DspCustomerParameter.";
        const std::string k = "Meas_Customer_Data_Type.KpCustomerParameter.";
        EXPECT_EQ(r->info.value(22).toInt(), int(seedOf(k + "CANMaxNumberOfLines")));
        EXPECT_FLOAT_EQ(r->info.value(107).toFloat(),
                        float(leafValue(d + "LineGuidanceCust_steeringTTC", kvel::TC_FLOAT)));
        const QVariantList pattern = r->info.value(112).toList();
        ASSERT_EQ(pattern.size(), 8);
        EXPECT_FLOAT_EQ(pattern[7].toFloat(),
                        float(leafValue(d + "AutoCalibParam_yPattern", kvel::TC_FLOAT, 7)));
        EXPECT_EQ(r->info.value(114).typeId(), QMetaType::QByteArray);
        EXPECT_EQ(r->info.value(114).toByteArray().size(), 8);
    }
}

TEST(PackageProcessor, IdentificationIsKeptAcrossCyclesWithoutChannel256) {
    CycleBuilder cycle(Variant::LG, identification("LG", 3, 2));
    cycle.fillImage(5);
    Fixture f;
    // Before any identification: empty texts and no variant step.
    ResultDataSP_TRVAXX r = f.run(cycle.chunks({&cycle.algo, &cycle.parameters}));
    EXPECT_TRUE(r->cameraVariant.isEmpty());
    EXPECT_EQ(f.processor.getFirmwareType(), 8);
    EXPECT_FALSE(r->info.contains(93));
    EXPECT_EQ(r->lines.lines[0].id, 0); // the LG gate needs the variant text

    f.run(cycle.chunks());
    r = f.run(cycle.chunks({&cycle.algo, &cycle.parameters}));
    EXPECT_EQ(r->cameraVariant, "LG");
    EXPECT_EQ(r->softwareVersion, "3.2.7");
    EXPECT_EQ(r->info.value(4).toString(), "LG");
    EXPECT_EQ(f.processor.getFirmwareType(), 7);
    EXPECT_TRUE(r->info.contains(93)); // variant step ran on the remembered type
}

// The camera-axis distance is checked against the virtual sensor's truth end to end.
TEST(PackageProcessor, NormalisedAmplitude) {
    CycleBuilder cycle(Variant::DI, identification("DI", 3, 4));
    cycle.fillImage(3);
    const float factors[4] = {1.0f, 2.0f, 3.0f, 5.5f};
    cycle.algo.set("AlgoIFOutput.distanceImageResult.amplitude_normalization", factors, 4);
    const ResultDataSP_TRVAXX r = Fixture().run(cycle.chunks());
    // Bits 1 and 2 of the confidence word select the factor (every one of the four here).
    for (size_t i = 0; i < 1024; i += 37)
        EXPECT_FLOAT_EQ(r->normalizedAmplitude[i],
                        factors[(r->confidence[i] >> 1) & 3] * float(r->amplitude[i]))
            << i;
}

// Complete hand-outs and cycles with channel 2 are not interpreted. Without channel 8 the image
// stays in its initial state and the record is still published, with the size error.
TEST(PackageProcessor, WhichCyclesAndChannelsAreRead) {
    CycleBuilder cycle(Variant::OD, identification("OD", 3, 4));
    cycle.fillImage(9);
    Fixture f;
    std::vector<KvelChunk> chunks = cycle.chunks();
    f.processor.onCycle(chunks, true);
    EXPECT_FALSE(f.cache.getResult());
    chunks.push_back(chunks.front());
    chunks.back().channel = 2;
    f.processor.onCycle(chunks, false);
    EXPECT_FALSE(f.cache.getResult());

    const ResultDataSP_TRVAXX r = f.run(cycle.chunks({&cycle.identity, &cycle.parameters}));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sensorWidth, 0);
    EXPECT_FALSE(r->info.contains(InfoKey_TRVAXX::FrameCounter));
    EXPECT_EQ(r->cameraVariant, "OD");
    EXPECT_EQ(f.processor.getErrorCount(), 1); // the Datasize Error
    chunks.pop_back();
    f.processor.onCycle(chunks, false);
    EXPECT_EQ(f.cache.getResult()->frameCounter(), 9u);
}

TEST(PackageProcessor, AtMostTenErrorMessagesButEveryRecordIsPublished) {
    CycleBuilder cycle(Variant::OD, identification("OD", 3, 4));
    cycle.fillImage(1);
    // A data block one byte short: the distance-image step fails every cycle.
    cycle.algo.data.pop_back();
    MessageCapture capture;
    Fixture f;
    int published = 0;
    QObject::connect(&f.cache, &ResultCache_TRVAXX::receivedNewResultData, [&] { ++published; });
    for (int i = 0; i < 8; ++i)
        f.run(cycle.chunks());
    // Per cycle: the data step, the object step, the 2D calibration step and the Datasize Error.
    EXPECT_EQ(f.processor.getErrorCount(), 32);
    EXPECT_EQ(published, 8);
    const QStringList lines = capture.all();
    EXPECT_EQ(lines.size(), 10);
    EXPECT_EQ(capture.count("PackageProcessor_TRVAXX::getAlgoIFOutputDatafromPacket: "), 3);
    EXPECT_EQ(capture.count("PackageProcessor_TRVAXX dispatchResult(): Datasize Error"), 2);
    for (QtMsgType type : capture.types())
        EXPECT_EQ(type, QtCriticalMsg);
}

// Channel 14 is read again when its bytes change (86 is VehicleDim_zMax) while records cycle through
// the pool; channel 256 is read every cycle; a published record never changes; a new type reads its rows.
TEST(PackageProcessor, ChangedParameterBytesAreReadAgain) {
    CycleBuilder cycle(Variant::OD, identification("OD", 2, 2));
    cycle.fillImage(1);
    fillParameters(cycle);
    Fixture f;
    const float values[] = {1.5f, 1.5f, 1.5f, 2.5f, 2.5f, 1.5f, 1.5f};
    std::set<const ResultData_TRVAXX*> records;
    decltype(ResultData_TRVAXX::info) previous;
    for (size_t i = 0; i < std::size(values); ++i) {
        cycle.parameters.set<float>("SDspFrameCustomerKvel_t.DspCustomerParameter.VehicleDim_zMax",
                                    values[i]);
        const ResultDataSP_TRVAXX r = f.run(cycle.chunks());
        records.insert(r.data());
        EXPECT_FLOAT_EQ(r->info.value(86).toFloat(), values[i]);
        if (i > 0) {
            EXPECT_EQ(r->info.keys(), previous.keys());
            if (values[i] == values[i - 1]) { // unchanged bytes give the same values
                EXPECT_EQ(r->info, previous);
            }
        }
        previous = r->info;
    }
    EXPECT_EQ(records.size(), 2u); // the cache's record and the one being filled
    EXPECT_EQ(f.processor.getErrorCount(), 0);

    const std::string can = "Meas_Customer_Data_Type.KpCustomerParameter.CANProtocol";
    cycle.identity.set<uint8_t>(can, 1);
    const ResultDataSP_TRVAXX third = f.run(cycle.chunks());
    EXPECT_EQ(third->info.value(16).toInt(), 1);
    cycle.identity.set<uint8_t>(can, 0);
    cycle.algo.set<uint32_t>("AlgoIFOutput.distanceImageResult.frameCounter", 2);
    const ResultDataSP_TRVAXX fourth = f.run(cycle.chunks());
    EXPECT_EQ(fourth->info.value(16).toInt(), 0);
    EXPECT_EQ(fourth->frameCounter(), 2u);
    EXPECT_EQ(third->frameCounter(), 1u);
    CycleBuilder lg(Variant::LG, identification("LG", 3, 4));
    lg.fillImage(3);
    lg.parameters.data = cycle.parameters.data;
    const ResultDataSP_TRVAXX fifth = f.run(lg.chunks());
    EXPECT_TRUE(fifth->info.contains(103));
    EXPECT_FALSE(fifth->info.contains(72));
}

// A record comes back reset when its last holder lets go; the pool keeps at most its capacity and
// may die before its records.
TEST(ResultRecordPool, RecordReturnsResetAndThePoolKeepsAtMostItsCapacity) {
    ResultDataSP_TRVAXX survivor;
    {
        ResultRecordPool_TRVAXX pool(2);
        ResultDataSP_TRVAXX record = pool.acquire();
        ResultData_TRVAXX* const address = record.data();
        record->sensorWidth = 64;
        record->distanceData[5] = 7;
        record->objects.objects[3].id = 4;
        record->softwareVersion = QStringLiteral("3.2.7");
        ResultDataSP_TRVAXX reader = record; // another holder, e.g. the GUI thread
        record.reset();
        EXPECT_EQ(pool.idleCount(), 0);
        reader.reset();
        EXPECT_EQ(pool.idleCount(), 1);

        ResultDataSP_TRVAXX again = pool.acquire();
        EXPECT_EQ(again.data(), address);
        EXPECT_EQ(again->sensorWidth, 0);
        EXPECT_EQ(again->distanceData[5], 0);
        EXPECT_EQ(again->objects.objects[3].id, -1);
        EXPECT_TRUE(again->softwareVersion.isEmpty());

        std::vector<ResultDataSP_TRVAXX> held(5);
        for (ResultDataSP_TRVAXX& r : held)
            r = pool.acquire();
        survivor = held.back();
        held.clear();
        again.reset();
        EXPECT_EQ(pool.idleCount(), 2);
    }
    survivor->sensorWidth = 1; // still valid after the pool is gone; freed on release (ASan)
    survivor.reset();
}

// Holders on other threads release concurrently with the producer acquiring (TSan).
TEST(ResultRecordPool, ReleasesFromOtherThreads) {
    ResultRecordPool_TRVAXX pool(4);
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        std::vector<ResultDataSP_TRVAXX> batch;
        for (int i = 0; i < 50; ++i) {
            batch.push_back(pool.acquire());
            batch.back()->masterclockTimestamp = uint32_t(i);
        }
        readers.emplace_back([batch = std::move(batch)]() mutable {
            uint32_t sum = 0;
            for (const ResultDataSP_TRVAXX& r : batch)
                sum += r->masterclockTimestamp;
            EXPECT_EQ(sum, 49u * 50u / 2u);
            batch.clear();
        });
        pool.acquire();
    }
    for (std::thread& t : readers)
        t.join();
    EXPECT_LE(pool.idleCount(), 4);
}
