#include "plugin/sensortype_trvaxx.h"

#include "plugin/pluginlog_trvaxx.h"

#include "common/logentry.h"
#include "common/sensoraddressmobilecan.h"
#include "result/replaydataview_trvaxx.h"

#include <QtDebug>
#include <cstring>

SensorType_TRVAXX::~SensorType_TRVAXX() = default;

SensorSP_t SensorType_TRVAXX::createSensor(SensorAdrSP_t address) {
    const SensorAdrMobileCanSP_t mobileAddress = qSharedPointerDynamicCast<SensorAddressMobileCan>(address);
    Q_UNUSED(mobileAddress);
    // NOT YET BUILT: the connection class Sensor_TRVAXX comes with the sensor-connection work.
    // Until it exists no connection can be made and the host is told so by the null pointer.
    return SensorSP_t();
}

SensorGUI* SensorType_TRVAXX::createSensorGUI(SensorSP_t sensor, GuiType type) {
    if (type != GUI_TYPE_DEFAULT) {
        qCCritical(
            lcPlugin, "%s",
            qPrintable(QStringLiteral("SensorType_TRVAXX::createSensorGUI only supports default GuiType, "
                                      "but not type: %1")
                           .arg(static_cast<int>(type)) +
                       LOG_LOC));
        return nullptr;
    }
    Q_UNUSED(sensor);
    // NOT YET BUILT: the GUI controller SensorGUI_TRVAXX comes with the sensor GUI work; until then
    // the default GUI type yields no controller either.
    return nullptr;
}

bool SensorType_TRVAXX::isSupportedTypeID(const char* typeId) {
    return typeId && std::strncmp(typeId, "TRVA", 4) == 0;
}

ReplayDataView* SensorType_TRVAXX::createReplayDataView() {
    // No parent: the host owns and destroys the replay view.
    return new ReplayDataView_TRVAXX();
}

QString SensorType_TRVAXX::getName() {
    return QStringLiteral("TRVAXX");
}
