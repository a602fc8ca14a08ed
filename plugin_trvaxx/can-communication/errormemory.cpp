#include "can-communication/errormemory.h"

#include "can-communication/canlogging.h"
#include "can-communication/diagpc.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {
constexpr qint64 kMaxLine = 1024;
constexpr uint8_t kExtendedSession = 3;
} // namespace

// Q_INIT_RESOURCE must be used outside any namespace.
void ensureDiagDescriptions() {
    static const bool done = [] {
        Q_INIT_RESOURCE(diagdescriptions);
        return true;
    }();
    Q_UNUSED(done);
}

DiagDescriptionTexts::DiagDescriptionTexts(const QString& fileName) {
    ensureDiagDescriptions();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(lcCan).noquote() << QStringLiteral("could not open file: %1\n").arg(fileName);
        return;
    }
    static const QRegularExpression record(QStringLiteral("^<RECORD oid='[^=]*='(-?\\d+)'>"));
    static const QRegularExpression text(QStringLiteral("^<TUV xml:lang='en-US'>([^<]+)</TUV>"));
    // Codes whose record line was seen and that wait for their text line.
    QList<uint32_t> open;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine(kMaxLine + 1)).trimmed();
        if (const auto match = record.match(line); match.hasMatch()) {
            bool ok = false;
            const long long code = match.captured(1).toLongLong(&ok);
            if (ok && code >= 0 && code <= 0xFFFFFF)
                open.append(static_cast<uint32_t>(code));
            continue;
        }
        if (open.isEmpty())
            continue;
        if (const auto match = text.match(line); match.hasMatch()) {
            for (uint32_t code : std::as_const(open))
                texts.insert(code, match.captured(1));
            open.clear();
        }
    }
}

ErrorMemoryReader::ErrorMemoryReader(DiagPC* diag) : diag(diag) {}

int ErrorMemoryReader::read(const QString& descriptionFile, QList<DtcEntry>& entries, uint8_t statusMask) {
    entries.clear();
    diag->configure();
    QByteArray records;
    if (const int result = diag->readDtcInformation(statusMask, records))
        return result;
    const DiagDescriptionTexts texts(descriptionFile);
    const auto* bytes = reinterpret_cast<const uint8_t*>(records.constData());
    for (qsizetype at = 0; at + 4 <= records.size(); at += 4) {
        DtcEntry entry;
        entry.code = (uint32_t(bytes[at]) << 16) | (uint32_t(bytes[at + 1]) << 8) | bytes[at + 2];
        entry.status = bytes[at + 3];
        entry.text = texts.text(entry.code);
        entries.append(entry);
    }
    return DIAG_OK;
}

int ErrorMemoryReader::clear() {
    diag->configure();
    if (const int result = diag->diagnosticSessionControl(kExtendedSession))
        return result;
    return diag->clearDiagnosticInformation();
}

QString ErrorMemoryReader::statusText(uint8_t status) {
    static const char* const names[8] = {"TestFailed",
                                         "TestFailedThisOperationCycle",
                                         "PendingDTC",
                                         "ConfirmedDTC",
                                         "TestNotCompleteSinceLastClear",
                                         "TestFailedSinceLastClear",
                                         "TestNotCompletedThisOperationCycle",
                                         "WarningIndicatorRequested"};
    QStringList set;
    for (int bit = 0; bit < 8; ++bit)
        if (status & (1u << bit))
            set << QString::fromLatin1(names[bit]);
    return set.join(QStringLiteral(" + "));
}
