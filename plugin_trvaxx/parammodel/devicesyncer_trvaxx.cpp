#include "parammodel/devicesyncer_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "result/resultcache_trvaxx.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr double PI = 3.141592653589793;
constexpr int WRITE_FAILED = 130007; // "Unknown CAN Error"

bool isAngle(int id) {
    return id == PCDevice_TRVAXX::CAMCAL_ROT_X || id == PCDevice_TRVAXX::CAMCAL_ROT_Y ||
           id == PCDevice_TRVAXX::CAMCAL_ROT_Z || id == PCDevice_TRVAXX::LG_MAXLINE_ANGLE;
}

// The double whose text is the shortest decimal that reads back as `value` in single precision:
// 0.047f becomes 0.047, not 0.04699999839067459.
double shortestDouble(float value) {
    if (!std::isfinite(value))
        return double(value);
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return QByteArray(text, int(end - text)).toDouble();
}

// The sensor keeps angles as 32-bit floats in radians. Degrees are given as the shortest decimal
// that converts back to the same stored float, so an angle set to -90 reads back as -90, not as
// -90.00000419434348.
double degreesOf(double radians) {
    const double degrees = radians * 180.0 / PI;
    if (!std::isfinite(degrees) || std::fabs(radians) > double(std::numeric_limits<float>::max()))
        return degrees;
    const float stored = float(radians);
    for (int digits = 1; digits <= 17; ++digits) {
        const double candidate = QByteArray::number(degrees, 'g', digits).toDouble();
        if (float(candidate * PI / 180.0) == stored)
            return candidate;
    }
    return degrees;
}

QVariant integer(qlonglong value) {
    if (value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max())
        return int(value);
    return value;
}

// Integers as int, floats as shortest doubles, lists item by item; other values unchanged.
QVariant normalized(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return integer(value.toLongLong());
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
        return integer(qlonglong(value.toULongLong()));
    case QMetaType::ULongLong:
        return value.toULongLong() <= qulonglong(std::numeric_limits<qlonglong>::max())
                   ? integer(qlonglong(value.toULongLong()))
                   : value;
    case QMetaType::Float:
        return shortestDouble(value.toFloat());
    case QMetaType::QVariantList: {
        QVariantList items = value.toList();
        for (QVariant& item : items)
            item = normalized(item);
        return items;
    }
    default:
        return value;
    }
}

} // namespace

DeviceSyncer_TRVAXX::DeviceSyncer_TRVAXX(PCDevice_TRVAXX& device, CanBusController* can,
                                         ResultCache_TRVAXX& results)
    : device(device), can(can), results(results) {
    device.setSyncer(this);
    if (can)
        connect(can, SIGNAL(sigBytesWritten(int, int)), this, SIGNAL(sigBytesWritten(int, int)));
}

DeviceSyncer_TRVAXX::~DeviceSyncer_TRVAXX() = default;

QVariant DeviceSyncer_TRVAXX::toCache(int id, const QVariant& value) {
    if (!isAngle(id) || !value.isValid())
        return normalized(value);
    return degreesOf(value.toDouble());
}

QVariant DeviceSyncer_TRVAXX::toDevice(int id, const QVariant& value) {
    if (!isAngle(id) || !value.isValid())
        return value;
    return value.toDouble() * PI / 180.0;
}

QVariant DeviceSyncer_TRVAXX::canRead(int id) {
    return can ? can->readData(id) : QVariant();
}

bool DeviceSyncer_TRVAXX::canWrite(int id, const QVariant& value) {
    return can && can->writeData(id, value);
}

void DeviceSyncer_TRVAXX::parameterChanged(int id, const QVariant& value) {
    acceptValue(id, value);
}

bool DeviceSyncer_TRVAXX::acceptValue(int id, const QVariant& value) {
    // Without CAN an edit stays in the cache.
    return !canAvailable || canWrite(id, toDevice(id, value));
}

QVariant DeviceSyncer_TRVAXX::getValue(int id) {
    QVariant value;
    if (canAvailable)
        value = canRead(id);
    if (!value.isValid() && ethernetAvailable) {
        // Records are never changed once stored; the copied pointer keeps this one alive.
        if (const ResultDataSP_TRVAXX record = results.getResult())
            value = record->info.value(id);
    }
    return toCache(id, value);
}

void DeviceSyncer_TRVAXX::store(int id, const QVariant& value) {
    device.setParameter(id, value, this);
}

void DeviceSyncer_TRVAXX::storeValues(std::initializer_list<Ids> ids) {
    for (const Ids& run : ids)
        for (int id = run.first; id <= run.last; ++id)
            store(id, getValue(id));
}

void DeviceSyncer_TRVAXX::storeCanValues(std::initializer_list<Ids> ids) {
    if (!canAvailable)
        return;
    for (const Ids& run : ids)
        for (int id = run.first; id <= run.last; ++id)
            store(id, toCache(id, canRead(id)));
}

void DeviceSyncer_TRVAXX::refreshAll() {
    canAvailable = device.hasParameter(PCDevice_TRVAXX::IS_DEVICE_WRITEABLE);
    ethernetAvailable = results.isDataAvailable();
    storeValues({{3, 8}});
    if (ethernetAvailable)
        storeValues({PCDevice_TRVAXX::FRAME_COUNTER});
    storeValues({{11, 15}, 17, {24, 32}, {110, 114}, 34});
    storeCanValues({PCDevice_TRVAXX::FRAME_RATE});
}

void DeviceSyncer_TRVAXX::readFromDevice(bool) {
    if (can)
        can->ReadAllParameters();
}

int DeviceSyncer_TRVAXX::writeToDevice(bool) {
    if (!can)
        return 0;
    return can->writeAllParameters() ? 0 : WRITE_FAILED;
}

void DeviceSyncer_TRVAXX::refreshStatus() {
    if (canAvailable && can) {
        can->readStateData();
        storeCanValues({PCDevice_TRVAXX::VOLTAGE_UBATTMS, PCDevice_TRVAXX::VOLTAGE_DK_KL15});
    }
    storeValues({{PCDevice_TRVAXX::RUN_MODE, PCDevice_TRVAXX::FRAME_COUNTER}});
    emit newStatusData();
}
