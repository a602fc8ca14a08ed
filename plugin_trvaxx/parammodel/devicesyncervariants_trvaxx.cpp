#include "parammodel/devicesyncervariants_trvaxx.h"

void DeviceSyncer_TRVADN_DI_2_2::refreshAll() {
    DeviceSyncer_TRVAXX::refreshAll();
    storeValues({1, 2, 16, 19, 20, 35, 36, 38, 39});
    storeCanValues({18, 23, {40, 45}});
}

void DeviceSyncer_TRVAFN_DI_2_2::refreshAll() {
    DeviceSyncer_TRVADN_DI_2_2::refreshAll();
    storeCanValues({{48, 64}});
}

void DeviceSyncer_TRVAFN_OD_2_2::refreshAll() {
    DeviceSyncer_TRVAXX::refreshAll();
    storeValues({1, 2, 16, 19, 20, 35, 36, 39, 46, 47, {72, 87}, {110, 114}});
    storeCanValues({18, 21, 23, {40, 45}});
}

void DeviceSyncer_TRVAFN_LG_2_1::refreshAll() {
    DeviceSyncer_TRVAXX::refreshAll();
    storeValues({16, 19, 20, 35, 36, 39, 46, 47, {93, 102}, {110, 114}});
    // The heating temperatures are read like the others, but only with CAN.
    if (canAvailable)
        storeValues({1, 2});
    storeCanValues({18, 23, {40, 45}});
}

void DeviceSyncer_TRVADN_DI_3_2::refreshAll() {
    DeviceSyncer_TRVAXX::refreshAll();
    storeValues({1, 2, 16, 19, 20, 33, 35, 36, 38, 39, 92, 141, 142});
    storeCanValues({18, 23, {40, 45}});
}

void DeviceSyncer_TRVAFN_DI_3_2::refreshAll() {
    DeviceSyncer_TRVADN_DI_3_2::refreshAll();
    storeCanValues({{48, 54}, {61, 63}, {65, 71}});
}

void DeviceSyncer_TRVAFN_OD_3_2::refreshAll() {
    DeviceSyncer_TRVAFN_OD_2_2::refreshAll();
    storeValues({{88, 92}, 141, 142});
}

void DeviceSyncer_TRVAFN_LG_3_2::refreshAll() {
    DeviceSyncer_TRVAXX::refreshAll();
    storeValues({1, 2, 16, 19, 20, 22, 33, 35, 36, 39, 47, 92, {93, 114}});
    storeCanValues({18, 23, {40, 45}});
}

DeviceSyncer_TRVAXX* createDeviceSyncer(int variantIndex, PCDevice_TRVAXX& device, CanBusController* can,
                                        ResultCache_TRVAXX& results) {
    switch (variantIndex) {
    case 0:
        return new DeviceSyncer_TRVADN_DI_2_2(device, can, results);
    case 1:
        return new DeviceSyncer_TRVAFN_DI_2_2(device, can, results);
    case 2:
        return new DeviceSyncer_TRVAFN_OD_2_2(device, can, results);
    case 3:
        return new DeviceSyncer_TRVAFN_LG_2_1(device, can, results);
    case 4:
        return new DeviceSyncer_TRVADN_DI_3_2(device, can, results);
    case 5:
        return new DeviceSyncer_TRVAFN_DI_3_2(device, can, results);
    case 6:
        return new DeviceSyncer_TRVAFN_OD_3_2(device, can, results);
    case 7:
        return new DeviceSyncer_TRVAFN_LG_3_2(device, can, results);
    default:
        return nullptr;
    }
}
