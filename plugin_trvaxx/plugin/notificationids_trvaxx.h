#pragma once

// Result of operations that talk to the sensor: 0 for success, otherwise the id of a registered
// notification that the caller shows.
typedef int ErrorCode;

// The plug-in's registered failures (texts in notifications_trvaxx.cpp).
enum NotificationId_TRVAXX : int {
    NOTI_RESULTLOADER_ERROR = 130001,
    NOTI_UNSUPPORTED_FIRMWARE = 130002,
    NOTI_NOT_CONNECTED_VIA_CAN = 130003,
    NOTI_NO_CAN_DEVICE = 130004,
    NOTI_NO_CAN_ADAPTER = 130005,
    NOTI_NO_TRV_ON_CAN = 130006,
    NOTI_UNKNOWN_CAN_ERROR = 130007,
    NOTI_INIT_CAN_FAILED = 130008,
    NOTI_ABORTED_CONNECTION = 130009,
    NOTI_DATA_SIZE_ERROR = 130010,
    NOTI_COMMON_UPDATE_ERROR = 130011,
    NOTI_INVALID_HARDWARE_PART = 130012,
    NOTI_SOFTWARE_HARDWARE_MISMATCH = 130013,
    NOTI_UPDATE_FILE_ERROR = 130014,
    NOTI_NO_ETHERNET_DATA = 130015,
    NOTI_DIFFERENT_SENSORS = 130016,
    NOTI_NO_BOOTLOADER = 130017,
    NOTI_FIRMWARE_TOO_OLD = 130018,
    NOTI_CAN_HARDWARE_IN_USE = 130019,
    NOTI_ETHERNET_CONFLICT = 130020,
};

// Registers the ids above with the host's notification registry; safe to call more than once.
// Returns the number of ids the registry accepted.
int registerNotifications_TRVAXX();
