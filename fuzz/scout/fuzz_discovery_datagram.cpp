// The automatic search's reading of datagrams from the network: the input is one datagram for
// classify() and readCanBeacon(), and, after a 4-byte little-endian description length, a
// description and a data block for readIdentity() and buildAddress().
#include "scout/discoverydatagram_trvaxx.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace discovery_trvaxx;
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    classify(input);
    QStringList buses;
    QString error;
    readCanBeacon(input, buses, error);
    if (size < 4)
        return 0;
    const uint32_t length = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
                            uint32_t(data[3]) << 24;
    const qsizetype split = qsizetype(length % (size - 3));
    const QByteArray description = input.mid(4, split);
    const QByteArray block = input.mid(4 + split);
    Identity identity;
    if (readIdentity(description, block, identity, error))
        buildAddress(identity, QStringLiteral("10.0.0.1"), 42000);
    return 0;
}
