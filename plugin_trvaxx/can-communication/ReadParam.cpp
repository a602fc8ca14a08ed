#include "can-communication/ReadParam.h"

#include "can-communication/canlogging.h"
#include "can-communication/diagpc.h"

#include <QtEndian>

#include <algorithm>

namespace {
constexpr uint8_t kExtendedSession = 3;
}

int ReadParam::read(const QByteArray& blockName, QByteArray& block) {
    block.clear();
    diag->configure();
    if (const int result = diag->diagnosticSessionControl(kExtendedSession))
        return result;
    switch (blockName.isEmpty() ? '\0' : blockName.at(0)) {
    case 'K':
        return readKp(block);
    case 'D':
        return readDsp(block);
    default:
        return DIAG_DATA_ERR;
    }
}

int ReadParam::readKp(QByteArray& block) {
    QByteArray header;
    if (const int result = readRange(kKpAddress, kHeaderSize, header))
        return result;
    const qint64 start = qFromBigEndian<quint32>(header.constData() + 32);
    const qint64 end = qFromBigEndian<quint32>(header.constData() + 36);
    const qint64 body = end - start;
    if (body < 0 || body - 4 > kMaxKpBody)
        return DIAG_DATA_ERR;
    return readRange(kKpAddress, uint32_t(body + kHeaderSize), block);
}

int ReadParam::readDsp(QByteArray& block) {
    QByteArray word;
    if (const int result = readRange(kDspSizeAddress, 4, word))
        return result;
    const uint32_t size = qFromLittleEndian<quint32>(word.constData());
    qCDebug(lcCan).noquote() << QStringLiteral("Get_Param_DataRam: size_data = %1").arg(size);
    if (size > kMaxDspSize)
        return DIAG_DATA_ERR;
    return readRange(kDspAddress, size, block);
}

int ReadParam::readRange(uint32_t address, uint32_t size, QByteArray& out) {
    out.clear();
    out.reserve(qsizetype(size));
    for (uint32_t done = 0; done < size;) {
        const uint16_t piece = uint16_t(std::min<uint32_t>(kMaxRead, size - done));
        QByteArray data;
        if (const int result = diag->readMemoryByAddress(address + done, piece, data)) {
            qCDebug(lcCan) << "Service ReadMemoryByAddress() was not successfull!";
            qCDebug(lcCan) << "Hint: KP might not run in Application mode";
            out.clear();
            return result;
        }
        out.append(data);
        done += piece;
    }
    return DIAG_OK;
}
