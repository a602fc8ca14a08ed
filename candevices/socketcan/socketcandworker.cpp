#include "candevices/socketcan/socketcandworker.h"

#include "candevices/socketcan/candevicestatus.h"
#include "candevices/socketcan/socketcanlog.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

SocketcandWorker::SocketcandWorker(ReceiveQueue& queue, const CanDeviceConfig& config, const QString& host,
                                   quint16 port, const QString& bus)
    : TransportWorker(queue, config), m_host(host), m_port(port), m_bus(bus),
      m_handshakeTimer(new QTimer(this)), m_keepAliveTimer(new QTimer(this)) {
    m_handshakeTimer->setSingleShot(true);
    m_handshakeTimer->setInterval(kHandshakeTimeoutMs);
    connect(m_handshakeTimer, &QTimer::timeout, this, [this] {
        drop(QStringLiteral("no answer within %1 ms").arg(kHandshakeTimeoutMs), CanDeviceStatus::Unreachable);
    });
    m_keepAliveTimer->setInterval(kKeepAliveMs);
    connect(m_keepAliveTimer, &QTimer::timeout, this, &SocketcandWorker::onKeepAlive);
}

QString SocketcandWorker::peer() const {
    return QStringLiteral("%1:%2/%3").arg(m_host).arg(m_port).arg(m_bus);
}

uint16_t SocketcandWorker::open() {
    QEventLoop loop;
    connect(this, &SocketcandWorker::handshakeFinished, &loop, &QEventLoop::quit);
    m_initialOpen = true;
    startAttempt();
    if (m_state != State::Idle)
        loop.exec();
    m_initialOpen = false;
    return m_openStatus;
}

void SocketcandWorker::reopen() {
    startAttempt();
}

void SocketcandWorker::startAttempt() {
    if (!m_socket) {
        m_socket = new QTcpSocket(this);
        connect(m_socket, &QTcpSocket::connected, this, &SocketcandWorker::onConnected);
        connect(m_socket, &QTcpSocket::readyRead, this, &SocketcandWorker::onReadyRead);
        connect(m_socket, &QTcpSocket::errorOccurred, this, &SocketcandWorker::onSocketError);
        connect(m_socket, &QTcpSocket::bytesWritten, this, &SocketcandWorker::resumeSending);
    }
    m_parser.reset();
    m_state = State::Connecting;
    m_handshakeTimer->start();
    m_socket->connectToHost(m_host, m_port);
}

void SocketcandWorker::onConnected() {
    // Frames must leave at once, or the separation times a sender keeps are lost on the way.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // A small send buffer: frames queued behind megabytes of others would reach the bus seconds
    // late; senders should feel a stalled server instead.
    m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kSendBufferBytes);
    m_state = State::AwaitHi;
}

void SocketcandWorker::onReadyRead() {
    char buffer[4096];
    const auto sink = [this](const SocketcandElement& element) { onElement(element); };
    while (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) {
        const qint64 n = m_socket->read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_sinceReceive.start();
        if (!m_parser.feed(buffer, static_cast<std::size_t>(n), sink)) {
            // The loss line (or the failed open) names the fault; the connection is closed.
            drop(QStringLiteral("malformed socketcand stream, closed (%1)")
                     .arg(QString::fromStdString(m_parser.error())),
                 CanDeviceStatus::OpenFailed);
            return;
        }
    }
}

void SocketcandWorker::onElement(const SocketcandElement& element) {
    using Kind = SocketcandElement::Kind;
    const auto refused = [&] {
        drop(QStringLiteral("server refused: %1")
                 .arg(QString::fromUtf8(element.text.data(), int(element.text.size()))),
             CanDeviceStatus::Unreachable);
    };
    switch (m_state) {
    case State::AwaitHi:
        if (element.kind != Kind::Hi)
            return drop(QStringLiteral("no greeting from the server"), CanDeviceStatus::OpenFailed);
        // Separate writes: some servers read each command with a single read.
        if (m_config.bitRate > 0)
            writeText(socketcandBitTiming(m_bus.toStdString(), m_config.bitRate));
        writeText(socketcandOpen(m_bus.toStdString()));
        m_state = State::AwaitOpenOk;
        return;
    case State::AwaitOpenOk:
    case State::AwaitRawModeOk:
        if (element.kind == Kind::Error)
            return refused();
        if (element.kind != Kind::Ok)
            return; // frames or echoes from a server that forwards early
        if (m_state == State::AwaitOpenOk) {
            writeText(socketcandRawMode());
            m_state = State::AwaitRawModeOk;
        } else {
            finishHandshake(CanDeviceStatus::Ok, QString());
        }
        return;
    case State::Connected:
        if (element.kind == Kind::Frame)
            m_queue.push(element.frame);
        else if (element.kind == Kind::Error)
            qCWarning(lcSocketCan).noquote()
                << "socketcand server" << peer()
                << "reports:" << QString::fromUtf8(element.text.data(), int(element.text.size()));
        return;
    case State::Idle:
    case State::Connecting:
        return;
    }
}

void SocketcandWorker::writeText(const std::string& text) {
    m_socket->write(text.data(), static_cast<qint64>(text.size()));
    m_socket->flush();
}

void SocketcandWorker::finishHandshake(uint16_t status, const QString& reason) {
    m_handshakeTimer->stop();
    m_openStatus = status;
    if (status == CanDeviceStatus::Ok) {
        m_state = State::Connected;
        m_sinceReceive.start();
        m_keepAliveTimer->start();
        if (m_initialOpen)
            qCInfo(lcSocketCan).noquote() << "Connected to socketcand bus" << peer();
        setConnected();
    } else {
        m_state = State::Idle;
        if (m_socket)
            m_socket->abort();
        if (m_initialOpen)
            qCWarning(lcSocketCan).noquote() << "Cannot open socketcand bus" << peer() << ":" << reason;
        else
            reopenFailed();
    }
    emit handshakeFinished();
}

void SocketcandWorker::drop(const QString& reason, uint16_t handshakeStatus) {
    if (m_state == State::Idle)
        return;
    if (m_state != State::Connected)
        return finishHandshake(handshakeStatus, reason);
    m_state = State::Idle;
    m_keepAliveTimer->stop();
    // Reported before the socket closes, so that the peer never sees the close first.
    connectionLost(QStringLiteral("%1: %2").arg(peer(), reason));
    m_socket->abort();
}

void SocketcandWorker::onSocketError(QAbstractSocket::SocketError error) {
    QString reason = m_socket->errorString();
    if (error == QAbstractSocket::RemoteHostClosedError && m_parser.insideElement())
        reason += QStringLiteral(" inside an element (truncated stream)");
    drop(reason, CanDeviceStatus::Unreachable);
}

void SocketcandWorker::onKeepAlive() {
    const qint64 idle = m_sinceReceive.elapsed();
    if (idle >= kDeadAfterMs)
        drop(QStringLiteral("no answer to keep-alive for %1 ms").arg(idle), CanDeviceStatus::Unreachable);
    else if (idle >= kKeepAliveMs)
        writeText(socketcandEcho());
}

TransportWorker::WriteResult SocketcandWorker::tryWrite(const CanFrame& frame, uint16_t& status) {
    if (m_state != State::Connected) {
        status = CanDeviceStatus::ConnectionLost;
        return WriteResult::Failed;
    }
    if (m_socket->bytesToWrite() > kMaxPendingBytes)
        return WriteResult::Full; // the server does not read; bytesWritten resumes
    char text[kSocketcandSendCapacity];
    m_socket->write(text, static_cast<qint64>(socketcandSend(frame, text)));
    m_socket->flush();
    return WriteResult::Written;
}

void SocketcandWorker::closeConnection() {
    m_handshakeTimer->stop();
    m_keepAliveTimer->stop();
    m_state = State::Idle;
    delete m_socket;
    m_socket = nullptr;
}
