#pragma once

#include "result/resultdata_trvaxx.h"

#include <QJsonObject>
#include <QString>

#include <optional>

struct StreamStatistics;

// The figures of one summary line: what arrived during one second of a live stream or of a
// recording. Optional fields are empty when no record arrived or the firmware does not produce them.
struct SummaryLine {
    double cyclesPerSecond = 0;
    std::optional<quint32> frameCounter;
    std::optional<int> validPixels;
    std::optional<float> distanceMin; // metres along the camera axis, valid pixels only
    std::optional<float> distanceMax;
    std::optional<int> objects; // object detection firmware
    std::optional<int> lines;   // line guidance firmware
    QString softwareVersion;
    QString variant;
    QString serial;
    std::optional<QJsonObject> stats; // reassembly counters (live streams only)

    QJsonObject toJson() const;
    QString toText() const;
};

// Collects the records of one interval and makes its summary line. Used on one thread at a time.
class CycleSummary {
public:
    void addRecord(const ResultDataSP_TRVAXX& record);
    // Counts a cycle whose record is not looked at (the newest one is taken at the end).
    void addCycle() { ++m_cycles; }
    void setLatest(const ResultDataSP_TRVAXX& record) { m_latest = record; }
    // The line for an interval of `seconds`, then starts the next interval.
    SummaryLine takeLine(double seconds);
    qint64 cyclesInInterval() const { return m_cycles; }

    static QJsonObject statisticsJson(const StreamStatistics& statistics);
    // Figures of one record (everything but the cycle rate and the statistics).
    static SummaryLine describe(const ResultData_TRVAXX& record);

private:
    qint64 m_cycles = 0;
    ResultDataSP_TRVAXX m_latest;
};
