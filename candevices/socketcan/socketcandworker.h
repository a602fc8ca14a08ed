#pragma once
// The socketcand client transport: one TCP connection to a socketcand server, opened with the
// greeting, bit timing, "open" and "rawmode" exchange, kept alive with "echo" elements.

#include "candevices/socketcan/socketcandprotocol.h"
#include "candevices/socketcan/transportworker.h"

#include <QAbstractSocket>
#include <QElapsedTimer>

class QTcpSocket;

class SocketcandWorker : public TransportWorker {
    Q_OBJECT
public:
    static constexpr int kHandshakeTimeoutMs = 3000;
    static constexpr int kKeepAliveMs = 1000;             // an echo after this long without traffic
    static constexpr int kDeadAfterMs = 5000;             // the connection counts as lost after this long
    static constexpr qint64 kMaxPendingBytes = 16 * 1024; // in the socket object, beyond the kernel's
    static constexpr int kSendBufferBytes = 32 * 1024;

    SocketcandWorker(ReceiveQueue& queue, const CanDeviceConfig& config, const QString& host, quint16 port,
                     const QString& bus);

    uint16_t open() override;

signals:
    void handshakeFinished();

protected:
    WriteResult tryWrite(const CanFrame& frame, uint16_t& status) override;
    void reopen() override;
    void closeConnection() override;

private:
    enum class State { Idle, Connecting, AwaitHi, AwaitOpenOk, AwaitRawModeOk, Connected };
    void startAttempt();
    void onConnected();
    void onReadyRead();
    void onSocketError(QAbstractSocket::SocketError error);
    void onElement(const SocketcandElement& element);
    void onKeepAlive();
    void writeText(const std::string& text);
    // Ends an attempt (status) or a working connection (reason); closes the socket.
    void finishHandshake(uint16_t status, const QString& reason);
    void drop(const QString& reason, uint16_t handshakeStatus);
    QString peer() const;

    const QString m_host;
    const quint16 m_port;
    const QString m_bus;
    QTcpSocket* m_socket = nullptr;
    QTimer* m_handshakeTimer;
    QTimer* m_keepAliveTimer;
    QElapsedTimer m_sinceReceive;
    SocketcandParser m_parser;
    State m_state = State::Idle;
    uint16_t m_openStatus = 0;
    bool m_initialOpen = false;
};
