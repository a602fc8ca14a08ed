#pragma once

#include "common/paramcache.h"

#include <QObject>
#include <QString>
#include <QVariant>

class ParamSyncer;

// The parameter set of one connected TRVAXX sensor: the host's parameter cache keyed by
// DeviceParam, the sensor's identification and variant index, the device syncer that moves values
// between cache and sensor, and the export and import of the whole set as a "sensor_param" file.
// GUI thread; the syncer's signals may come from a worker and arrive queued.
class PCDevice_TRVAXX : public QObject, public ParamCache {
    Q_OBJECT
public:
    // Parameter identifiers; the key texts are the names in parameter files.
    enum DeviceParam {
        IS_DEVICE_WRITEABLE = 0,
        BEGIN_HEATING_TEMPERATURE = 1,
        END_HEATING_TEMPERATURE = 2,
        FIRMWARE_VERSION = 3,
        FIRMWARE_VARIANT = 4,
        FIRMWARE_ARTICLENUMBER = 5,
        RUN_MODE = 6,
        CAMERA_MAIN_TEMPERATURE = 7,
        ILLU_TEMPERATURE = 8,
        FRAME_COUNTER = 9,
        GIM_AVAILABLE = 10,
        STATIC_IPV4_ADDRESS = 11,
        STATIC_IPV4_SUBNETMASK = 12,
        STATIC_IPV4_DESTINATION_ADDRESS = 13,
        STATIC_UDP_PORT = 14,
        DEBUG_ON_OFF = 15,
        CAN_PROTOCOLL = 16,
        CAN_BAUDRATE = 17,
        CAN_MASTER_SLAVE_CFG = 18,
        CAN_SOURCE_ADDRESS = 19,
        CAN_NODE_ADDRESS = 20,
        CAN_MAX_NUMBER_OF_OBJECTS = 21,
        CAN_MAX_NUMBER_OF_LINES = 22,
        CAN_OUTPUT_CYCLE_MODULO = 23,
        CAMCAL_TRANS_X = 24,
        CAMCAL_TRANS_Y = 25,
        CAMCAL_TRANS_Z = 26,
        CAMCAL_ROT_X = 27,
        CAMCAL_ROT_Y = 28,
        CAMCAL_ROT_Z = 29,
        ILLUCAL_TRANS_X = 30,
        ILLUCAL_TRANS_Y = 31,
        ILLUCAL_TRANS_Z = 32,
        ILLUCAL_IS_RELATIVE = 33,
        PLAUSIBILISATION_THRESHOLD = 34,
        SPRAY_REMOVAL_SENSITIVITY = 35,
        BLOCKAGE_SENSITIVITY = 36,
        FRAME_RATE = 37,
        REFLECTOR_CLOSE_RANGE_ON_OFF = 38,
        REFLECTOR_THRESHOLD_VALUE = 39,
        SPATIAL_FILTER_XMIN = 40,
        SPATIAL_FILTER_XMAX = 41,
        SPATIAL_FILTER_YMIN = 42,
        SPATIAL_FILTER_YMAX = 43,
        SPATIAL_FILTER_ZMIN = 44,
        SPATIAL_FILTER_ZMAX = 45,
        AUTOCALIB_MODE = 46,
        DISTANCE_IMAGE_ON_SWITCH = 47,
        BF_ACTIVE = 48,
        BF_ROIS_GROUP = 49,
        BF_ROIS_UPPER_LEFT_X = 50,
        BF_ROIS_UPPER_LEFT_Y = 51,
        BF_ROIS_LOWER_RIGHT_X = 52,
        BF_ROIS_LOWER_RIGHT_Y = 53,
        BF_ROIS_NUMBER_OF_ROIS = 54,
        BF_VOI_XMIN = 55,
        BF_VOI_XMAX = 56,
        BF_VOI_YMIN = 57,
        BF_VOI_YMAX = 58,
        BF_VOI_ZMIN = 59,
        BF_VOI_ZMAX = 60,
        BF_RESULT_TYPES = 61,
        BF_TEMPORAL_WINDOW_SIZE = 62,
        BF_OUTPUT_MODE = 63,
        BF_REFERENCE_DOMAIN = 64,
        BF_REFERENCE_DOMAINS = 65,
        BF_ROIS_MAX_CART_X = 66,
        BF_ROIS_MAX_CART_Y = 67,
        BF_ROIS_MAX_CART_Z = 68,
        BF_ROIS_MIN_CART_X = 69,
        BF_ROIS_MIN_CART_Y = 70,
        BF_ROIS_MIN_CART_Z = 71,
        OBJECT_DETECTION_TYPE = 72,
        OBJECT_DETECTION_VOLUME_Z_MIN = 73,
        OBJECT_DETECTION_VOLUME_Z_MAX = 74,
        EGO_MOTION_DYNAMICS_TYPE = 75,
        DECELLERATION_BRAKE = 76,
        EGO_SPEED_RANGE_V_MIN = 77,
        EGO_SPEED_RANGE_V_MAX = 78,
        DELAY_BRAKE = 79,
        CRASHPREDICTOR_SENSITIVITY = 80,
        USECASE_APPROACH = 81,
        VEHICLE_DIM_X_MIN = 82,
        VEHICLE_DIM_X_MAX = 83,
        VEHICLE_DIM_Y_MIN = 84,
        VEHICLE_DIM_Y_MAX = 85,
        VEHICLE_DIM_Z_MAX = 86,
        EGO_DATA_MODE = 87,
        CRASH_PREDICTOR_ACTIVATE = 88,
        CRASH_PREDICTOR_DEACTIVATE_TIME_AFTER_TRIGGER = 89,
        CRASH_PREDICTOR_MAX_CRASH_OBJECT_DISTANCE = 90,
        CRASH_PREDICTOR_MIN_DIST_ALLOWED = 91,
        TRIGGERED_STREET_CALIBRATION = 92,
        LG_MODE = 93,
        LG_MAXLINE_ANGLE = 94,
        LG_XMIN = 95,
        LG_XMAX = 96,
        LG_YMIN = 97,
        LG_YMAX = 98,
        LG_MINHEIGHT = 99,
        LG_MINWIDTH = 100,
        LG_MAXWIDTH = 101,
        LG_SKIP_STREET_PLANE_ESTIMATION = 102,
        LG_EGODATA_MODE = 103,
        LG_REFERENCE_POINT_X_POS = 104,
        LG_REFERENCE_POINT_Y_POS = 105,
        LG_REFERENCE_POINT_Z_POS = 106,
        LG_STEERING_TTC = 107,
        LG_STEERING_XMAX = 108,
        LG_STEERING_XMIN = 109,
        AUTOCALIB_NUMBER_OF_PATTERNS = 110,
        AUTOCALIB_X_PATTERN = 111,
        AUTOCALIB_Y_PATTERN = 112,
        AUTOCALIB_Z_PATTERN = 113,
        AUTOCALIB_PATTERN_TYPE = 114,
        CPLD_VERSION = 115,
        DK_BOOTLOADER_VERSION = 116,
        DK_VERSION = 117,
        DSP_VERSION = 118,
        KP_BOOTLOADER_VERSION = 119,
        KP_VERSION = 120,
        CAMERA_SERIAL_NUMBER = 121,
        CAMERA_HARDWARE_MAINBOARD_VERSION = 122,
        CAMERA_HARDWARE_FRONTEND_VERSION = 123,
        ILLU_ARTICLE_NUMBER = 124,
        ILLU_HARDWARE_VERSION = 125,
        ILLU_SERIAL_NUMBER = 126,
        VOLTAGE_UBATTMS = 127,
        VOLTAGE_VDD_5V9 = 128,
        VOLTAGE_VDD_5V0 = 129,
        VOLTAGE_VDD_5V0_FE = 130,
        VOLTAGE_VDD_FE_5V0_FE_R = 131,
        VOLTAGE_VDD_3V3 = 132,
        VOLTAGE_VDD_3V3_FE_R = 133,
        VOLTAGE_VDD_1V8 = 134,
        VOLTAGE_VDD_1V8_FE_R = 135,
        VOLTAGE_VDD_1V25 = 136,
        VOLTAGE_VDD_1V25_FE_R = 137,
        VOLTAGE_DK_KL15 = 138,
        TEMP_FRONTEND = 139,
        VOLTAGE_DK_KL15_2 = 140,
        TWOD_MIRROR_X = 141,
        TWOD_MIRROR_Y = 142,
    };
    Q_ENUM(DeviceParam)
    static constexpr int PARAM_COUNT = TWOD_MIRROR_Y + 1;

    // Results of exportAll and importAll besides 0 and the syncer's codes.
    enum FileResult {
        EXPORT_OPEN_FAILED = 10000,
        IMPORT_OPEN_FAILED = 10001,
        IMPORT_MALFORMED = 10002,
    };

    // What became of one value given as text (import, command line).
    enum class StoreResult { Stored, Unknown, ReadOnly, Unsupported, BadValue, Refused };

    explicit PCDevice_TRVAXX(QObject* parent = nullptr);
    // Removes the syncer from the cache and deletes it.
    ~PCDevice_TRVAXX() override;

    // The DeviceParam key text of `id` ("FRAME_RATE"); empty for an unknown id.
    QString getParameterName(int id) const override;
    // The DeviceParam value of a key text; -1 for an unknown text.
    int getParameterId(const QString& name) const override;
    // Read-only parameters are never written to the sensor, skipped on import and not editable.
    static bool isReadOnly(int id);

    // The state name of RUN_MODE; empty for a code without one.
    QString runModeText() const;
    static QString runModeText(int code);

    void setIdentification(const QString& articleNumber, const QString& sensorVersion,
                           const QString& sensorVariant);
    QString getArticleNumber() const { return articleNumber; }
    QString getSensorVersion() const { return sensorVersion; }
    QString getSensorVariant() const { return sensorVariant; }

    // 0..7 selects the device syncer; 8 no known variant (the initial value), 9 firmware too old.
    void setVariantIndex(int index) { variant = index; }
    int getVariantIndex() const { return variant; }
    // True once the sensor was reached over CAN (IS_DEVICE_WRITEABLE is held).
    bool hasWritableFlag() const { return hasParameter(IS_DEVICE_WRITEABLE); }

    // Installs `newSyncer` as the cache's syncer and takes ownership; deletes the old one.
    void setSyncer(ParamSyncer* newSyncer);
    ParamSyncer* getSyncer() const { return syncer; }

    // Forwarded to the syncer; without one, nothing happens and writeToDevice returns 0.
    void readFromDevice(bool flag);
    int writeToDevice(bool flag);

    // Stores the value given as text (in a parameter file's `type` and `value` form) after the
    // checks of an import: known, writable, held by the cache, converted to the held value's type,
    // accepted by the syncer. Other observers are notified; the syncer has the value already.
    StoreResult storeText(int id, const QString& type, const QString& value);

    // Writes every held parameter to `fileName` (replaced atomically). 0, or EXPORT_OPEN_FAILED.
    int exportAll(const QString& fileName);
    // Reads and checks the whole file, then stores its writable values and asks the syncer to
    // write them to the sensor. A file that cannot be read returns IMPORT_OPEN_FAILED, a
    // malformed one IMPORT_MALFORMED; neither changes the cache or the sensor. Otherwise the
    // syncer's result (0 without a syncer).
    int importAll(const QString& fileName);
    // importAll() of a file's contents; `fileName` names it in the log.
    int importData(const QByteArray& data, const QString& fileName);

signals:
    void sigBytesWritten(int totelBytes, int bytesWritten);
    void newStatusData();

private:
    ParamSyncer* syncer = nullptr;
    QString articleNumber;
    QString sensorVersion;
    QString sensorVariant;
    int variant = 8;
};
