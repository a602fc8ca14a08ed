#pragma once
// The sensor's error memory: trouble codes read over diagnosis with their English texts from the
// diagnostic description (".cdd") of the sensor's firmware, clearing, and the status bit names.

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>

class DiagPC;

// Registers the embedded diagnostic descriptions (":/paramdescription/DiagMobCa_*.cdd"); they
// live in a static library, so the linker would otherwise drop them. Safe to call repeatedly.
void ensureDiagDescriptions();

struct DtcEntry {
    uint32_t code = 0; // 3-byte trouble code
    uint8_t status = 0;
    QString text; // empty when the description has none
};

// Trouble-code texts of one diagnostic description. A line "<RECORD oid='...'='CODE'>" opens a
// code; the first following "<TUV xml:lang='en-US'>TEXT</TUV>" line gives its text. Lines are read
// up to 1024 bytes.
class DiagDescriptionTexts {
public:
    // Reads `fileName` (a file or a resource); a file that cannot be opened is logged and gives no
    // texts.
    explicit DiagDescriptionTexts(const QString& fileName);
    QString text(uint32_t code) const { return texts.value(code); }
    int size() const { return static_cast<int>(texts.size()); }

private:
    QHash<uint32_t, QString> texts;
};

class ErrorMemoryReader {
public:
    explicit ErrorMemoryReader(DiagPC* diag);
    // Reads the trouble codes whose status matches `statusMask`; texts from `descriptionFile`.
    // Returns a DiagResult.
    int read(const QString& descriptionFile, QList<DtcEntry>& entries, uint8_t statusMask = 0xFF);
    int clear();

    // "TestFailed + ConfirmedDTC": names of the set status bits joined by " + ".
    static QString statusText(uint8_t status);

private:
    DiagPC* const diag;
};
