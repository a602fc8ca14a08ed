#include "candevices/socketcan/qtcanbusworker.h"

#include "candevices/socketcan/candevicestatus.h"
#include "candevices/socketcan/socketcanlog.h"

#include <QCanBus>
#include <QEventLoop>
#include <QNetworkInterface>
#include <QTimer>
#include <QVariant>

namespace {

bool containsAny(const QString& text, std::initializer_list<const char*> patterns) {
    for (const char* pattern : patterns)
        if (text.contains(QLatin1String(pattern), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

uint16_t classifyOpenError(const QString& errorText) {
    if (containsAny(errorText, {"busy", "in use", "already", "locked", "occupied"}))
        return CanDeviceStatus::HeldByOther;
    if (containsAny(errorText, {"no such", "not found", "does not exist", "not exist", "network is down",
                                "not available", "unknown interface", "refused", "unreachable",
                                "not connected", "address family not supported"}))
        return CanDeviceStatus::Unreachable;
    return CanDeviceStatus::OpenFailed;
}

bool isTransmitQueueFull(const QString& errorText) {
    // ENOBUFS from a kernel interface; the vendor back-ends word it their own way.
    return containsAny(errorText, {"no buffer space", "queue full", "queue is full", "transmit buffer full",
                                   "xmtfull", "qxmtfull", "resource temporarily unavailable"});
}

QtCanBusWorker::QtCanBusWorker(ReceiveQueue& queue, const CanDeviceConfig& config, const QString& backend,
                               const QString& interface)
    : TransportWorker(queue, config), m_backend(backend), m_interface(interface) {
    QCanBus::instance(); // created on the caller's thread, where the application lives
}

QString QtCanBusWorker::name() const {
    return QStringLiteral("qtcanbus://%1/%2").arg(m_backend, m_interface);
}

uint16_t QtCanBusWorker::open() {
    const uint16_t status = openDevice(true);
    if (status == CanDeviceStatus::Ok)
        setConnected();
    return status;
}

void QtCanBusWorker::reopen() {
    if (openDevice(false) == CanDeviceStatus::Ok)
        setConnected();
    else
        reopenFailed();
}

uint16_t QtCanBusWorker::openDevice(bool logFailures) {
    closeConnection();
    const auto fail = [&](uint16_t status, const QString& why) {
        if (logFailures)
            qCWarning(lcSocketCan).noquote() << "Cannot open CAN interface" << name() << ":" << why;
        closeConnection();
        return status;
    };
    if (m_backend == QLatin1String("socketcan")) {
        // A raw CAN socket binds to an interface that is down without complaint; ask first.
        const QNetworkInterface kernel = QNetworkInterface::interfaceFromName(m_interface);
        if (!kernel.isValid())
            return fail(CanDeviceStatus::Unreachable,
                        QStringLiteral("no such network interface (is the adapter plugged in and its driver "
                                       "loaded? \"ip link show\" lists the interfaces)"));
        if (!kernel.flags().testFlag(QNetworkInterface::IsUp))
            return fail(CanDeviceStatus::Unreachable,
                        QStringLiteral("the interface is down (bring it up with \"ip link set %1 up type can "
                                       "bitrate %2\")")
                            .arg(m_interface)
                            .arg(m_config.bitRate));
    }
    QString error;
    m_device = QCanBus::instance()->createDevice(m_backend, m_interface, &error);
    if (!m_device)
        return fail(CanDeviceStatus::Unreachable,
                    QStringLiteral("%1 (Qt CAN back-ends here: %2)")
                        .arg(error, QCanBus::instance()->plugins().join(u", ")));
    m_device->setParent(this);
    connect(m_device, &QCanBusDevice::errorOccurred, this, &QtCanBusWorker::onError);
    connect(m_device, &QCanBusDevice::framesReceived, this, &QtCanBusWorker::onFramesReceived);
    connect(m_device, &QCanBusDevice::framesWritten, this, &QtCanBusWorker::resumeSending);
    connect(m_device, &QCanBusDevice::stateChanged, this, &QtCanBusWorker::onStateChanged);
    applyBitRate();
    if (!m_device->connectDevice() || !waitUntilConnected()) {
        const QString why =
            m_device->errorString().isEmpty() ? QStringLiteral("no connection") : m_device->errorString();
        return fail(classifyOpenError(why), why);
    }
    m_open = true;
    if (logFailures)
        qCInfo(lcSocketCan).noquote() << "Opened CAN interface" << name();
    return CanDeviceStatus::Ok;
}

void QtCanBusWorker::applyBitRate() {
    // What the back-end reports before we touch it is the adapter's own rate, where it tells it.
    const QVariant reported = m_device->configurationParameter(QCanBusDevice::BitRateKey);
    const uint adapterRate = reported.isValid() ? reported.toUInt() : 0;
    if (adapterRate == m_config.bitRate)
        return;
    m_configurationErrors = 0;
    m_device->setConfigurationParameter(QCanBusDevice::BitRateKey, m_config.bitRate);
    if (adapterRate != 0 && m_configurationErrors > 0)
        qCWarning(lcSocketCan).noquote()
            << "CAN interface" << name() << "runs at" << adapterRate << "bit/s, configured"
            << m_config.bitRate << "bit/s; it keeps its rate, so the sensor may not answer";
    else if (m_configurationErrors > 0)
        qCInfo(lcSocketCan).noquote()
            << "CAN back-end" << m_backend << "does not take a bit rate; the bus sets it";
}

bool QtCanBusWorker::waitUntilConnected() {
    if (m_device->state() == QCanBusDevice::ConnectedState)
        return true;
    QEventLoop loop;
    connect(m_device, &QCanBusDevice::stateChanged, &loop, [&](QCanBusDevice::CanBusDeviceState state) {
        if (state != QCanBusDevice::ConnectingState)
            loop.quit();
    });
    QTimer::singleShot(kConnectTimeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return m_device->state() == QCanBusDevice::ConnectedState;
}

void QtCanBusWorker::onFramesReceived() {
    while (m_device && m_device->framesAvailable() > 0) {
        const QCanBusFrame received = m_device->readFrame();
        // Error, remote-request and invalid frames carry nothing for the readers.
        if (received.frameType() != QCanBusFrame::DataFrame || received.payload().size() > 8)
            continue;
        CanFrame frame;
        frame.identifier = received.frameId();
        const QByteArray payload = received.payload();
        frame.length = static_cast<uint8_t>(payload.size());
        std::copy(payload.cbegin(), payload.cend(), reinterpret_cast<char*>(frame.data));
        m_queue.push(frame);
    }
}

void QtCanBusWorker::onError(QCanBusDevice::CanBusError error) {
    const QString text = m_device ? m_device->errorString() : QString();
    if (error == QCanBusDevice::WriteError && isTransmitQueueFull(text)) {
        ++m_transmitFull; // tryWrite waits and retries
        return;
    }
    if (error == QCanBusDevice::ConfigurationError)
        ++m_configurationErrors;
    if (!m_open)
        return; // the failed open names it in its own line
    if (error != QCanBusDevice::ConfigurationError &&
        classifyOpenError(text) == CanDeviceStatus::Unreachable) {
        // The interface went down or away (an adapter unplugged): reopened once it is back.
        m_open = false;
        connectionLost(QStringLiteral("%1: %2").arg(name(), text));
        return;
    }
    qCWarning(lcSocketCan).noquote() << "CAN interface" << name() << "reports:" << text;
}

void QtCanBusWorker::onStateChanged(QCanBusDevice::CanBusDeviceState state) {
    if (state != QCanBusDevice::UnconnectedState || !m_open)
        return;
    m_open = false;
    connectionLost(QStringLiteral("%1 closed (%2)").arg(name(), m_device->errorString()));
}

TransportWorker::WriteResult QtCanBusWorker::tryWrite(const CanFrame& frame, uint16_t& status) {
    if (!m_open) {
        status = CanDeviceStatus::ConnectionLost;
        return WriteResult::Failed;
    }
    if (m_device->framesToWrite() >= kMaxQueuedFrames)
        return WriteResult::Full; // framesWritten resumes
    const int length = frame.length > 8 ? 8 : frame.length;
    QCanBusFrame out(frame.identifier, QByteArray(reinterpret_cast<const char*>(frame.data), length));
    out.setExtendedFrameFormat(isExtendedCanId(frame.identifier));
    if (m_device->writeFrame(out))
        return WriteResult::Written;
    if (isTransmitQueueFull(m_device->errorString()))
        return WriteResult::Full;
    status = CanDeviceStatus::SendFailed;
    return WriteResult::Failed;
}

void QtCanBusWorker::closeConnection() {
    m_open = false;
    if (!m_device)
        return;
    m_device->disconnect(this);
    if (m_device->state() != QCanBusDevice::UnconnectedState)
        m_device->disconnectDevice();
    delete m_device;
    m_device = nullptr;
}
