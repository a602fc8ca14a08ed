#pragma once
// Recording files for the capture and replay tests: written with given packets and time stamps,
// and read back whole.

#include "capture_replay/recordingreader.h"
#include "capture_replay/recordingwriter.h"

#include <QBuffer>
#include <QFile>

#include <gtest/gtest.h>

#include <vector>

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
    return f.readAll();
}

// `count` time stamps `stepUs` apart, from 0.
inline std::vector<quint64> evenly(int count, quint64 stepUs) {
    std::vector<quint64> timestamps;
    for (int i = 0; i < count; ++i)
        timestamps.push_back(quint64(i) * stepUs);
    return timestamps;
}

// Writes packets "p0", "p1", ... (or what `packet` makes of the index) with the given time stamps.
inline QString writeRecording(const QString& path, const std::vector<quint64>& timestampsUs,
                              QByteArray (*packet)(int) = nullptr) {
    RecordingWriter writer;
    EXPECT_TRUE(writer.open(path, QStringLiteral("vlr_trv_DSP"), 0x10000, 4223, 0));
    for (std::size_t i = 0; i < timestampsUs.size(); ++i) {
        const QByteArray p = packet ? packet(int(i)) : "p" + QByteArray::number(qulonglong(i));
        EXPECT_TRUE(writer.writePacket(timestampsUs[i], p.constData(), std::size_t(p.size())));
    }
    writer.close();
    return path;
}

struct ReadResult {
    bool opened = false;
    QString error;
    std::vector<RecordedPacket> packets;
    RecordingReader::Status last = RecordingReader::Status::End;
};

// Every packet of a recording's bytes, up to the end or the damage.
inline ReadResult readRecording(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    RecordingReader reader;
    ReadResult r;
    r.opened = reader.open(&buffer);
    r.error = reader.errorString();
    if (!r.opened)
        return r;
    RecordedPacket p;
    while ((r.last = reader.readPacket(p)) == RecordingReader::Status::Packet)
        r.packets.push_back(p);
    r.error = reader.errorString();
    EXPECT_EQ(reader.packetsRead(), qint64(r.packets.size()));
    return r;
}
