#pragma once
// ReadDataWithDiagnosis reads the sensor's identity and state values over diagnosis. Every
// operation first runs the diagnostic client's configuration step and opens the extended session.

#include "can-communication/diagpc.h"

#include <QString>
#include <QStringList>

// Identity of a sensor as read over diagnosis; texts stay empty when their read failed.
struct SensorIdentity {
    // CPLD, DK boot loader, DK, DSP, KP boot loader, KP ("%d.%d.%d"); fewer when the sensor sends
    // fewer.
    QStringList versions;
    QString globalSoftwareVersion; // "3.4.1"
    QString variant;               // "DI", "OD", "LG"
    QString articleNumber;
    QString serialNumber;
    QString mainboardVersion; // "0x%.2X"
    QString frontendVersion;  // "0x%.1X"
    int mainboardVersionNumber = -1;
    int frontendVersionNumber = -1;
    QString illuArticleNumber;
    QString illuHardwareVersion; // "0x%.1X"
    int illuHardwareVersionNumber = -1;
    QString illuSerialNumber;

    // Label and text of every value, in reading order, as logged.
    QList<QPair<QString, QString>> labelledValues() const;
};

// State values (0x0701 twice, 0x0702, 0x0703); 0 when not read.
struct SensorStateData {
    float first = 0;  // 0x0701 bytes 0..3
    float second = 0; // 0x0702 bytes 0..3
    float third = 0;  // 0x0702 bytes 4..7 when the answer is longer than 8 bytes
    float fourth = 0; // 0x0702 bytes 8..11, or 4..7 for a short answer
    int fifth = 0;    // 0x0703 byte 0
    float last = 0;   // 0x0701 read again at the end
};

class ReadDataWithDiagnosis {
public:
    static constexpr uint16_t kVersions = 0xFD03;
    static constexpr uint16_t kGlobalSoftwareVersion = 0xFD15;
    static constexpr uint16_t kVariant = 0xFD18;
    static constexpr uint16_t kArticleNumber = 0xF187;
    static constexpr uint16_t kSerialNumber = 0xF18C;
    static constexpr uint16_t kHardwareVersion = 0xF193;
    static constexpr uint16_t kIlluArticleNumber = 0xF1A0;
    static constexpr uint16_t kIlluHardwareVersion = 0xF1A2;
    static constexpr uint16_t kIlluSerialNumber = 0xF1A3;

    explicit ReadDataWithDiagnosis(DiagPC* diag);

    // 0 on success, 1 on failure (logged).
    int readArticleNumber(QString& articleNumber);
    int readSerialNumber(QString& serialNumber);
    // Reads every identity value in order; 0 when all were read, 1 otherwise (the values that
    // were read are kept).
    int readIdentity(SensorIdentity& identity);
    int readState(SensorStateData& state);

    // Text forms of the answers (also used by the virtual sensor's tests).
    static QString textOf(const QByteArray& data);
    static QStringList versionsOf(const QByteArray& data);
    static QString versionOf(const QByteArray& data);
    static float floatAt(const QByteArray& data, int offset);

private:
    // Configuration, extended session, pause; false (logged) when the session failed.
    bool openSession();
    int readText(uint16_t identifier, QString& text);
    // Reads one identifier; a failure is logged, counted and leaves `data` empty.
    bool readCounted(uint16_t identifier, QByteArray& data, int& failures);

    DiagPC* const diag;
};
