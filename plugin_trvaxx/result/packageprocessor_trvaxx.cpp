#include "result/packageprocessor_trvaxx.h"

#include "result/firmwareclassification_trvaxx.h"
#include "result/resultcache_trvaxx.h"
#include "result/resultlog_trvaxx.h"
#include "result/resultpaths_trvaxx.h"

#include "common/logentry.h"
#include "kvel/kvel_interpret.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>

using namespace ResultPaths_TRVAXX;

namespace {

const std::string A = "AlgoIFOutput.distanceImageResult.";

bool hasChannel(const std::vector<KvelChunk>& chunks, int channel) {
    for (const KvelChunk& chunk : chunks) {
        if (chunk.channel == channel)
            return true;
    }
    return false;
}

// Reads the rows in order, skipping rows whose channel is not in the cycle or is `skipChannel`
// (values taken over from an identical earlier block), and hands each value to put(key, value).
// The first error ends the list (the caller's step reports it).
template <class Put>
void readInfoRows(const std::vector<InfoRow>& rows, CycleReader_TRVAXX& reader, int skipChannel, Put&& put) {
    for (const InfoRow& row : rows) {
        const int channel = row.channel;
        if (channel != skipChannel && reader.has(channel))
            put(row.key, readInfo(row, reader));
    }
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
    // Records come from the cache's pool; without a cache every cycle gets a fresh one.
    ResultDataSP_TRVAXX result = cache ? cache->newRecord() : ResultDataSP_TRVAXX(new ResultData_TRVAXX);
    ResultData_TRVAXX& record = *result;
    infoWritten.reset();
    reader.begin(chunks);
    getCamVersionfromPacket(chunks, record);
    // The DSP parameters rarely change: when channel 14 holds the same description and bytes as
    // when its rows were last read without error, their values are taken over, not read again.
    const bool reuse = dspParametersUnchanged();
    if (reuse && record.parameterStamp == memo.stamp) {
        // A recycled record last filled from this very block holds these entries already.
        infoWritten |= memo.keys;
    } else if (reuse) {
        for (auto it = memo.info.cbegin(); it != memo.info.cend(); ++it)
            setInfo(record, it.key(), it.value());
        record.parameterStamp = memo.stamp;
    } else {
        record.parameterStamp = 0;
    }
    skipChannel = reuse ? CHANNEL_DSP_PARAMETERS : 0;
    const int errorsBefore = getErrorCount();
    getTRVAXXParameterfromPacket(chunks, record);
    runVariantStep(chunks, record);
    skipChannel = 0;
    if (!reuse) {
        if (getErrorCount() == errorsBefore) {
            rememberDspParameters(record);
            record.parameterStamp = memo.stamp;
        } else
            memo.valid = false;
    }
    getAlgoIFOutputDatafromPacket(chunks, record);
    getAlgoIFOutputObjectsfromPacket(chunks, record);
    getAlgoIFOutputLinesfromPacket(chunks, record);
    getAlgoIFOutputCalibrationfromPacket(chunks, record);
    getAlgoIFOutputCalibrationResultfromPacket(chunks, record);
    pruneInfo(record);
    dispatchResult(result);
}

void PackageProcessor_TRVAXX::setInfo(ResultData_TRVAXX& result, int key, const QVariant& value) {
    result.info.insert(key, value);
    if (key >= 0 && key < INFO_KEY_LIMIT)
        infoWritten.set(size_t(key));
}

void PackageProcessor_TRVAXX::pruneInfo(ResultData_TRVAXX& result) const {
    if (size_t(result.info.size()) == infoWritten.count())
        return; // the usual case: the same keys as the record's last use
    for (auto it = result.info.begin(); it != result.info.end();) {
        const int key = it.key();
        if (key >= 0 && key < INFO_KEY_LIMIT && !infoWritten.test(size_t(key)))
            it = result.info.erase(it);
        else
            ++it;
    }
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
    memo.keys.reset();
    // Unique across processors, since records of one pool may pass through several.
    static std::atomic<quint64> stamps{0};
    memo.stamp = ++stamps;
    auto keep = [&](const std::vector<InfoRow>& rows) {
        for (const InfoRow& row : rows) {
            if (row.channel == CHANNEL_DSP_PARAMETERS && result.info.contains(row.key)) {
                memo.info.insert(row.key, result.info.value(row.key));
                if (row.key >= 0 && row.key < INFO_KEY_LIMIT)
                    memo.keys.set(size_t(row.key));
            }
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
        static const std::string softwarePath = std::string("Meas_Customer_Data_Type.SoftwareVersion");
        static const std::string variantPath = std::string("Meas_Customer_Data_Type.CameraVariant");
        static const std::string partPath = std::string("Meas_Customer_Data_Type.CameraPartNumber");
        static const std::string serialPath = std::string("Meas_Customer_Data_Type.CameraSerialNumber");
        runStep("getCamVersionfromPacket", [&] {
            // The variant's element kind differs between firmware generations; looked up once per
            // description (held, so that its address cannot come back for another one).
            const kvel::ITypePtr& description = reader.root(CHANNEL_IDENTIFICATION);
            if (description.get() != variantKindRoot.get()) {
                variantIsUnsigned = kvel::typeOfPath(description, variantPath).code == kvel::TC_UINT8;
                variantKindRoot = description;
            }
            std::array<char, 3 + 3 + 6 + 20> bytes{};
            char* const version = bytes.data();
            char* const variant = version + 3;
            char* const part = variant + 3;
            char* const serial = part + 6;
            reader.read(softwarePath, reinterpret_cast<uint8_t*>(version), 3, CHANNEL_IDENTIFICATION);
            if (variantIsUnsigned)
                reader.read(variantPath, reinterpret_cast<uint8_t*>(variant), 3, CHANNEL_IDENTIFICATION);
            else
                reader.read(variantPath, reinterpret_cast<int8_t*>(variant), 3, CHANNEL_IDENTIFICATION);
            reader.read(partPath, reinterpret_cast<int8_t*>(part), 6, CHANNEL_IDENTIFICATION);
            reader.read(serialPath, reinterpret_cast<int8_t*>(serial), 20, CHANNEL_IDENTIFICATION);
            // The identification stays the same cycle after cycle: texts and classification are
            // made again only when its bytes change.
            if (identityValid && bytes == identityBytes)
                return;
            const auto* v = reinterpret_cast<const uint8_t*>(version);
            softwareVersion = QStringLiteral("%1.%2.%3").arg(v[0]).arg(v[1]).arg(v[2]);
            cameraVariant = fieldText(variant, 3);
            partNumber = fieldText(part, 6);
            serialNumber = fieldText(serial, 20).trimmed();

            firmwareType.store(
                FirmwareClassification_TRVAXX::classifyWithAge(softwareVersion, cameraVariant, partNumber),
                std::memory_order_relaxed);
            identityBytes = bytes;
            identityValid = true;
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
    setInfo(result, InfoKey_TRVAXX::SoftwareVersion, softwareVersion);
    setInfo(result, InfoKey_TRVAXX::CameraVariant, cameraVariant);
    setInfo(result, InfoKey_TRVAXX::PartNumber, partNumber);
    runStep("getTRVAXXParameterfromPacket",
            [&] { readInfoRows(commonRows(), reader, skipChannel, infoSetter(result)); });
}

void PackageProcessor_TRVAXX::getTRVADN_DI_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVADN_DI_SOP2);
    runStep("getTRVADN_DI_SOP2ParameterfromPacket",
            [&] { readInfoRows(rows, reader, skipChannel, infoSetter(result)); });
}

void PackageProcessor_TRVAXX::getTRVAFN_OD_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVAFN_OD_SOP2);
    runStep("getTRVAFN_OD_SOP2ParameterfromPacket",
            [&] { readInfoRows(rows, reader, skipChannel, infoSetter(result)); });
}

void PackageProcessor_TRVAXX::getTRVAFN_LG_SOP2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                   ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVAFN_LG_SOP2);
    runStep("getTRVAFN_LG_SOP2ParameterfromPacket",
            [&] { readInfoRows(rows, reader, skipChannel, infoSetter(result)); });
}

void PackageProcessor_TRVAXX::getTRVADN_DI_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVADN_DI_3_2);
    runStep("getTRVADN_DI_3_2ParameterfromPacket",
            [&] { readInfoRows(rows, reader, skipChannel, infoSetter(result)); });
}

void PackageProcessor_TRVAXX::getTRVAFN_OD_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVAFN_OD_3_2);
    runStep("getTRVAFN_OD_3_2ParameterfromPacket",
            [&] { readInfoRows(rows, reader, skipChannel, infoSetter(result)); });
}

void PackageProcessor_TRVAXX::getTRVAFN_LG_3_2ParameterfromPacket(const std::vector<KvelChunk>& chunks,
                                                                  ResultData_TRVAXX& result) {
    reader.ensure(chunks);
    const std::vector<InfoRow>& rows = variantRows(FirmwareClassification_TRVAXX::TRVAFN_LG_3_2);
    runStep("getTRVAFN_LG_3_2ParameterfromPacket",
            [&] { readInfoRows(rows, reader, skipChannel, infoSetter(result)); });
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
        std::vector<CycleReader_TRVAXX::Entry>& t = reader.table(ch, &path);
        t.resize(path.size());
        const uint32_t n = TRVAXX_PIXEL_COUNT;
        reader.read(t[0], path[0], r.sensorWidth, ch);
        reader.read(t[1], path[1], r.sensorHeight, ch);
        reader.read(t[2], path[2], r.distanceData.data(), n, ch);
        reader.read(t[3], path[3], r.X.data(), n, ch);
        reader.read(t[4], path[4], r.Y.data(), n, ch);
        reader.read(t[5], path[5], r.Z.data(), n, ch);
        reader.read(t[6], path[6], r.confidence.data(), n, ch);
        reader.read(t[7], path[7], r.amplitude.data(), n, ch);
        reader.read(t[8], path[8], r.amplitude_normalization.data(), 4, ch);
        reader.read(t[9], path[9], r.masterclockTimestamp, ch);
        uint32_t frameCounter = 0;
        reader.read(t[10], path[10], frameCounter, ch);
        setInfo(r, InfoKey_TRVAXX::FrameCounter, uint(frameCounter));
        uint32_t available = 0;
        reader.read(t[11], path[11], available, ch);
        setInfo(r, InfoKey_TRVAXX::Available, uint(available));
        CameraCalibration_TRVAXX& c = r.cameraCalibration;
        float* const calibration[] = {&c.transX, &c.transY, &c.transZ, &c.rotX, &c.rotY, &c.rotZ};
        for (size_t i = 0; i < 6; ++i)
            reader.read(t[12 + i], path[12 + i], *calibration[i], ch);
        reader.read(t[18], path[18], r.fieldOfView.upperLeft.data(), 3, ch);
        reader.read(t[19], path[19], r.fieldOfView.upperRight.data(), 3, ch);
        reader.read(t[20], path[20], r.fieldOfView.lowerRight.data(), 3, ch);
        reader.read(t[21], path[21], r.fieldOfView.lowerLeft.data(), 3, ch);
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
        const CycleReader_TRVAXX::Bound channel = reader.bind(CHANNEL_ALGO_OUTPUT);
        const int count = std::min(result.objects.count, TRVAXX_OBJECT_COUNT);
        size_t p = 0;
        for (int i = 0; i < count; ++i) {
            DetectedObject_TRVAXX& object = result.objects.objects[size_t(i)];
            for (auto member : objectInts) {
                channel.read(table[p], paths[p], object.*member);
                ++p;
            }
            for (auto member : objectFloats) {
                channel.read(table[p], paths[p], object.*member);
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
        std::vector<CycleReader_TRVAXX::Entry>& t = reader.table(CHANNEL_ALGO_OUTPUT, &path);
        t.resize(path.size());
        reader.read(t[0], path[0], o.crashObjectID, CHANNEL_ALGO_OUTPUT);
        reader.read(t[1], path[1], o.crashPredictTime, CHANNEL_ALGO_OUTPUT);
        reader.read(t[2], path[2], o.relImpactVelocity, CHANNEL_ALGO_OUTPUT);
        reader.read(t[3], path[3], o.crashPredicted, CHANNEL_ALGO_OUTPUT);
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
        const CycleReader_TRVAXX::Bound channel = reader.bind(CHANNEL_ALGO_OUTPUT);
        const int count = std::min(result.lines.count, TRVAXX_LINE_COUNT);
        size_t p = 0;
        for (int i = 0; i < count; ++i) {
            DetectedLine_TRVAXX& line = result.lines.lines[size_t(i)];
            for (const LineMember& member : lineMembers) {
                if (member.integer)
                    channel.read(table[p], paths[p], line.*member.integer);
                else
                    channel.read(table[p], paths[p], line.*member.real);
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
        std::vector<CycleReader_TRVAXX::Entry>& t = reader.table(CHANNEL_ALGO_OUTPUT, &path);
        t.resize(path.size());
        for (size_t i = 0; i < std::size(names); ++i)
            reader.read(t[i], path[i], *fields[i], CHANNEL_ALGO_OUTPUT);
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
        std::vector<CycleReader_TRVAXX::Entry>& t = reader.table(CHANNEL_ALGO_OUTPUT, &path);
        t.resize(path.size());
        float* const reals[] = {&c.transZ, &c.rotX, &c.rotY, &c.rotZ};
        for (size_t i = 0; i < 4; ++i)
            reader.read(t[i], path[i], *reals[i], CHANNEL_ALGO_OUTPUT);
        reader.read(t[4], path[4], c.calibrationStableCounter, CHANNEL_ALGO_OUTPUT);
        reader.read(t[5], path[5], c.calibValid, CHANNEL_ALGO_OUTPUT);
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
        // Two loops: the distance loop has no table look-up and vectorizes.
        for (size_t i = 0; i < size_t(TRVAXX_PIXEL_COUNT); ++i) {
            const float a = wX * (r.X[i] - c.transX);
            const float b = wY * (r.Y[i] - c.transY);
            const float d = wZ * (r.Z[i] - c.transZ);
            r.cameraAxisDistance[i] = a - b + d;
        }
        // The factor chosen by selects among local copies rather than by a table look-up in the
        // record, so that this loop vectorizes too.
        const auto [n0, n1, n2, n3] = r.amplitude_normalization;
        for (size_t i = 0; i < size_t(TRVAXX_PIXEL_COUNT); ++i) {
            const unsigned k = (r.confidence[i] >> 1) & 3u;
            const float low = (k & 1u) ? n1 : n0;
            const float high = (k & 1u) ? n3 : n2;
            r.normalizedAmplitude[i] = ((k & 2u) ? high : low) * float(r.amplitude[i]);
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
