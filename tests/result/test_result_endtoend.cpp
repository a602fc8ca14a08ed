// End to end over loopback UDP: the virtual sensor streams each firmware variant to a result
// loader; every published record must match the scene's truth.

#include "result/resultchain_trvaxx.h"
#include "result/resultloader_trvaxx.h"

#include "simulator/virtualsensor.h"
#include "tests/support/loopbacksocket.h"
#include "tests/support/simsensor.h"

#include <gtest/gtest.h>

#include <QMutex>

#include <chrono>
#include <cmath>
#include <map>

namespace {

// Collects every record the cache publishes, on the publishing thread.
struct Collector {
    explicit Collector(ResultCache_TRVAXX& cache) : cache(cache) {
        QObject::connect(
            &cache, &ResultCache_TRVAXX::receivedNewResultData, &cache,
            [this] {
                QMutexLocker lock(&mutex);
                if (ResultDataSP_TRVAXX r = this->cache.getResult())
                    records[r->frameCounter()] = r;
            },
            Qt::DirectConnection);
    }
    size_t size() {
        QMutexLocker lock(&mutex);
        return records.size();
    }
    ResultCache_TRVAXX& cache;
    QMutex mutex;
    std::map<uint32_t, ResultDataSP_TRVAXX> records;
};

void expectMatchesTruth(const ResultData_TRVAXX& r, const trvsim::FrameTruth& t, trvsim::Variant variant) {
    ASSERT_EQ(r.sensorWidth, 64);
    ASSERT_EQ(r.sensorHeight, 16);
    EXPECT_EQ(r.masterclockTimestamp, t.masterclockTimestamp);
    EXPECT_EQ(r.info.value(InfoKey_TRVAXX::Available).toUInt(), t.available);
    int mismatches = 0;
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        const size_t p = size_t(i);
        mismatches += r.distanceData[p] != t.distanceData[p] || r.X[p] != t.X[p] || r.Y[p] != t.Y[p] ||
                      r.Z[p] != t.Z[p] || r.confidence[p] != t.confidence[p] ||
                      r.amplitude[p] != t.amplitude[p];
        mismatches += std::fabs(r.cameraAxisDistance[p] - t.cameraAxisDistance[p]) >
                      1e-4f * std::max(1.0f, std::fabs(t.cameraAxisDistance[p]));
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(r.amplitude_normalization, t.amplitude_normalization);
    EXPECT_EQ(r.cameraCalibration.rotX, t.cameraCalibration.rotX);
    EXPECT_EQ(r.cameraCalibration.transZ, t.cameraCalibration.transZ);
    EXPECT_EQ(r.fieldOfView.lowerLeft, t.fovLowerLeft);
    EXPECT_FLOAT_EQ(r.info.value(7).toFloat(), t.cameraMainTemperature);
    EXPECT_FLOAT_EQ(r.info.value(8).toFloat(), t.illuTemperature);
    EXPECT_EQ(r.info.value(6).toInt(), t.opMode);

    if (variant == trvsim::Variant::OD) {
        for (int i = 0; i < TRVAXX_OBJECT_COUNT; ++i) {
            const DetectedObject_TRVAXX& o = r.objects.objects[size_t(i)];
            const trvsim::ObjectTruth& e = t.objects[size_t(i)];
            EXPECT_TRUE(o.id == e.id && o.age == e.age && o.x1 == e.x1 && o.zMax == e.zMax && o.vX == e.vX &&
                        o.vYQuality == e.vYQuality)
                << "object " << i;
        }
        EXPECT_EQ(r.objects.crashObjectID, t.crashPredictor.crashObjectID);
        EXPECT_EQ(r.objects.crashPredicted, t.crashPredictor.crashPredicted);
        EXPECT_EQ(r.objects.relImpactVelocity, t.crashPredictor.relImpactVelocity);
        ASSERT_TRUE(t.hasCalibration2d);
        EXPECT_EQ(r.calibration2d.intrCalib_2D_fx, t.calibration2d[0]);
        EXPECT_EQ(r.calibration2d.extrCalib_rot_z, t.calibration2d[18]);
    }
    if (variant == trvsim::Variant::LG) {
        for (int i = 0; i < TRVAXX_LINE_COUNT; ++i) {
            const DetectedLine_TRVAXX& l = r.lines.lines[size_t(i)];
            const trvsim::LineTruth& e = t.lines[size_t(i)];
            EXPECT_TRUE(l.id == e.id && l.offset == e.offset && l.heap_height_valid == e.heap_height_valid &&
                        l.z_step_detection_valid == e.z_step_detection_valid)
                << "line " << i;
        }
        EXPECT_EQ(r.lines.ref_Point, t.refPoint);
        EXPECT_EQ(r.calibResult.rotY, t.calibResult.rotY);
        EXPECT_EQ(r.calibResult.calibValid, t.calibResult.calibValid);
    }
}

class ResultEndToEnd : public ::testing::TestWithParam<trvsim::Variant> {};

} // namespace

TEST_P(ResultEndToEnd, RecordsMatchTheScene) {
    const trvsim::Variant variant = GetParam();
    ResultChain_TRVAXX chain;
    ResultLoader_TRVAXX& loader = chain.loader();
    const PackageProcessor_TRVAXX& processor = chain.processor();
    Collector collector(chain.cache());
    loader.setWakeUp(UdpSocket::WakeUp::LoopbackOnly);
    ASSERT_EQ(loader.start(0, "127.0.0.2"), 0);
    waitUntil([&] { return loader.boundPort() != 0; }, std::chrono::seconds(3));
    ASSERT_NE(loader.boundPort(), 0);

    trvsim::SimConfig config = loopbackSensor(variant, "127.0.0.2", loader.boundPort());
    config.seed = 7;
    trvsim::VirtualSensor sensor(config);
    ASSERT_TRUE(sensor.start()) << sensor.errorText();
    waitUntil([&] { return collector.size() >= 12; }, std::chrono::seconds(10));
    sensor.stop();
    loader.stop();
    ASSERT_GE(collector.size(), 12u);
    EXPECT_EQ(processor.getErrorCount(), 0);

    // Identification and the parameter keys.
    const trvsim::IdentificationTruth id = sensor.identification();
    const ResultDataSP_TRVAXX last = collector.records.rbegin()->second;
    EXPECT_EQ(last->cameraVariant.trimmed().toStdString(), id.cameraVariant);
    EXPECT_EQ(last->serialNumber.toStdString(), id.serialNumber);
    EXPECT_EQ(last->info.value(3).toString().toStdString(), id.softwareVersion);
    EXPECT_EQ(last->info.value(17).toUInt(), id.canBaudrate);
    const trvsim::ParameterValues dsp = sensor.dspParameters();
    if (variant == trvsim::Variant::OD) {
        // The OD 3.x step reads only its own DSP rows (collision predictor and mirroring).
        EXPECT_EQ(last->info.value(88).toInt(), int(dsp.at("ObjectListCust_cpActivate")[0]));
    } else {
        EXPECT_EQ(last->info.value(16).toInt(), id.canProtocol);
        EXPECT_EQ(last->info.value(19).toInt(), id.j1939SourceAddress);
        EXPECT_EQ(last->info.value(20).toInt(), id.canopenNodeAddress);
        const char* function = variant == trvsim::Variant::DI ? "DistImageCust" : "LineGuidanceCust";
        EXPECT_EQ(last->info.value(35).toInt(),
                  int(dsp.at(std::string(function) + "_sprayRemovalSensitivity")[0]));
    }
    const std::vector<double>& ip = dsp.at("Ipv4AddressCamera");
    ASSERT_EQ(ip.size(), 4u);
    EXPECT_EQ(last->info.value(11).toString(),
              QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]));
    EXPECT_EQ(last->info.value(14).toInt(), int(dsp.at("destinationUDPPort")[0]));
    EXPECT_EQ(processor.getFirmwareType(), variant == trvsim::Variant::DI   ? 4
                                           : variant == trvsim::Variant::OD ? 6
                                                                            : 7);

    for (const auto& [frame, record] : collector.records) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        expectMatchesTruth(*record, sensor.truth(frame), variant);
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, ResultEndToEnd,
                         ::testing::Values(trvsim::Variant::DI, trvsim::Variant::OD, trvsim::Variant::LG),
                         [](const ::testing::TestParamInfo<trvsim::Variant>& info) {
                             return std::string(trvsim::variantName(info.param));
                         });
