#include "candevices/socketcan/socketcandevice.h"

#include "candevices/socketcan/candevicestatus.h"
#include "candevices/socketcan/interfaceurl.h"
#include "candevices/socketcan/qtcanbusworker.h"
#include "candevices/socketcan/socketcandworker.h"
#include "candevices/socketcan/socketcanlog.h"
#include "candevices/socketcan/transportthread.h"

#include <algorithm>
#include <cstring>

SocketCanDevice::SocketCanDevice() = default;

SocketCanDevice::~SocketCanDevice() {
    CAN_CloseDriver();
}

void SocketCanDevice::CAN_SetConfig(const CanDeviceConfig& config) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config = config;
}

void SocketCanDevice::CAN_SetInterface(const char* url) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_interface = url ? url : "";
}

std::shared_ptr<TransportThread> SocketCanDevice::transport() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_transport;
}

uint16_t SocketCanDevice::CAN_InitDriver() {
    std::lock_guard<std::mutex> openLock(m_openMutex);
    CAN_CloseDriver();
    CanDeviceConfig config;
    QString text;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        config = m_config;
        text = QString::fromStdString(m_interface);
    }
    if (text.trimmed().isEmpty())
        text = defaultCanInterface();
    const InterfaceUrl url = InterfaceUrl::parse(text);
    std::unique_ptr<TransportWorker> worker;
    switch (url.kind) {
    case InterfaceUrl::Kind::QtCanBus:
        worker = std::make_unique<QtCanBusWorker>(m_queue, config, url.backend, url.interface);
        break;
    case InterfaceUrl::Kind::Socketcand:
        worker = std::make_unique<SocketcandWorker>(m_queue, config, url.host, url.port, url.bus);
        break;
    case InterfaceUrl::Kind::Invalid:
        qCWarning(lcSocketCan).noquote() << "CAN interface" << text
                                         << "not understood; expected socketcand://HOST:PORT/BUS, "
                                            "qtcanbus://BACKEND/INTERFACE or a kernel "
                                            "interface name such as can0";
        return CanDeviceStatus::Unreachable;
    }
    m_queue.clear();
    auto opened = std::make_shared<TransportThread>(std::move(worker));
    const uint16_t status = opened->open();
    if (status != CanDeviceStatus::Ok) {
        opened->stop();
        return status;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_transport = std::move(opened);
    return CanDeviceStatus::Ok;
}

uint16_t SocketCanDevice::CAN_CloseDriver() {
    std::shared_ptr<TransportThread> closing;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        closing.swap(m_transport);
    }
    if (closing)
        closing->stop(); // senders still holding it get NotOpen
    if (const uint64_t dropped = m_queue.dropped())
        qCInfo(lcSocketCan) << dropped << "received CAN frames were dropped because nobody read them in time";
    return CanDeviceStatus::Ok;
}

uint16_t SocketCanDevice::CAN_SendData(uint32_t identifier, const uint8_t* data, uint32_t length) {
    if (length > 8 || (length > 0 && !data) || identifier > 0x1FFFFFFF)
        return CanDeviceStatus::InvalidArgument;
    const std::shared_ptr<TransportThread> open = transport();
    if (!open)
        return CanDeviceStatus::NotOpen;
    if (!m_queue.connected())
        return CanDeviceStatus::ConnectionLost;
    CanFrame frame;
    frame.identifier = identifier;
    frame.length = static_cast<uint8_t>(length);
    if (length > 0)
        std::memcpy(frame.data, data, length);
    return open->send(frame);
}

uint16_t SocketCanDevice::CAN_ReadData(uint32_t* identifier, uint8_t* data, uint8_t* length) {
    if (!identifier || !data || !length)
        return CanDeviceStatus::InvalidArgument;
    CanFrame frame;
    if (!m_queue.takeOne(frame))
        return CanDeviceStatus::NoFrame;
    *identifier = frame.identifier;
    std::memcpy(data, frame.data, sizeof frame.data);
    *length = frame.length;
    return CanDeviceStatus::Ok;
}

uint16_t SocketCanDevice::CAN_ReadDataBlock(uint32_t timeoutMs, CanFrame* frames, uint32_t* count) {
    if (!count || (*count > 0 && !frames))
        return CanDeviceStatus::InvalidArgument;
    const std::size_t n = m_queue.takeBlock(std::chrono::milliseconds(timeoutMs), frames, *count);
    *count = static_cast<uint32_t>(n);
    if (n > 0 || m_queue.connected())
        return CanDeviceStatus::Ok;
    return transport() ? CanDeviceStatus::ConnectionLost : CanDeviceStatus::NotOpen;
}
