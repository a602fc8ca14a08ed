// The device syncers: which parameters each variant reads with and without CAN, where each value
// comes from (CAN first, then the newest Ethernet result), the types and units the cache holds,
// and the factory and start-up for variant codes without a syncer.
#include "parammodel/devicesyncervariants_trvaxx.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "parammodel/sensorstartup_trvaxx.h"
#include "result/resultcache_trvaxx.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The test's side of a syncer whose CAN bus controller it plays: CAN answers every identifier in
// `canValues`, and every write is recorded.
struct CanPlay {
    QMap<int, QVariant> canValues;
    QList<QPair<int, QVariant>> written;
};

template <class Variant> class PlayedCan : public Variant, public CanPlay {
public:
    PlayedCan(PCDevice_TRVAXX& device, ResultCache_TRVAXX& results) : Variant(device, nullptr, results) {}

protected:
    QVariant canRead(int id) override { return canValues.value(id); }
    bool canWrite(int id, const QVariant& value) override {
        written.append({id, value});
        return true;
    }
};

// Makes a played syncer of a variant class, installed into the device (which owns it).
template <class Variant> CanPlay& played(PCDevice_TRVAXX& device, ResultCache_TRVAXX& results) {
    return *new PlayedCan<Variant>(device, results);
}

// Variant codes 0 to 7 in order.
CanPlay& (*const VARIANTS[])(PCDevice_TRVAXX&, ResultCache_TRVAXX&) = {
    played<DeviceSyncer_TRVADN_DI_2_2>, played<DeviceSyncer_TRVAFN_DI_2_2>,
    played<DeviceSyncer_TRVAFN_OD_2_2>, played<DeviceSyncer_TRVAFN_LG_2_1>,
    played<DeviceSyncer_TRVADN_DI_3_2>, played<DeviceSyncer_TRVAFN_DI_3_2>,
    played<DeviceSyncer_TRVAFN_OD_3_2>, played<DeviceSyncer_TRVAFN_LG_3_2>,
};

// CAN answers every identifier with 10 x id except the address (11) and SPATIAL_FILTER_XMIN (40);
// the Ethernet result carries id + 0.5 for every identifier.
void playSources(QMap<int, QVariant>& canValues, ResultCache_TRVAXX& results) {
    for (int id = 1; id < PCDevice_TRVAXX::PARAM_COUNT; ++id)
        if (id != PCDevice_TRVAXX::STATIC_IPV4_ADDRESS && id != PCDevice_TRVAXX::SPATIAL_FILTER_XMIN)
            canValues.insert(id, 10 * id);
    ResultDataSP_TRVAXX record = results.newRecord();
    for (int id = 0; id < PCDevice_TRVAXX::PARAM_COUNT; ++id)
        record->info.insert(id, id + 0.5);
    results.setResult(record);
    results.setDataAvailable();
}

} // namespace

// Which parameters a variant reads is its syncer's own table; what holds for every variant: CAN
// reads more than Ethernet alone gives, and each value comes from CAN first.
TEST(DeviceSyncer, EachVariantReadsMoreWithCanAndPrefersItsValues) {
    for (int code = 0; code < 8; ++code) {
        SCOPED_TRACE(code);
        QList<int> held[2]; // without, with CAN
        for (const bool withCan : {false, true}) {
            PCDevice_TRVAXX device;
            ResultCache_TRVAXX results;
            if (withCan)
                device.setParameter(PCDevice_TRVAXX::IS_DEVICE_WRITEABLE, true, nullptr);
            CanPlay& played = VARIANTS[code](device, results);
            playSources(played.canValues, results);
            device.getSyncer()->refreshAll();
            held[withCan] = device.getParameterIds();
            held[withCan].removeAll(PCDevice_TRVAXX::IS_DEVICE_WRITEABLE);
            EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::STATIC_UDP_PORT),
                      withCan ? QVariant(140) : QVariant(14.5));
            if (withCan) {
                // No CAN answer: the address falls back to Ethernet, a CAN-only value stays invalid.
                EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::STATIC_IPV4_ADDRESS), QVariant(11.5));
                EXPECT_FALSE(device.getParameter(PCDevice_TRVAXX::SPATIAL_FILTER_XMIN).isValid());
            }
        }
        for (int id : held[0])
            EXPECT_TRUE(held[1].contains(id)) << id;
        EXPECT_GT(held[1].size(), held[0].size());
    }
}

TEST(DeviceSyncer, CacheHoldsDegreesAndUserTypesTheSensorGetsRadians) {
    QTemporaryDir dir;
    PCDevice_TRVAXX device;
    ResultCache_TRVAXX results;
    device.setParameter(PCDevice_TRVAXX::IS_DEVICE_WRITEABLE, true, nullptr);
    CanPlay& syncer = played<DeviceSyncer_TRVAFN_OD_3_2>(device, results);
    // Angles as the sensor's floats, once as float, once as the shortest double of the float.
    syncer.canValues = {{PCDevice_TRVAXX::CAMCAL_ROT_Z, float(1.5707963267948966)},
                        {PCDevice_TRVAXX::CAMCAL_ROT_Y, -1.5707964},
                        {PCDevice_TRVAXX::CAMCAL_ROT_X, float(0.1 * 3.141592653589793 / 180)},
                        {PCDevice_TRVAXX::CAMCAL_TRANS_X, 0.047f},
                        {PCDevice_TRVAXX::FRAME_RATE, QVariant::fromValue<uchar>(2)},
                        {PCDevice_TRVAXX::CAN_SOURCE_ADDRESS, QVariant::fromValue<quint32>(4000000000u)},
                        {PCDevice_TRVAXX::OBJECT_DETECTION_VOLUME_Z_MIN, QVariantList{0.25f, short(-3)}}};
    device.getSyncer()->refreshAll();
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::CAMCAL_ROT_Z), QVariant(90.0));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::CAMCAL_ROT_Y), QVariant(-90.0));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::CAMCAL_ROT_X), QVariant(0.1));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::FRAME_RATE), QVariant(2));
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::CAN_SOURCE_ADDRESS), QVariant(qlonglong(4000000000u)));
    ASSERT_EQ(device.exportAll(dir.filePath(QStringLiteral("p.trvaxxcfg"))), 0);
    QFile file(dir.filePath(QStringLiteral("p.trvaxxcfg")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    for (const char* element :
         {R"(name="CAMCAL_TRANS_X" type="qvariant" value="0.047")",
          R"(name="CAMCAL_ROT_Z" type="qvariant" value="90")",
          R"(name="FRAME_RATE" type="qvariant" value="2")",
          R"(name="OBJECT_DETECTION_VOLUME_Z_MIN" type="qvariantlist" value="0.25|-3|")"})
        EXPECT_TRUE(text.contains(element)) << element;

    // Edits reach CAN converted, read-only ones included (switching debug data off).
    device.setParameter(PCDevice_TRVAXX::CAMCAL_ROT_Z, 90, nullptr);
    device.setParameter(PCDevice_TRVAXX::DEBUG_ON_OFF, 0, nullptr);
    device.setParameter(PCDevice_TRVAXX::CAMCAL_TRANS_X, 0.5, nullptr);
    ASSERT_EQ(syncer.written.size(), 3);
    EXPECT_EQ(syncer.written.at(0).first, PCDevice_TRVAXX::CAMCAL_ROT_Z);
    EXPECT_EQ(syncer.written.at(0).second.toDouble(), 1.5707963267948966);
    EXPECT_EQ(syncer.written.at(1), qMakePair(int(PCDevice_TRVAXX::DEBUG_ON_OFF), QVariant(0)));
    EXPECT_EQ(syncer.written.at(2), qMakePair(int(PCDevice_TRVAXX::CAMCAL_TRANS_X), QVariant(0.5)));
}

TEST(DeviceSyncer, CodesWithoutSyncerLeaveEditsInTheCache) {
    ResultCache_TRVAXX results;
    for (const auto& [code, expected] : {std::pair{8, 130002}, {9, 130018}, {-1, 130002}}) {
        PCDevice_TRVAXX device;
        EXPECT_EQ(SensorStartup_TRVAXX::installSyncer(device, code, nullptr, results), expected);
        EXPECT_EQ(device.getSyncer(), nullptr);
        device.setParameter(PCDevice_TRVAXX::CAMCAL_ROT_Z, 45.0, nullptr);
        EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::CAMCAL_ROT_Z), QVariant(45.0));
        EXPECT_EQ(device.writeToDevice(true), 0);
    }
    // A variant code with a syncer: installed and filled from Ethernet; another replaces it.
    PCDevice_TRVAXX device;
    ResultDataSP_TRVAXX record = results.newRecord();
    record->info.insert(PCDevice_TRVAXX::STATIC_UDP_PORT, 42001);
    results.setResult(record);
    results.setDataAvailable();
    EXPECT_EQ(SensorStartup_TRVAXX::installSyncer(device, 6, nullptr, results), 0);
    EXPECT_EQ(device.getParameter(PCDevice_TRVAXX::STATIC_UDP_PORT), QVariant(42001));
    EXPECT_EQ(SensorStartup_TRVAXX::installSyncer(device, 2, nullptr, results), 0);
    EXPECT_STREQ(dynamic_cast<QObject*>(device.getSyncer())->metaObject()->className(),
                 "DeviceSyncer_TRVAFN_OD_2_2");
}
