// Feeds arbitrary sensor memory to the parameter transfer: the KP block with its header and the
// DSP size word with its body, as ReadMemoryByAddress answers them, then every parameter id read
// and a few written through the real descriptions of one variant and version. Whatever the
// sensor holds, reads either fail or give values, writes either fail or keep the image sizes.
//
// Input: byte 0 picks the descriptions; bytes 1..2 (big-endian) the length of the KP region;
// then the KP region, then the DSP region (size word first).
#include "can-communication/ReadParam.h"
#include "can-communication/paramtable.h"
#include "can-communication/paramtransfer.h"
#include "tests/can-communication/scriptedcandevice.h"

#include <QtEndian>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 20000)
        return 0;
    static const char* const kVersions[][2] = {{"OD", "3_4"}, {"DI", "3_4"}, {"LG", "3_5"}, {"DI", "1_12"}};
    const auto& choice = kVersions[data[0] % 4];
    const size_t kpLength = std::min<size_t>(qFromBigEndian<quint16>(data + 1), size - 3);
    const QByteArray kp(reinterpret_cast<const char*>(data + 3), qsizetype(kpLength));
    const QByteArray dsp(reinterpret_cast<const char*>(data + 3 + kpLength), qsizetype(size - 3 - kpLength));

    VirtualClock clock;
    ScriptedCanDevice device(239, &clock);
    DiagPC diag(&device, 239);
    diag.setClock(&clock);
    device.onRequest = [&](ScriptedCanDevice& d, uint32_t, const QByteArray& r) {
        if (r.startsWith(char(0x10)))
            return d.reply(hex("50 03 00 32 01 F4"));
        if (r.size() < 8)
            return d.reply(QByteArray::fromHex("7F2313"));
        const uint32_t address = qFromBigEndian<quint32>(r.constData() + 2);
        const qint64 length = qFromBigEndian<quint16>(r.constData() + 6);
        const bool inKp = address >= ReadParam::kKpAddress && address < ReadParam::kKpAddress + 0x10000;
        const QByteArray& region = inKp ? kp : dsp;
        const qint64 offset = qint64(address) - (inKp ? ReadParam::kKpAddress : ReadParam::kDspSizeAddress);
        if (offset < 0 || offset + length > region.size())
            return d.reply(QByteArray::fromHex("7F2331"));
        d.reply(char(0x63) + region.mid(offset, length));
    };
    ParamTransfer transfer;
    const QString version = QString::fromLatin1(choice[1]);
    const QString variant = QString::fromLatin1(choice[0]);
    if (!transfer.readAll(&diag, version,
                          QStringLiteral(":/paramdescription/DSP_CPAR_%1_%2.kvd").arg(variant, version),
                          QStringLiteral(":/paramdescription/KP_CPAR_%1_%2.kvd").arg(variant, version)))
        return 0;
    const qsizetype dspSize = transfer.dspImage().size(), kpSize = transfer.kpImage().size();
    for (int id : ParamTable::memberIds()) {
        const QVariant value = transfer.readData(id, variant);
        if (value.isValid())
            transfer.writeData(id, value, variant);
    }
    transfer.writeData(11, QStringLiteral("10.0.0.1"), variant);
    transfer.writeData(17, 500000, variant);
    if (transfer.dspImage().size() != dspSize || transfer.kpImage().size() != kpSize)
        std::abort();
    return 0;
}
