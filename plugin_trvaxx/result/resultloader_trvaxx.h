#pragma once

#include "result/dataoutput_trvaxx.h"
#include "result/resultloaderlogging_trvaxx.h"

#include "udp-transport/streamstatistics.h"
#include "udp-transport/udpsocket.h"

#include <QObject>
#include <QString>

#include <memory>

class CaptureControler;
class CycleAssembler;
class EthReceiver;
class PackageProcessor_TRVAXX;

// The Ethernet receive chain of one sensor: logger, data output, reassembler and receive thread.
// start() and stop() may alternate; the reassembler keeps its state across them.
class ResultLoader_TRVAXX : public QObject {
    Q_OBJECT
public:
    // Error code of start() when the address cannot be used or the thread does not start.
    static constexpr int START_FAILED = -1;

    ResultLoader_TRVAXX(CaptureControler* recorder, PackageProcessor_TRVAXX* processor,
                        QObject* parent = nullptr);
    ~ResultLoader_TRVAXX() override;

    // Receives on `port` from the sender `address` (dotted IPv4; "0.0.0.0" accepts every sender).
    // Returns 0, or START_FAILED with a critical message when the address is unusable.
    int start(quint16 port, const QString& address);
    // Where the one-byte wake-up datagram goes when the thread starts (default: the directed
    // broadcast of every IPv4 interface, which opens firewalls for the sensor's stream). Tests and
    // a virtual sensor on this machine keep it on loopback. Takes effect at the next start().
    void setWakeUp(UdpSocket::WakeUp wakeUp);
    // Stops the receive thread and waits until it has ended.
    void stop();
    bool isRunning() const;
    // The port the running receive thread's socket is bound to (0 while stopped); useful when
    // start() was given port 0.
    quint16 boundPort() const;

    // Reassembly counters, published after every complete cycle and at least every half second.
    StreamStatistics getStatistics() const { return dataOutput.lastStatistics(); }
    // True once the transport reported missing packets three times: the usual cause is a second
    // sensor with the same IP address sending to the same port.
    bool hasIpAddressConflict() const { return logger.getMissingPacketsCount() >= 3; }
    ResultLoaderLogging_TRVAXX& getLogger() { return logger; }

private:
    ResultLoaderLogging_TRVAXX logger;
    DataOutput_TRVAXX dataOutput;
    // Declared in destruction order: the receive thread goes first, then the reassembler.
    std::unique_ptr<CycleAssembler> assembler;
    std::unique_ptr<EthReceiver> receiver;
};
