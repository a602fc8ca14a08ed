#pragma once
// CanTrace writes CAN frames to a pcap file of link type 227 (SocketCAN), readable by common
// network analysers. Each record is flushed at once, so a crash leaves a readable trace. Frames
// come from two threads (sends on the caller's, receptions on the proxy's), hence the mutex.

#include "can-communication/canreceiver.h"

#include <QFile>
#include <QMutex>
#include <QString>

class CanTrace : public CANReceiver {
public:
    // Link type of SocketCAN frames in pcap files.
    static constexpr uint32_t kLinkTypeCanSocketCan = 227;
    // Flag of 29-bit identifiers in the SocketCAN frame header.
    static constexpr uint32_t kExtendedFlag = 0x80000000u;

    // Where the trace goes: the environment variable TRVAXX_CAN_TRACE, else the setting
    // "plugin_trvaxx/can_trace"; empty for no trace.
    static QString configuredPath();

    // Opens (truncates) `path` and writes the file header; isOpen() tells whether it worked.
    explicit CanTrace(const QString& path);
    bool isOpen() const { return file.isOpen(); }
    QString path() const { return file.fileName(); }

    void writeFrame(uint32_t identifier, const uint8_t* data, uint32_t length);
    void receiveFrame(const CanFrame& frame) override;

private:
    QMutex mutex;
    QFile file;
};
