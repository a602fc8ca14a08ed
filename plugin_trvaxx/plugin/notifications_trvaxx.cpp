#include "plugin/notificationids_trvaxx.h"

#include "common/notireg.h"

namespace {
// Context of the translations of these texts.
constexpr const char* CONTEXT = "Plugin_TRVAXX";

struct Text {
    int id;
    const char* title;
    const char* text;
};

const Text TEXTS[] = {
    {NOTI_RESULTLOADER_ERROR, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "ResultLoader Error"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Unable to start ethernet receiver.")},
    {NOTI_UNSUPPORTED_FIRMWARE, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Unsupported Firmware"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX",
                       "The firmware of this sensor is newer than this version of SightDesk supports. Please "
                       "download the latest SightDesk from the manufacturer's web site.")},
    {NOTI_NOT_CONNECTED_VIA_CAN, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Not connected via CAN"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Unable to write on camera.")},
    {NOTI_NO_CAN_DEVICE, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "No connected can device"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Couldn't load any CAN driver.")},
    {NOTI_NO_CAN_ADAPTER, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "No CAN Adapter"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Unable to init CAN adapter.")},
    {NOTI_NO_TRV_ON_CAN, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "No TRV on CAN"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Unable to find TRV on CAN.")},
    {NOTI_UNKNOWN_CAN_ERROR, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Unknown CAN Error"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "CAN communication failed.")},
    {NOTI_INIT_CAN_FAILED, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Init CAN Failed"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Invalid Baudrate.")},
    {NOTI_ABORTED_CONNECTION, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Aborted Connection"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Connection was Aborted.")},
    {NOTI_DATA_SIZE_ERROR, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Data size Error"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Data with size 0 received.")},
    {NOTI_COMMON_UPDATE_ERROR, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Common Update Error"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "General Error.")},
    {NOTI_INVALID_HARDWARE_PART, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Invalid Hardware Part Error"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX",
                       "Mainboard or frontend or illumination have a unsupported hardware version.")},
    {NOTI_SOFTWARE_HARDWARE_MISMATCH, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Software Hardware Mismatch Error"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "This firmware update can't be installed on this sensor.")},
    {NOTI_UPDATE_FILE_ERROR, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Update File Commen Error"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Error during firmware update.")},
    {NOTI_NO_ETHERNET_DATA, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Received no Ethernet Data"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Received no ethernet data.")},
    {NOTI_DIFFERENT_SENSORS, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Connection failed"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Different Sensor on CAN and Ethernet Sensor Connection.")},
    {NOTI_NO_BOOTLOADER, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "No Bootloader"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Couldn't find a TRV stuck in the bootloader at the given address.")},
    {NOTI_FIRMWARE_TOO_OLD, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "Unsupported Firmware"),
     QT_TRANSLATE_NOOP(
         "Plugin_TRVAXX",
         "Firmware is too old, please contact the support or use an earlier version of SightDesk")},
    {NOTI_CAN_HARDWARE_IN_USE, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "CAN hardware already in use"),
     QT_TRANSLATE_NOOP(
         "Plugin_TRVAXX",
         "Found CAN hardware but couldn't modify settings. Probably already in use by another program.")},
    {NOTI_ETHERNET_CONFLICT, QT_TRANSLATE_NOOP("Plugin_TRVAXX", "TRV Ethernet Conflicted"),
     QT_TRANSLATE_NOOP("Plugin_TRVAXX", "It seems multiple TRVs are using the same IP address, change it via "
                                        "manual CAN-only connection.")},
};
} // namespace

int registerNotifications_TRVAXX() {
    int accepted = 0;
    for (const Text& t : TEXTS) {
        if (NotiReg::registerNotification(t.id, L10nStr::tr(t.title, CONTEXT), L10nStr::tr(t.text, CONTEXT),
                                          NOTIFICATION_ERROR))
            ++accepted;
    }
    return accepted;
}
