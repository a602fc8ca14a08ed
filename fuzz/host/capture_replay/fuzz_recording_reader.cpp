// Recording files are outside input: any byte string must be refused or read up to its damage,
// without reading past the buffer or allocating more than the bytes present.
#include "capture_replay/recordingreader.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    RecordingReader reader;
    if (!reader.open(&buffer)) {
        if (reader.errorString().isEmpty())
            __builtin_trap(); // a refusal always says why
        return 0;
    }
    RecordedPacket packet;
    qint64 total = 0;
    RecordingReader::Status status;
    while ((status = reader.readPacket(packet)) == RecordingReader::Status::Packet)
        total += packet.data.size();
    if (total > qint64(size) ||
        (status == RecordingReader::Status::Damaged && reader.errorString().isEmpty()))
        __builtin_trap();
    // Playing it again gives the same packets.
    if (reader.rewind()) {
        qint64 again = 0;
        while (reader.readPacket(packet) == RecordingReader::Status::Packet)
            again += packet.data.size();
        if (again != total)
            __builtin_trap();
    }
    return 0;
}
