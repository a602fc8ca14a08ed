#pragma once

#include "parammodel/devicesyncer_trvaxx.h"

// One syncer per supported firmware variant and version. Each first reads what its parent reads,
// then the parameters its firmware adds; the ones only CAN knows are read only while CAN is
// available.

// Variant index 0: TRVADN, DI firmware 2.x.
class DeviceSyncer_TRVADN_DI_2_2 : public DeviceSyncer_TRVAXX {
    Q_OBJECT
public:
    using DeviceSyncer_TRVAXX::DeviceSyncer_TRVAXX;
    void refreshAll() override;
};

// Variant index 1: TRVAFN, DI firmware 2.x (adds the basic functions).
class DeviceSyncer_TRVAFN_DI_2_2 : public DeviceSyncer_TRVADN_DI_2_2 {
    Q_OBJECT
public:
    using DeviceSyncer_TRVADN_DI_2_2::DeviceSyncer_TRVADN_DI_2_2;
    void refreshAll() override;
};

// Variant index 2: TRVAFN, OD firmware 2.x.
class DeviceSyncer_TRVAFN_OD_2_2 : public DeviceSyncer_TRVAXX {
    Q_OBJECT
public:
    using DeviceSyncer_TRVAXX::DeviceSyncer_TRVAXX;
    void refreshAll() override;
};

// Variant index 3: TRVAFN, LG firmware 2.x.
class DeviceSyncer_TRVAFN_LG_2_1 : public DeviceSyncer_TRVAXX {
    Q_OBJECT
public:
    using DeviceSyncer_TRVAXX::DeviceSyncer_TRVAXX;
    void refreshAll() override;
};

// Variant index 4: TRVADN, DI firmware 3.x.
class DeviceSyncer_TRVADN_DI_3_2 : public DeviceSyncer_TRVAXX {
    Q_OBJECT
public:
    using DeviceSyncer_TRVAXX::DeviceSyncer_TRVAXX;
    void refreshAll() override;
};

// Variant index 5: TRVAFN, DI firmware 3.x (adds the basic functions).
class DeviceSyncer_TRVAFN_DI_3_2 : public DeviceSyncer_TRVADN_DI_3_2 {
    Q_OBJECT
public:
    using DeviceSyncer_TRVADN_DI_3_2::DeviceSyncer_TRVADN_DI_3_2;
    void refreshAll() override;
};

// Variant index 6: TRVAFN, OD firmware 3.x (adds the crash predictor and the 2D mirroring).
class DeviceSyncer_TRVAFN_OD_3_2 : public DeviceSyncer_TRVAFN_OD_2_2 {
    Q_OBJECT
public:
    using DeviceSyncer_TRVAFN_OD_2_2::DeviceSyncer_TRVAFN_OD_2_2;
    void refreshAll() override;
};

// Variant index 7: TRVAFN, LG firmware 3.x.
class DeviceSyncer_TRVAFN_LG_3_2 : public DeviceSyncer_TRVAXX {
    Q_OBJECT
public:
    using DeviceSyncer_TRVAXX::DeviceSyncer_TRVAXX;
    void refreshAll() override;
};

// Creates the syncer of a variant index (0 to 7) and installs it into `device`, which owns it;
// null (and nothing installed) for any other index.
DeviceSyncer_TRVAXX* createDeviceSyncer(int variantIndex, PCDevice_TRVAXX& device, CanBusController* can,
                                        ResultCache_TRVAXX& results);
