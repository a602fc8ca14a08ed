#include "plugin/sensortype_trvaxx.h"

#include "plugin/pluginlog_trvaxx.h"
#include "plugin/sensor_trvaxx.h"
#include "plugin/sensorgui_trvaxx.h"

#include "common/logentry.h"
#include "common/sensoraddressmobilecan.h"
#include "result/replaydataview_trvaxx.h"

#include <QtDebug>
#include <cstring>

SensorType_TRVAXX::~SensorType_TRVAXX() = default;

SensorSP_t SensorType_TRVAXX::createSensor(SensorAdrSP_t address) {
    // A failed cast gives a connection without address, whose connect fails with "no Ethernet data".
    const SensorAdrMobileCanSP_t mobileAddress = qSharedPointerDynamicCast<SensorAddressMobileCan>(address);
    return SensorSP_t(new Sensor_TRVAXX(mobileAddress));
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
    const QSharedPointer<Sensor_TRVAXX> connection = qSharedPointerDynamicCast<Sensor_TRVAXX>(sensor);
    return connection ? new SensorGUI_TRVAXX(connection) : nullptr;
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
