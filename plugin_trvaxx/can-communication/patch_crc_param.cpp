#include "can-communication/patch_crc_param.h"

#include "can-communication/flashcontainer.h"

#include "can-communication/canlogging.h"

#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace ParamFile {

QByteArray header(const char (&tag)[5], const char* name, qsizetype bodySize, const QDateTime& at) {
    QByteArray h(kHeaderSize, '\0');
    char* p = h.data();
    std::memcpy(p, tag, 4);
    qToBigEndian<quint32>(kHeaderSize, p + 4);
    // Bytes 9..31: name and date, zero-terminated, the rest spaces.
    const QByteArray text =
        (QByteArray(name) + at.toString(QStringLiteral("dd.MM.yyyy")).toLatin1()).left(22);
    std::memset(p + 9, ' ', 23);
    std::memcpy(p + 9, text.constData(), size_t(text.size()));
    p[9 + text.size()] = '\0';
    qToBigEndian<quint32>(kHeaderSize, p + 32);
    qToBigEndian<quint32>(quint32(bodySize + kHeaderSize), p + 36);
    const QTime time = at.time();
    const QByteArray clock = (time.toString(QStringLiteral("hh:mm:ss.")) +
                              QStringLiteral("%1").arg(time.msec() / 10, 2, 10, QLatin1Char('0')))
                                 .toLatin1();
    std::memcpy(p + 40, clock.constData(), 11);
    std::memcpy(p + 51, "0000", 4);
    return h;
}

} // namespace ParamFile

bool patch_crc_param(const QString& input, const QString& output) {
    QFile in(input);
    if (!in.open(QIODevice::ReadOnly)) {
        qCDebug(lcCan).noquote() << QStringLiteral("Unable to open file %1").arg(input);
        return false;
    }
    qCDebug(lcCan).noquote() << QStringLiteral("Filename:  %1").arg(input);
    if (in.size() > ParamFile::kMaxFileSize) {
        qCDebug(lcCan) << "file does not fit into buffer";
        return false;
    }
    QByteArray file = in.readAll();
    if (file.size() < ParamFile::kHeaderSize) {
        qCDebug(lcCan).noquote() << QStringLiteral("%1 is shorter than its 64-byte header").arg(input);
        return false;
    }
    char* h = file.data();
    qToBigEndian<quint32>(flashCrc32(h + ParamFile::kHeaderSize, file.size() - ParamFile::kHeaderSize),
                          h + ParamFile::kBodyCrcOffset);
    qToBigEndian<quint32>(flashCrc32(h, ParamFile::kHeaderCrcOffset), h + ParamFile::kHeaderCrcOffset);
    QFile out(output);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(file) != file.size()) {
        qCDebug(lcCan).noquote() << "Can't open file " + output;
        return false;
    }
    return true;
}
