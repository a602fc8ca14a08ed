#pragma once

#include "sdk/sensortype.h"

// The TRVAXX family as the host sees it: recognises its type identifiers and makes connections,
// GUI controllers and replay views for it. Holds no state.
class SensorType_TRVAXX : public SensorType {
public:
    SensorType_TRVAXX() = default;
    ~SensorType_TRVAXX() override;

    SensorSP_t createSensor(SensorAdrSP_t address) override;
    SensorGUI* createSensorGUI(SensorSP_t sensor, GuiType type) override;
    // True for every identifier that starts with "TRVA" (case-sensitive).
    bool isSupportedTypeID(const char* typeId) override;
    ReplayDataView* createReplayDataView() override;
    QString getName() override;
};
