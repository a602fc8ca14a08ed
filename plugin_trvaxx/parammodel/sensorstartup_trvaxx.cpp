#include "parammodel/sensorstartup_trvaxx.h"

#include "can-communication/canbuscontroller.h"
#include "common/commonutilities.h"
#include "common/logentry.h"
#include "parammodel/devicesyncervariants_trvaxx.h"
#include "parammodel/parammodellog_trvaxx.h"
#include "parammodel/pcdevice_trvaxx.h"
#include "plugin/notificationids_trvaxx.h"
#include "result/firmwareclassification_trvaxx.h"

namespace {

int codeWithoutSyncer(int variantCode) {
    return variantCode == FirmwareClassification_TRVAXX::TOO_OLD ? NOTI_FIRMWARE_TOO_OLD
                                                                 : NOTI_UNSUPPORTED_FIRMWARE;
}

} // namespace

int SensorStartup_TRVAXX::openCan(CanBusController& can, const SensorAdrMobileCanSP_t& address, bool verify,
                                  PCDevice_TRVAXX& device) {
    if (const int result = can.connectDevice(address, verify))
        return result;

    CommonUtilities::processGUIEvents();
    if (can.readIdentity() != 0) {
        qCCritical(lcParamModel).noquote() << "initial readDataWithDiagnosis failed" + LOG_LOC;
        return NOTI_UNKNOWN_CAN_ERROR;
    }

    const SensorIdentity& identity = can.identity();
    qCDebug(lcParamModel).noquote()
        << QStringLiteral(
               "Sensor_TRVAXX::checkDeviceVariant()(CAN): SoftwareVersion %1, Variant %2, ArticleNumber %3")
               .arg(identity.globalSoftwareVersion, identity.variant, identity.articleNumber);
    const int variantCode = FirmwareClassification_TRVAXX::classifyWithAge(
        identity.globalSoftwareVersion, identity.variant, identity.articleNumber);
    device.setVariantIndex(variantCode);
    device.setIdentification(identity.articleNumber, identity.globalSoftwareVersion, identity.variant);
    if (variantCode >= FirmwareClassification_TRVAXX::UNSUPPORTED)
        return codeWithoutSyncer(variantCode);

    CommonUtilities::processGUIEvents();
    if (!can.ReadAllParameters()) {
        qCCritical(lcParamModel).noquote() << "initial ReadAllParameters failed" + LOG_LOC;
        return NOTI_UNKNOWN_CAN_ERROR;
    }

    CommonUtilities::processGUIEvents();
    device.setParameter(PCDevice_TRVAXX::IS_DEVICE_WRITEABLE, true, nullptr);
    return 0;
}

int SensorStartup_TRVAXX::installSyncer(PCDevice_TRVAXX& device, int variantCode, CanBusController* can,
                                        ResultCache_TRVAXX& results) {
    DeviceSyncer_TRVAXX* syncer = createDeviceSyncer(variantCode, device, can, results);
    if (!syncer)
        return codeWithoutSyncer(variantCode);
    syncer->refreshAll();
    return 0;
}
