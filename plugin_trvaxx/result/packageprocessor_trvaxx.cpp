#include "result/packageprocessor_trvaxx.h"

#include "result/firmwareclassification_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "result/resultlog_trvaxx.h"

#include "common/logentry.h"
#include "kvel/kvel_interpret.h"

#include <QByteArray>
#include <QDebug>
#include <QVariantList>

#include <cmath>
#include <cstring>
#include <exception>
#include <string>

namespace {

const std::string M = "Meas_Customer_Data_Type.";
const std::string K = "Meas_Customer_Data_Type.KpCustomerParameter.";
const std::string D = "SDspFrameCustomerKvel_t.DspCustomerParameter.";
const std::string A = "AlgoIFOutput.distanceImageResult.";

bool hasChannel(const std::vector<KvelChunk>& chunks, int channel) {
    for (const KvelChunk& chunk : chunks) {
        if (chunk.channel == channel)
            return true;
    }
    return false;
}

// The channel a path is read from, by its prefix.
int channelOf(const std::string& path) {
    if (path.compare(0, M.size(), M) == 0)
        return PackageProcessor_TRVAXX::CHANNEL_IDENTIFICATION;
    if (path.compare(0, D.size(), D) == 0)
        return PackageProcessor_TRVAXX::CHANNEL_DSP_PARAMETERS;
    return PackageProcessor_TRVAXX::CHANNEL_ALGO_OUTPUT;
}

// Element type of an info-map row; decides the read and the variant type of the value.
enum class ValueType { U8, U16, U32, F32, Ipv4, F32x8, U8x8 };

struct InfoRow {
    int key;
    std::string path;
    ValueType type;
};

// Reads one info row into the record's map. The value types follow the Qt value bridge of the
// parameter model (small integers as int, u32 as uint, f32 as float, byte arrays as QByteArray),
// so a parameter reads the same whether it came over CAN or Ethernet.
void readInfo(const InfoRow& row, CycleReader_TRVAXX& reader, ResultData_TRVAXX& result) {
    const int channel = channelOf(row.path);
    switch (row.type) {
    case ValueType::U8: {
        uint8_t v = 0;
        reader.read(row.path, v, channel);
        result.info.insert(row.key, int(v));
        break;
    }
    case ValueType::U16: {
        uint16_t v = 0;
        reader.read(row.path, v, channel);
        result.info.insert(row.key, int(v));
        break;
    }
    case ValueType::U32: {
        uint32_t v = 0;
        reader.read(row.path, v, channel);
        result.info.insert(row.key, uint(v));
        break;
    }
    case ValueType::F32: {
        float v = 0;
        reader.read(row.path, v, channel);
        result.info.insert(row.key, v);
        break;
    }
    case ValueType::Ipv4: {
        uint8_t v[4] = {};
        reader.read(row.path, v, 4, channel);
        result.info.insert(row.key, QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]));
        break;
    }
    case ValueType::F32x8: {
        float v[8] = {};
        reader.read(row.path, v, 8, channel);
        QVariantList list;
        list.reserve(8);
        for (float f : v)
            list.append(f);
        result.info.insert(row.key, list);
        break;
    }
    case ValueType::U8x8: {
        QByteArray bytes(8, '\0');
        reader.read(row.path, reinterpret_cast<uint8_t*>(bytes.data()), 8, channel);
        result.info.insert(row.key, bytes);
        break;
    }
    }
}

// Reads the rows in order, skipping rows whose channel is not in the cycle. The first error ends
// the list (the caller's step reports it).
// Reads the rows in order, skipping rows whose channel is not in the cycle or is `skipChannel`
// (values taken over from an identical earlier block). The first error ends the list.
void readInfoRows(const std::vector<InfoRow>& rows, CycleReader_TRVAXX& reader, ResultData_TRVAXX& result,
                  int skipChannel) {
    for (const InfoRow& row : rows) {
        const int channel = channelOf(row.path);
        if (channel != skipChannel && reader.has(channel))
            readInfo(row, reader, result);
    }
}

// Rows of the variant steps, built per function prefix (DistImageCust, ObjectListCust,
// LineGuidanceCust) where the key table has "<function>_".
std::vector<InfoRow> canRows(bool withMaxLines) {
    std::vector<InfoRow> rows = {
        {19, K + "J1939SourceAddress", ValueType::U8},
        {16, K + "CANProtocol", ValueType::U8},
        {20, K + "CANopenNodeAddress", ValueType::U8},
    };
    if (withMaxLines)
        rows.push_back({22, K + "CANMaxNumberOfLines", ValueType::U8});
    return rows;
}

InfoRow fn(int key, const std::string& function, const char* name, ValueType type) {
    return {key, D + function + "_" + name, type};
}

void appendFilterRows(std::vector<InfoRow>& rows, const std::string& function) {
    rows.push_back(fn(34, function, "pixelPlausibilizationThresholds", ValueType::U8));
    rows.push_back(fn(35, function, "sprayRemovalSensitivity", ValueType::U8));
    rows.push_back(fn(36, function, "blockageSensitivity", ValueType::U8));
}

void appendSpatialRows(std::vector<InfoRow>& rows, const std::string& function) {
    rows.push_back(fn(39, function, "reflectorThresholdValue", ValueType::F32));
    const char* names[] = {"spatialFilterXMin", "spatialFilterXMax", "spatialFilterYMin",
                           "spatialFilterYMax", "spatialFilterZMin", "spatialFilterZMax"};
    for (int i = 0; i < 6; ++i)
        rows.push_back(fn(40 + i, function, names[i], ValueType::F32));
}

void appendLineGuidanceRows(std::vector<InfoRow>& rows) {
    const std::string lg = "LineGuidanceCust";
    rows.push_back(fn(93, lg, "lineGuidanceMode", ValueType::U8));
    rows.push_back(fn(94, lg, "maxLineAngle", ValueType::F32));
    rows.push_back(fn(95, lg, "xMin", ValueType::F32));
    rows.push_back(fn(96, lg, "xMax", ValueType::F32));
    rows.push_back(fn(97, lg, "yMin", ValueType::F32));
    rows.push_back(fn(98, lg, "yMax", ValueType::F32));
    rows.push_back(fn(99, lg, "minHeight", ValueType::F32));
    rows.push_back(fn(100, lg, "minWidth", ValueType::F32));
    rows.push_back(fn(101, lg, "maxWidth", ValueType::F32));
    rows.push_back(fn(102, lg, "skipStreetPlaneEstimation", ValueType::U8));
}

const InfoRow distanceImageOnSwitch = {47, D + "DistanceImageOnSwitch", ValueType::U8};
const InfoRow illuCalibIsRelative = {33, D + "PMDExtrCalib_IlluCalibIsRelative", ValueType::U8};
const InfoRow triggeredStreetCalibration = {92, D + "triggeredStreetCalibration", ValueType::U8};
const InfoRow mirrorX = {141, D + "twoD_mirrorX", ValueType::U8};
const InfoRow mirrorY = {142, D + "twoD_mirrorY", ValueType::U8};

const std::vector<InfoRow>& commonRows() {
    static const std::vector<InfoRow> rows = [] {
        std::vector<InfoRow> r = {
            {6, M + "OpMode", ValueType::U8},
            {7, M + "CameraMainTemperature", ValueType::F32},
            {8, M + "IlluTemperature", ValueType::F32},
            {11, D + "Ipv4AddressCamera", ValueType::Ipv4},
            {12, D + "SubnetMask", ValueType::Ipv4},
            {13, D + "Ipv4AddressDestination", ValueType::Ipv4},
            {14, D + "destinationUDPPort", ValueType::U16},
            {15, D + "EthernetOutputConfiguration", ValueType::U8},
            {17, M + "CANBaudrate", ValueType::U32},
        };
        const char* cam[] = {"transX", "transY", "transZ", "rotX", "rotY", "rotZ"};
        for (int i = 0; i < 6; ++i)
            r.push_back({24 + i, D + "PMDExtrCalib_camCal_" + cam[i], ValueType::F32});
        for (int i = 0; i < 3; ++i)
            r.push_back({30 + i, D + "PMDExtrCalib_IlluCal_" + cam[i], ValueType::F32});
        r.push_back({110, D + "AutoCalibParam_numberOfPatterns", ValueType::U8});
        r.push_back({111, D + "AutoCalibParam_xPattern", ValueType::F32x8});
        r.push_back({112, D + "AutoCalibParam_yPattern", ValueType::F32x8});
        r.push_back({113, D + "AutoCalibParam_zPattern", ValueType::F32x8});
        r.push_back({114, D + "AutoCalibParam_patternType", ValueType::U8x8});
        return r;
    }();
    return rows;
}

std::vector<InfoRow> diRows(bool generation3_2) {
    const std::string di = "DistImageCust";
    std::vector<InfoRow> r = canRows(false);
    appendFilterRows(r, di);
    r.push_back({38, D + "DistImageCust_reflectorCloseRange", ValueType::U8});
    appendSpatialRows(r, di);
    if (generation3_2) {
        r.push_back(illuCalibIsRelative);
        r.push_back(triggeredStreetCalibration);
        r.push_back(mirrorX);
        r.push_back(mirrorY);
    }
    return r;
}

std::vector<InfoRow> odSop2Rows() {
    const std::string od = "ObjectListCust";
    std::vector<InfoRow> r = canRows(false);
    r.push_back(distanceImageOnSwitch);
    appendFilterRows(r, od);
    appendSpatialRows(r, od);
    r.push_back(fn(46, od, "autocalibrationMode", ValueType::U8));
    r.push_back(fn(72, od, "objectDetectionVariant", ValueType::U8));
    r.push_back(fn(73, od, "ObjectDetectionZMin", ValueType::F32));
    r.push_back(fn(74, od, "ObjectDetectionZMax", ValueType::F32));
    r.push_back(fn(75, od, "EgoMotionDynamics", ValueType::U8));
    r.push_back(fn(76, od, "accBrake", ValueType::F32));
    r.push_back(fn(77, od, "egoVMin", ValueType::F32));
    r.push_back(fn(78, od, "egoVMax", ValueType::F32));
    r.push_back(fn(79, od, "delayBrake", ValueType::F32));
    r.push_back(fn(80, od, "CrashPredictorSensitivity", ValueType::U8));
    const char* dims[] = {"xMin", "xMax", "yMin", "yMax", "zMax"};
    for (int i = 0; i < 5; ++i)
        r.push_back({82 + i, D + "VehicleDim_" + dims[i], ValueType::F32});
    r.push_back(fn(87, od, "EgoDataMode", ValueType::U8));
    return r;
}

std::vector<InfoRow> lgSop2Rows() {
    const std::string lg = "LineGuidanceCust";
    std::vector<InfoRow> r = canRows(false);
    r.push_back(distanceImageOnSwitch);
    appendFilterRows(r, lg);
    r.push_back(fn(46, lg, "autocalibrationMode", ValueType::U8));
    appendLineGuidanceRows(r);
    return r;
}

std::vector<InfoRow> od3_2Rows() {
    const std::string od = "ObjectListCust";
    std::vector<InfoRow> r;
    r.push_back(fn(88, od, "cpActivate", ValueType::U8));
    r.push_back(fn(89, od, "cpDeactivateTimeAfterTrigger", ValueType::F32));
    r.push_back(fn(90, od, "cpMaxCrashObjectDistance", ValueType::F32));
    r.push_back(fn(91, od, "cpMinDistAllowed", ValueType::F32));
    r.push_back(triggeredStreetCalibration);
    r.push_back(mirrorX);
    r.push_back(mirrorY);
    return r;
}

std::vector<InfoRow> lg3_2Rows() {
    const std::string lg = "LineGuidanceCust";
    std::vector<InfoRow> r = canRows(true);
    r.push_back(distanceImageOnSwitch);
    appendFilterRows(r, lg);
    appendLineGuidanceRows(r);
    r.push_back(illuCalibIsRelative);
    r.push_back(triggeredStreetCalibration);
    r.push_back(fn(103, lg, "EgoDataMode", ValueType::U8));
    r.push_back(fn(104, lg, "referencePointXPos", ValueType::F32));
    r.push_back(fn(105, lg, "referencePointYPos", ValueType::F32));
    r.push_back(fn(106, lg, "referencePointZPos", ValueType::F32));
    r.push_back(fn(109, lg, "steeringXMin", ValueType::F32));
    r.push_back(fn(108, lg, "steeringXMax", ValueType::F32));
    r.push_back(fn(107, lg, "steeringTTC", ValueType::F32));
    return r;
}

// Full paths of static storage (the reader keys its accessors by their addresses).
std::vector<std::string> prefixed(const std::string& prefix, const char* const* names, size_t count) {
    std::vector<std::string> paths;
    paths.reserve(count);
    for (size_t i = 0; i < count; ++i)
        paths.push_back(prefix + names[i]);
    return paths;
}

// Rows of the variant step of a firmware type (none for 8 and unknown types).
const std::vector<InfoRow>& variantRows(int type) {
    static const std::vector<InfoRow> di2 = diRows(false), od2 = odSop2Rows(), lg2 = lgSop2Rows(),
                                      di3 = diRows(true), od3 = od3_2Rows(), lg3 = lg3_2Rows(), none;
    switch (type) {
    case FirmwareClassification_TRVAXX::TRVADN_DI_SOP2:
    case FirmwareClassification_TRVAXX::TRVAFN_DI_SOP2:
        return di2;
    case FirmwareClassification_TRVAXX::TRVAFN_OD_SOP2:
        return od2;
    case FirmwareClassification_TRVAXX::TRVAFN_LG_SOP2:
        return lg2;
    case FirmwareClassification_TRVAXX::TRVADN_DI_3_2:
    case FirmwareClassification_TRVAXX::TRVAFN_DI_3_2:
        return di3;
    case FirmwareClassification_TRVAXX::TRVAFN_OD_3_2:
        return od3;
    case FirmwareClassification_TRVAXX::TRVAFN_LG_3_2:
        return lg3;
    default:
        return none;
    }
}

// Members of one object, in record order: five integers, then fifteen floats.
const char* const objectIntNames[] = {"id", "history", "measured", "type", "age"};
int32_t DetectedObject_TRVAXX::*const objectInts[] = {
    &DetectedObject_TRVAXX::id, &DetectedObject_TRVAXX::history, &DetectedObject_TRVAXX::measured,
    &DetectedObject_TRVAXX::type, &DetectedObject_TRVAXX::age};
const char* const objectFloatNames[] = {"x1",
                                        "y1",
                                        "x2",
                                        "y2",
                                        "zMin",
                                        "zMax",
                                        "vX",
                                        "vY",
                                        "vZ",
                                        "aX",
                                        "aY",
                                        "aZ",
                                        "existenceProbability",
                                        "vXQuality",
                                        "vYQuality"};
float DetectedObject_TRVAXX::*const objectFloats[] = {&DetectedObject_TRVAXX::x1,
                                                      &DetectedObject_TRVAXX::y1,
                                                      &DetectedObject_TRVAXX::x2,
                                                      &DetectedObject_TRVAXX::y2,
                                                      &DetectedObject_TRVAXX::zMin,
                                                      &DetectedObject_TRVAXX::zMax,
                                                      &DetectedObject_TRVAXX::vX,
                                                      &DetectedObject_TRVAXX::vY,
                                                      &DetectedObject_TRVAXX::vZ,
                                                      &DetectedObject_TRVAXX::aX,
                                                      &DetectedObject_TRVAXX::aY,
                                                      &DetectedObject_TRVAXX::aZ,
                                                      &DetectedObject_TRVAXX::existenceProbability,
                                                      &DetectedObject_TRVAXX::vXQuality,
                                                      &DetectedObject_TRVAXX::vYQuality};

// Members of one line in record order; integers and floats interleave.
struct LineMember {
    const char* name;
    int32_t DetectedLine_TRVAXX::*integer;
    float DetectedLine_TRVAXX::*real;
};
const LineMember lineMembers[] = {
    {"id", &DetectedLine_TRVAXX::id, nullptr},
    {"history", &DetectedLine_TRVAXX::history, nullptr},
    {"measured", &DetectedLine_TRVAXX::measured, nullptr},
    {"type", &DetectedLine_TRVAXX::type, nullptr},
    {"alpha", nullptr, &DetectedLine_TRVAXX::alpha},
    {"offset", nullptr, &DetectedLine_TRVAXX::offset},
    {"curvature", nullptr, &DetectedLine_TRVAXX::curvature},
    {"quality", nullptr, &DetectedLine_TRVAXX::quality},
    {"foresight", nullptr, &DetectedLine_TRVAXX::foresight},
    {"heap_area", nullptr, &DetectedLine_TRVAXX::heap_area},
    {"heap_area_valid", &DetectedLine_TRVAXX::heap_area_valid, nullptr},
    {"heap_width", nullptr, &DetectedLine_TRVAXX::heap_width},
    {"heap_width_valid", &DetectedLine_TRVAXX::heap_width_valid, nullptr},
    {"center_of_gravity_offset", nullptr, &DetectedLine_TRVAXX::center_of_gravity_offset},
    {"center_of_gravity_offset_valid", &DetectedLine_TRVAXX::center_of_gravity_offset_valid, nullptr},
    {"max_height_offset", nullptr, &DetectedLine_TRVAXX::max_height_offset},
    {"max_height_offset_valid", &DetectedLine_TRVAXX::max_height_offset_valid, nullptr},
    {"heap_height", nullptr, &DetectedLine_TRVAXX::heap_height},
    {"heap_height_valid", &DetectedLine_TRVAXX::heap_height_valid, nullptr},
    {"z_step_detection_height", nullptr, &DetectedLine_TRVAXX::z_step_detection_height},
    {"z_step_detection_valid", &DetectedLine_TRVAXX::z_step_detection_valid, nullptr},
};

// Member paths of the result lists, built once: objectList[i].member and lineList[i].member.
struct ListPaths {
    std::vector<std::string> objects; // TRVAXX_OBJECT_COUNT × 20
    std::vector<std::string> lines;   // TRVAXX_LINE_COUNT × 21
    ListPaths() {
        const QString objectPath = QStringLiteral("AlgoIFOutput.objectDetectionResult.objectList[%1].%2");
        const QString linePath = QStringLiteral("AlgoIFOutput.lineGuidanceResult.lineList[%1].%2");
        for (int i = 0; i < TRVAXX_OBJECT_COUNT; ++i) {
            for (const char* name : objectIntNames)
                objects.push_back(objectPath.arg(i).arg(QLatin1String(name)).toStdString());
            for (const char* name : objectFloatNames)
                objects.push_back(objectPath.arg(i).arg(QLatin1String(name)).toStdString());
        }
        for (int i = 0; i < TRVAXX_LINE_COUNT; ++i) {
            for (const LineMember& member : lineMembers)
                lines.push_back(linePath.arg(i).arg(QLatin1String(member.name)).toStdString());
        }
    }
};

const ListPaths& listPaths() {
    static const ListPaths paths;
    return paths;
}

// Text of a character field: local 8-bit encoding, cut at the first NUL.
QString fieldText(const char* bytes, int length) {
    const int end = int(qstrnlen(bytes, uint(length)));
    return QString::fromLocal8Bit(bytes, end);
}

} // namespace

PackageProcessor_TRVAXX::PackageProcessor_TRVAXX(ResultCache_TRVAXX* resultCache) : cache(resultCache) {
    registerResultMetaTypes_TRVAXX();
}

PackageProcessor_TRVAXX::~PackageProcessor_TRVAXX() = default;

void PackageProcessor_TRVAXX::reportError(const QString& message) {
    const int previous = errorCount.fetch_add(1, std::memory_order_relaxed);
    if (previous < MAX_ERROR_MESSAGES)
        qCCritical(lcResult).noquote() << message;
}

void CycleReader_TRVAXX::begin(const std::vector<KvelChunk>& chunks) {
    current = &chunks;
    const int channels[3] = {PackageProcessor_TRVAXX::CHANNEL_ALGO_OUTPUT,
                             PackageProcessor_TRVAXX::CHANNEL_DSP_PARAMETERS,
                             PackageProcessor_TRVAXX::CHANNEL_IDENTIFICATION};
    for (size_t i = 0; i < channelSlots.size(); ++i) {
        Slot& slot = channelSlots[i];
        slot.channel = channels[i];
        slot.chunk = nullptr;
        slot.rootResolved = false;
        for (const KvelChunk& c : chunks) {
            if (c.channel == slot.channel) {
                slot.chunk = &c;
                break;
            }
        }
    }
}

void CycleReader_TRVAXX::ensure(const std::vector<KvelChunk>& chunks) {
    if (current != &chunks)
        begin(chunks);
}

CycleReader_TRVAXX::Slot* CycleReader_TRVAXX::slotFor(int channel) {
    for (Slot& slot : channelSlots) {
        if (slot.channel == channel)
            return &slot;
    }
    return nullptr;
}

bool CycleReader_TRVAXX::has(int channel) const {
    return chunk(channel) != nullptr;
}

const KvelChunk* CycleReader_TRVAXX::chunk(int channel) const {
    for (const Slot& slot : channelSlots) {
        if (slot.channel == channel)
            return slot.chunk;
    }
    return nullptr;
}

const kvel::ITypePtr& CycleReader_TRVAXX::root(int channel) {
    Slot* slot = slotFor(channel);
    if (slot == nullptr || slot->chunk == nullptr)
        throw std::runtime_error("Unable to find requested channel " + std::to_string(channel) +
                                 " in KvelChunk vector");
    if (!slot->rootResolved) {
        slot->root = kvel::cachedParse(*slot->chunk);
        slot->rootResolved = true;
        // Accessors belong to one description; another description starts a new set.
        if (slot->root.get() != slot->memoRoot) {
            slot->accessors.clear();
            slot->tables.clear();
            slot->memoRoot = slot->root.get();
        }
    }
    return slot->root;
}

template <class T>
void CycleReader_TRVAXX::read(const std::string& path, T* dest, uint32_t count, int channel) {
    const kvel::ITypePtr& description = root(channel);
    Slot* slot = slotFor(channel);
    std::pair<int, kvel::AccessorPtr>& entry = slot->accessors[&path];
    if (!entry.second || entry.first != kvel::NativeTypeCode<T>::value) {
        entry.second = kvel::getAccessor<T>(description, path);
        entry.first = kvel::NativeTypeCode<T>::value;
    }
    kvel::read(entry.second, dest, count, slot->chunk->data, slot->chunk->dataLength);
}

std::vector<CycleReader_TRVAXX::Entry>& CycleReader_TRVAXX::table(int channel, const void* key) {
    root(channel); // a new description drops the old entries
    return slotFor(channel)->tables[key];
}

template <class T>
void CycleReader_TRVAXX::read(Entry& entry, const std::string& path, T& dest, int channel) {
    const kvel::ITypePtr& description = root(channel);
    if (!entry.second || entry.first != kvel::NativeTypeCode<T>::value) {
        entry.second = kvel::getAccessor<T>(description, path);
        entry.first = kvel::NativeTypeCode<T>::value;
    }
    const KvelChunk* c = slotFor(channel)->chunk;
    kvel::read(entry.second, &dest, 1, c->data, c->dataLength);
}

template <class Body> void PackageProcessor_TRVAXX::runStep(const char* stepName, Body&& body) {
    try {
        body();
    } catch (const std::exception& e) {
        reportError(QStringLiteral("PackageProcessor_TRVAXX::") + QLatin1String(stepName) +
                    QStringLiteral(": ") + QString::fromLocal8Bit(e.what()) + LOG_LOC);
    }
}

void PackageProcessor_TRVAXX::onCycle(const std::vector<KvelChunk>& chunks, bool complete) {
    if (complete)
        return;
    if (hasChannel(chunks, CHANNEL_NOT_INTERPRETED))
        return;
    processCycle(chunks);
}

void PackageProcessor_TRVAXX::processCycle(const std::vector<KvelChunk>& chunks) {
    ResultDataSP_TRVAXX result(new ResultData_TRVAXX);
    ResultData_TRVAXX& record = *result;
    reader.begin(chunks);
    getCamVersionfromPacket(chunks, record);
    // The DSP parameters rarely change: when channel 14 holds the same description and bytes as
    // when its rows were last read without error, their values are taken over, not read again.
    const bool reuse = dspParametersUnchanged();
    if (reuse)
        record.info = memo.info;
    skipChannel = reuse ? CHANNEL_DSP_PARAMETERS : 0;
    const int errorsBefore = getErrorCount();
    getTRVAXXParameterfromPacket(chunks, record);
    runVariantStep(chunks, record);
    skipChannel = 0;
    if (!reuse) {
        if (getErrorCount() == errorsBefore)
            rememberDspParameters(record);
        else
            memo.valid = false;
    }
    getAlgoIFOutputDatafromPacket(chunks, record);
    getAlgoIFOutputObjectsfromPacket(chunks, record);
    getAlgoIFOutputLinesfromPacket(chunks, record);
    getAlgoIFOutputCalibrationfromPacket(chunks, record);
    getAlgoIFOutputCalibrationResultfromPacket(chunks, record);
    dispatchResult(result);
}

bool PackageProcessor_TRVAXX::dspParametersUnchanged() {
    const KvelChunk* c14 = reader.chunk(CHANNEL_DSP_PARAMETERS);
    if (!memo.valid || c14 == nullptr || memo.firmwareType != getFirmwareType())
        return false;
    try {
        return reader.root(CHANNEL_DSP_PARAMETERS).get() == memo.root14 &&
               memo.data14.size() == c14->dataLength &&
               std::memcmp(memo.data14.data(), c14->data, c14->dataLength) == 0;
    } catch (const std::exception&) {
        return false; // a bad description: the steps read and report it
    }
}

void PackageProcessor_TRVAXX::rememberDspParameters(const ResultData_TRVAXX& result) {
    memo.valid = false;
    const KvelChunk* c14 = reader.chunk(CHANNEL_DSP_PARAMETERS);
    if (c14 == nullptr)
        return;
    memo.root14 = reader.root(CHANNEL_DSP_PARAMETERS).get();
    memo.data14.assign(c14->data, c14->data + c14->dataLength);
    memo.firmwareType = getFirmwareType();
    // Only the values read from channel 14; the others are read every cycle.
    memo.info.clear();
    auto keep = [&](const std::vector<InfoRow>& rows) {
        for (const InfoRow& row : rows) {
            if (channelOf(row.path) == CHANNEL_DSP_PARAMETERS && result.info.contains(row.key))
                memo.info.insert(row.key, result.info.value(row.key));
        }
    };
    keep(commonRows());
    keep(variantRows(memo.firmwareType));
    memo.valid = true;
}

void PackageProcessor_TRVAXX::runVariantStep(const std::vector<KvelChunk>& chunks,
                                             ResultData_TRVAXX& result) {
    switch (getFirmwareType()) {
    case FirmwareClassification_TRVAXX::TRVADN_DI_SOP2:
    case FirmwareClassification_TRVAXX::TRVAFN_DI_SOP2:
        getTRVADN_DI_SOP2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVAFN_OD_SOP2:
        getTRVAFN_OD_SOP2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVAFN_LG_SOP2:
        getTRVAFN_LG_SOP2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVADN_DI_3_2:
    case FirmwareClassification_TRVAXX::TRVAFN_DI_3_2:
        getTRVADN_DI_3_2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVAFN_OD_3_2:
        getTRVAFN_OD_3_2ParameterfromPacket(chunks, result);
        break;
    case FirmwareClassification_TRVAXX::TRVAFN_LG_3_2:
        getTRVAFN_LG_3_2ParameterfromPacket(chunks, result);
        break;
    default:
        break; // no variant-specific parameters
    }
}

void PackageProcessor_TRVAXX::getCamVersionfromPacket(const std::vector<KvelChunk>& chunks,
                                                      ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    if (reader.has(CHANNEL_IDENTIFICATION)) {
        static const std::string softwarePath = M + "SoftwareVersion";
        static const std::string variantPath = M + "CameraVariant";
        static const std::string partPath = M + "CameraPartNumber";
        static const std::string serialPath = M + "CameraSerialNumber";
        runStep("getCamVersionfromPacket", [&] {
            uint8_t version[3] = {};
            reader.read(softwarePath, version, 3, CHANNEL_IDENTIFICATION);
            softwareVersion = QStringLiteral("%1.%2.%3").arg(version[0]).arg(version[1]).arg(version[2]);

            // The variant's element kind differs between firmware generations.
            char variant[3] = {};
            if (kvel::typeOfPath(reader.root(CHANNEL_IDENTIFICATION), variantPath).code == kvel::TC_UINT8)
                reader.read(variantPath, reinterpret_cast<uint8_t*>(variant), 3, CHANNEL_IDENTIFICATION);
            else
                reader.read(variantPath, reinterpret_cast<int8_t*>(variant), 3, CHANNEL_IDENTIFICATION);
            cameraVariant = fieldText(variant, 3);

            char part[6] = {};
            reader.read(partPath, reinterpret_cast<int8_t*>(part), 6, CHANNEL_IDENTIFICATION);
            partNumber = fieldText(part, 6);

            char serial[20] = {};
            reader.read(serialPath, reinterpret_cast<int8_t*>(serial), 20, CHANNEL_IDENTIFICATION);
            serialNumber = fieldText(serial, 20).trimmed();

            firmwareType.store(
                FirmwareClassification_TRVAXX::classify(softwareVersion, cameraVariant, partNumber),
                std::memory_order_relaxed);
        });
    }
    result.softwareVersion = softwareVersion;
    result.cameraVariant = cameraVariant;
    result.partNumber = partNumber;
    result.serialNumber = serialNumber;
}

void PackageProcessor_TRVAXX::getTRVAXXParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                           ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    result.info.insert(InfoKey_TRVAXX::SoftwareVersion, softwareVersion);
    result.info.insert(InfoKey_TRVAXX::CameraVariant, cameraVariant);
    result.info.insert(InfoKey_TRVAXX::PartNumber, partNumber);
    runStep("getTRVAXXParameterfromPacket", [&] { readInfoRows(commonRows(), reader, result, skipChannel); });
}

void PackageProcessor_TRVAXX::getTRVADN_DI_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVADN_DI_SOP2);
    runStep("getTRVADN_DI_SOP2ParameterfromPacket", [&] { readInfoRows(rows, reader, result, skipChannel); });
}

void PackageProcessor_TRVAXX::getTRVAFN_OD_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVAFN_OD_SOP2);
    runStep("getTRVAFN_OD_SOP2ParameterfromPacket", [&] { readInfoRows(rows, reader, result, skipChannel); });
}

void PackageProcessor_TRVAXX::getTRVAFN_LG_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVAFN_LG_SOP2);
    runStep("getTRVAFN_LG_SOP2ParameterfromPacket", [&] { readInfoRows(rows, reader, result, skipChannel); });
}

void PackageProcessor_TRVAXX::getTRVADN_DI_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVADN_DI_3_2);
    runStep("getTRVADN_DI_3_2ParameterfromPacket", [&] { readInfoRows(rows, reader, result, skipChannel); });
}

void PackageProcessor_TRVAXX::getTRVAFN_OD_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVAFN_OD_3_2);
    runStep("getTRVAFN_OD_3_2ParameterfromPacket", [&] { readInfoRows(rows, reader, result, skipChannel); });
}

void PackageProcessor_TRVAXX::getTRVAFN_LG_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVAFN_LG_3_2);
    runStep("getTRVAFN_LG_3_2ParameterfromPacket", [&] { readInfoRows(rows, reader, result, skipChannel); });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputDatafromPacket(const std::vector<KvelChunk>& chunks,
                                                            ResultData_TRVAXX& r) {
    reader.ensure(chunks);
    if (!reader.has(CHANNEL_ALGO_OUTPUT))
        return;
    runStep("getAlgoIFOutputDatafromPacket", [&] {
        static const char* const names[] = {"sensorWidth",
                                            "sensorHeight",
                                            "distanceData",
                                            "X",
                                            "Y",
                                            "Z",
                                            "confidence",
                                            "amplitude",
                                            "amplitude_normalization",
                                            "masterclockTimestamp",
                                            "frameCounter",
                                            "available",
                                            "cameraCalibration.transX",
                                            "cameraCalibration.transY",
                                            "cameraCalibration.transZ",
                                            "cameraCalibration.rotX",
                                            "cameraCalibration.rotY",
                                            "cameraCalibration.rotZ",
                                            "fieldOfView.upperLeft",
                                            "fieldOfView.upperRight",
                                            "fieldOfView.lowerRight",
                                            "fieldOfView.lowerLeft"};
        static const std::vector<std::string> path = prefixed(A, names, std::size(names));
        const int ch = CHANNEL_ALGO_OUTPUT;
        const uint32_t n = TRVAXX_PIXEL_COUNT;
        reader.read(path[0], r.sensorWidth, ch);
        reader.read(path[1], r.sensorHeight, ch);
        reader.read(path[2], r.distanceData.data(), n, ch);
        reader.read(path[3], r.X.data(), n, ch);
        reader.read(path[4], r.Y.data(), n, ch);
        reader.read(path[5], r.Z.data(), n, ch);
        reader.read(path[6], r.confidence.data(), n, ch);
        reader.read(path[7], r.amplitude.data(), n, ch);
        reader.read(path[8], r.amplitude_normalization.data(), 4, ch);
        reader.read(path[9], r.masterclockTimestamp, ch);
        uint32_t frameCounter = 0;
        reader.read(path[10], frameCounter, ch);
        r.info.insert(InfoKey_TRVAXX::FrameCounter, uint(frameCounter));
        uint32_t available = 0;
        reader.read(path[11], available, ch);
        r.info.insert(InfoKey_TRVAXX::Available, uint(available));
        CameraCalibration_TRVAXX& c = r.cameraCalibration;
        float* const calibration[] = {&c.transX, &c.transY, &c.transZ, &c.rotX, &c.rotY, &c.rotZ};
        for (size_t i = 0; i < 6; ++i)
            reader.read(path[12 + i], *calibration[i], ch);
        reader.read(path[18], r.fieldOfView.upperLeft.data(), 3, ch);
        reader.read(path[19], r.fieldOfView.upperRight.data(), 3, ch);
        reader.read(path[20], r.fieldOfView.lowerRight.data(), 3, ch);
        reader.read(path[21], r.fieldOfView.lowerLeft.data(), 3, ch);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputObjectsfromPacket(const std::vector<KvelChunk>& chunks,
                                                               ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    if (!reader.has(CHANNEL_ALGO_OUTPUT) || !cameraVariant.startsWith(QLatin1String("OD")))
        return;
    runStep("getAlgoIFOutputObjectsfromPacket", [&] {
        const std::vector<std::string>& paths = listPaths().objects;
        std::vector<CycleReader_TRVAXX::Entry>& table = reader.table(CHANNEL_ALGO_OUTPUT, &paths);
        table.resize(paths.size());
        const int count = std::min(result.objects.count, TRVAXX_OBJECT_COUNT);
        size_t p = 0;
        for (int i = 0; i < count; ++i) {
            DetectedObject_TRVAXX& object = result.objects.objects[size_t(i)];
            for (auto member : objectInts) {
                reader.read(table[p], paths[p], object.*member, CHANNEL_ALGO_OUTPUT);
                ++p;
            }
            for (auto member : objectFloats) {
                reader.read(table[p], paths[p], object.*member, CHANNEL_ALGO_OUTPUT);
                ++p;
            }
        }
        getAlgoIFOutputCollisionAvoidancefromPacket(chunks, result);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputCollisionAvoidancefromPacket(
    const std::vector<KvelChunk>& chunks, ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    if (!reader.has(CHANNEL_ALGO_OUTPUT) || !cameraVariant.startsWith(QLatin1String("OD")))
        return;
    runStep("getAlgoIFOutputCollisionAvoidancefromPacket", [&] {
        static const char* const names[] = {"crashObjectID", "crashPredictTime", "relImpactVelocity",
                                            "crashPredicted"};
        static const std::vector<std::string> path =
            prefixed("AlgoIFOutput.objectDetectionResult.crashPredictorResult.", names, 4);
        DetectedObjectData_TRVAXX& o = result.objects;
        reader.read(path[0], o.crashObjectID, CHANNEL_ALGO_OUTPUT);
        reader.read(path[1], o.crashPredictTime, CHANNEL_ALGO_OUTPUT);
        reader.read(path[2], o.relImpactVelocity, CHANNEL_ALGO_OUTPUT);
        reader.read(path[3], o.crashPredicted, CHANNEL_ALGO_OUTPUT);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputLinesfromPacket(const std::vector<KvelChunk>& chunks,
                                                             ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    if (!reader.has(CHANNEL_ALGO_OUTPUT) || !cameraVariant.startsWith(QLatin1String("LG")))
        return;
    runStep("getAlgoIFOutputLinesfromPacket", [&] {
        const std::vector<std::string>& paths = listPaths().lines;
        std::vector<CycleReader_TRVAXX::Entry>& table = reader.table(CHANNEL_ALGO_OUTPUT, &paths);
        table.resize(paths.size());
        const int count = std::min(result.lines.count, TRVAXX_LINE_COUNT);
        size_t p = 0;
        for (int i = 0; i < count; ++i) {
            DetectedLine_TRVAXX& line = result.lines.lines[size_t(i)];
            for (const LineMember& member : lineMembers) {
                if (member.integer)
                    reader.read(table[p], paths[p], line.*member.integer, CHANNEL_ALGO_OUTPUT);
                else
                    reader.read(table[p], paths[p], line.*member.real, CHANNEL_ALGO_OUTPUT);
                ++p;
            }
        }
        static const std::string refPoint = "AlgoIFOutput.lineGuidanceResult.ref_Point";
        reader.read(refPoint, result.lines.ref_Point.data(), 3, CHANNEL_ALGO_OUTPUT);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputCalibrationfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    if (!reader.has(CHANNEL_ALGO_OUTPUT) ||
        !cameraVariant.startsWith(QLatin1String(FirmwareClassification_TRVAXX::VARIANT_WITH_2D_CALIBRATION)))
        return;
    runStep("getAlgoIFOutputCalibrationfromPacket", [&] {
        static const char* const names[] = {
            "intrCalib_2D_fx",     "intrCalib_2D_fy",    "intrCalib_2D_mx",     "intrCalib_2D_my",
            "intrCalib_alpha",     "intrCalib_k1",       "intrCalib_k2",        "intrCalib_k3",
            "intrCalib_k4",        "intrCalib_k5",       "extrCalib_center_tx", "extrCalib_center_ty",
            "extrCalib_center_tz", "extrCalib_delta_tx", "extrCalib_delta_ty",  "extrCalib_delta_tz",
            "extrCalib_rot_x",     "extrCalib_rot_y",    "extrCalib_rot_z"};
        Calibration2d_TRVAXX& c = result.calibration2d;
        float* const fields[] = {
            &c.intrCalib_2D_fx,     &c.intrCalib_2D_fy,    &c.intrCalib_2D_mx,     &c.intrCalib_2D_my,
            &c.intrCalib_alpha,     &c.intrCalib_k1,       &c.intrCalib_k2,        &c.intrCalib_k3,
            &c.intrCalib_k4,        &c.intrCalib_k5,       &c.extrCalib_center_tx, &c.extrCalib_center_ty,
            &c.extrCalib_center_tz, &c.extrCalib_delta_tx, &c.extrCalib_delta_ty,  &c.extrCalib_delta_tz,
            &c.extrCalib_rot_x,     &c.extrCalib_rot_y,    &c.extrCalib_rot_z};
        static const std::vector<std::string> path =
            prefixed(A + "intrExtrCalib_2d.", names, std::size(names));
        for (size_t i = 0; i < std::size(names); ++i)
            reader.read(path[i], *fields[i], CHANNEL_ALGO_OUTPUT);
    });
}

void PackageProcessor_TRVAXX::getAlgoIFOutputCalibrationResultfromPacket(const std::vector<KvelChunk>& chunks,
                                                                         ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    if (!reader.has(CHANNEL_ALGO_OUTPUT) || !cameraVariant.startsWith(QLatin1String("LG")))
        return;
    runStep("getAlgoIFOutputCalibrationResultfromPacket", [&] {
        static const char* const names[] = {"calibResult.transZ",       "calibResult.rotX",
                                            "calibResult.rotY",         "calibResult.rotZ",
                                            "calibrationStableCounter", "calibValid"};
        static const std::vector<std::string> path =
            prefixed("AlgoIFOutput.calibrationResult.commonCalibrationResult.", names, 6);
        CalibResult_TRVAXX& c = result.calibResult;
        reader.read(path[0], c.transZ, CHANNEL_ALGO_OUTPUT);
        reader.read(path[1], c.rotX, CHANNEL_ALGO_OUTPUT);
        reader.read(path[2], c.rotY, CHANNEL_ALGO_OUTPUT);
        reader.read(path[3], c.rotZ, CHANNEL_ALGO_OUTPUT);
        reader.read(path[4], c.calibrationStableCounter, CHANNEL_ALGO_OUTPUT);
        reader.read(path[5], c.calibValid, CHANNEL_ALGO_OUTPUT);
    });
}

void PackageProcessor_TRVAXX::dispatchResult(const ResultDataSP_TRVAXX& result) {
    if (!result)
        return;
    ResultData_TRVAXX& r = *result;
    if (r.sensorWidth == TRVAXX_SENSOR_WIDTH && r.sensorHeight == TRVAXX_SENSOR_HEIGHT) {
        const CameraCalibration_TRVAXX& c = r.cameraCalibration;
        // Single precision throughout: every product is rounded to float before the sum.
        const float sinX = std::sin(c.rotX);
        const float cosX = std::cos(c.rotX);
        const float sinY = std::sin(c.rotY);
        const float cosY = std::cos(c.rotY);
        const float wX = sinY;
        const float wY = sinX * cosY;
        const float wZ = cosX * cosY;
        for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
            const uint16_t conf = r.confidence[size_t(i)];
            r.normalizedAmplitude[size_t(i)] =
                r.amplitude_normalization[(conf >> 1) & 3] * float(r.amplitude[size_t(i)]);
            const float a = wX * (r.X[size_t(i)] - c.transX);
            const float b = wY * (r.Y[size_t(i)] - c.transY);
            const float d = wZ * (r.Z[size_t(i)] - c.transZ);
            r.cameraAxisDistance[size_t(i)] = a - b + d;
        }
    } else {
        reportError(QStringLiteral("PackageProcessor_TRVAXX dispatchResult(): Datasize Error") + LOG_LOC);
    }
    if (cache) {
        cache->setResult(result);
        if (!cache->isDataAvailable())
            cache->setDataAvailable();
    }
}
