// Feeds arbitrary bytes to the parameter import as the contents of a "sensor_param" file: the
// parse of the whole document, then the checks and conversions of every element against a cache
// that holds one value of each kind (int, double, bool, text, address, byte array, list).
#include "parammodel/pcdevice_trvaxx.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("*.info=false\n*.debug=false"));
        return true;
    }();
    (void)quiet;
    PCDevice_TRVAXX device;
    device.setParameter(PCDevice_TRVAXX::STATIC_UDP_PORT, 42000, nullptr);
    device.setParameter(PCDevice_TRVAXX::CAMCAL_ROT_Z, 1.5, nullptr);
    device.setParameter(PCDevice_TRVAXX::REFLECTOR_CLOSE_RANGE_ON_OFF, true, nullptr);
    device.setParameter(PCDevice_TRVAXX::STATIC_IPV4_ADDRESS, QStringLiteral("192.168.1.1"), nullptr);
    device.setParameter(PCDevice_TRVAXX::BF_ROIS_GROUP, QByteArray(3, '\1'), nullptr);
    device.setParameter(PCDevice_TRVAXX::BF_ROIS_UPPER_LEFT_X, QVariantList{1, 2, 3}, nullptr);
    device.setParameter(PCDevice_TRVAXX::BF_VOI_XMIN, QVariantList{0.5, 1.5}, nullptr);
    device.importData(QByteArray(reinterpret_cast<const char*>(data), int(size)), QStringLiteral("fuzz"));
    return 0;
}
