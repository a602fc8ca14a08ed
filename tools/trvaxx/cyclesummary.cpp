#include "tools/trvaxx/cyclesummary.h"

#include "udp-transport/streamstatistics.h"

#include <QJsonValue>

#include <cmath>

namespace {

// Four decimals (0.1 mm) keep the JSON readable without losing what the sensor resolves.
double rounded(float value, double scale = 1e4) {
    return std::round(double(value) * scale) / scale;
}

template <typename T> QJsonValue jsonOrNull(const std::optional<T>& value) {
    // JSON has no NaN or infinity: an unknown value is null.
    return value && std::isfinite(double(*value)) ? QJsonValue(double(*value)) : QJsonValue(QJsonValue::Null);
}

QJsonValue textOrNull(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

} // namespace

SummaryLine CycleSummary::describe(const ResultData_TRVAXX& record) {
    SummaryLine line;
    line.frameCounter = record.frameCounter();
    int valid = 0;
    float minimum = 0, maximum = 0;
    for (int i = 0; i < TRVAXX_PIXEL_COUNT; ++i) {
        if (record.confidence[std::size_t(i)] & 0x1) // bit 0: no valid measurement
            continue;
        const float d = record.cameraAxisDistance[std::size_t(i)];
        if (valid == 0 || d < minimum)
            minimum = d;
        if (valid == 0 || d > maximum)
            maximum = d;
        ++valid;
    }
    line.validPixels = valid;
    if (valid > 0) {
        line.distanceMin = minimum;
        line.distanceMax = maximum;
    }
    // Slots without an object or line carry the id -1.
    if (record.cameraVariant.startsWith(QLatin1String("OD"))) {
        int n = 0;
        for (const DetectedObject_TRVAXX& o : record.objects.objects)
            n += o.id >= 0 ? 1 : 0;
        line.objects = n;
    } else if (record.cameraVariant.startsWith(QLatin1String("LG"))) {
        int n = 0;
        for (const DetectedLine_TRVAXX& l : record.lines.lines)
            n += l.id >= 0 ? 1 : 0;
        line.lines = n;
    }
    line.softwareVersion = record.softwareVersion;
    line.variant = record.cameraVariant.trimmed();
    line.serial = record.serialNumber;
    return line;
}

void CycleSummary::addRecord(const ResultDataSP_TRVAXX& record) {
    ++m_cycles;
    if (record)
        m_latest = record;
}

SummaryLine CycleSummary::takeLine(double seconds) {
    SummaryLine line;
    if (m_cycles > 0 && m_latest)
        line = describe(*m_latest);
    line.cyclesPerSecond = seconds > 0 ? double(m_cycles) / seconds : 0;
    m_cycles = 0;
    m_latest.reset();
    return line;
}

QJsonObject CycleSummary::statisticsJson(const StreamStatistics& s) {
    return QJsonObject{{QStringLiteral("dsp_datagrams"), double(s.dspPackets)},
                       {QStringLiteral("kp_datagrams"), double(s.kpPackets)},
                       {QStringLiteral("missing_packets"), double(s.missingPacketEvents)},
                       {QStringLiteral("lrc_errors"), double(s.lrcErrors)},
                       {QStringLiteral("start_delimiter_errors"), double(s.startDelimiterErrors)},
                       {QStringLiteral("end_delimiter_errors"), double(s.endDelimiterErrors)},
                       {QStringLiteral("can_beacons"), double(s.canBeacons)}};
}

QJsonObject SummaryLine::toJson() const {
    QJsonObject o;
    o.insert(QStringLiteral("cycles_per_s"), std::round(cyclesPerSecond * 100) / 100);
    o.insert(QStringLiteral("frame_counter"), jsonOrNull(frameCounter));
    o.insert(QStringLiteral("valid_pixels"), jsonOrNull(validPixels));
    o.insert(QStringLiteral("distance_min"), distanceMin && std::isfinite(*distanceMin)
                                                 ? QJsonValue(rounded(*distanceMin))
                                                 : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("distance_max"), distanceMax && std::isfinite(*distanceMax)
                                                 ? QJsonValue(rounded(*distanceMax))
                                                 : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("objects"), jsonOrNull(objects));
    o.insert(QStringLiteral("lines"), jsonOrNull(lines));
    o.insert(QStringLiteral("software_version"), textOrNull(softwareVersion));
    o.insert(QStringLiteral("variant"), textOrNull(variant));
    o.insert(QStringLiteral("serial"), textOrNull(serial));
    o.insert(QStringLiteral("stats"), stats ? QJsonValue(*stats) : QJsonValue(QJsonValue::Null));
    return o;
}

QString SummaryLine::toText() const {
    const QString none = QStringLiteral("-");
    QString text = QStringLiteral("%1 cycles/s").arg(cyclesPerSecond, 5, 'f', 1);
    text += QStringLiteral("  frame %1").arg(frameCounter ? QString::number(*frameCounter) : none);
    text += QStringLiteral("  valid %1").arg(validPixels ? QString::number(*validPixels) : none);
    if (distanceMin && distanceMax)
        text += QStringLiteral("  dist %1..%2 m")
                    .arg(double(*distanceMin), 0, 'f', 3)
                    .arg(double(*distanceMax), 0, 'f', 3);
    else
        text += QStringLiteral("  dist -");
    if (objects)
        text += QStringLiteral("  objects %1").arg(*objects);
    if (lines)
        text += QStringLiteral("  lines %1").arg(*lines);
    if (!variant.isEmpty() || !softwareVersion.isEmpty() || !serial.isEmpty())
        text +=
            QStringLiteral("  %1 %2 SN %3")
                .arg(variant.isEmpty() ? none : variant, softwareVersion.isEmpty() ? none : softwareVersion,
                     serial.isEmpty() ? none : serial);
    if (stats) {
        const QJsonObject& s = *stats;
        text += QStringLiteral("  | dgrams %1/%2 missing %3 lrc %4 start %5 end %6")
                    .arg(s.value(QStringLiteral("dsp_datagrams")).toDouble(), 0, 'f', 0)
                    .arg(s.value(QStringLiteral("kp_datagrams")).toDouble(), 0, 'f', 0)
                    .arg(s.value(QStringLiteral("missing_packets")).toDouble(), 0, 'f', 0)
                    .arg(s.value(QStringLiteral("lrc_errors")).toDouble(), 0, 'f', 0)
                    .arg(s.value(QStringLiteral("start_delimiter_errors")).toDouble(), 0, 'f', 0)
                    .arg(s.value(QStringLiteral("end_delimiter_errors")).toDouble(), 0, 'f', 0);
    }
    return text;
}
