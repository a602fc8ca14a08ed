// Sensor addresses come back from settings files and recent-sensor lists that anybody may edit.
// Any input must either be refused or give an address whose XML form reads back to the same
// address.
#include "common/sensoraddressmobilecan.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray xml(reinterpret_cast<const char*>(data), static_cast<int>(size));
    SensorAdrSP_t address = SensorAddress::fromXml(xml);
    SensorAddressMobileCan direct;
    const bool ok = direct.deserialize(xml);
    if (ok != !address.isNull())
        std::abort();
    if (!ok)
        return 0;
    SensorAddressMobileCan again;
    if (!again.deserialize(direct.serialize()) || again != direct)
        std::abort();
    direct.getPrintableAddress();
    direct.isSameSensor(*address);
    return 0;
}
