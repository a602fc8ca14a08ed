#include "can-communication/candevicesession.h"

#include "can-communication/canbusdevice.h"
#include "can-communication/cantrace.h"
#include "can-communication/multireceivecanproxy.h"

#include <QHash>
#include <QMutex>

namespace {
QMutex sessionsMutex;
QHash<CANBusDevice*, std::weak_ptr<CanDeviceSession>>& sessions() {
    static QHash<CANBusDevice*, std::weak_ptr<CanDeviceSession>> open;
    return open;
}
constexpr uint16_t kHeldElsewhere = 209;
} // namespace

CanDeviceSession::CanDeviceSession(CANBusDevice* device, const CanDeviceConfig& config, const QByteArray& url,
                                   const QString& tracePath)
    : dev(device), config(config), url(url), prox(std::make_unique<MultiReceiveCanProxy>(device)) {
    if (tracePath.isEmpty())
        return;
    trace = std::make_unique<CanTrace>(tracePath);
    if (!trace->isOpen()) {
        trace.reset();
        return;
    }
    prox->registerReceiver(trace.get());
    prox->setSendTrace(trace.get());
}

CanDeviceSession::~CanDeviceSession() {
    prox.reset();
    dev->CAN_CloseDriver();
    QMutexLocker lock(&sessionsMutex);
    // A new session may already have replaced this one's entry.
    auto it = sessions().find(dev);
    if (it != sessions().end() && it->expired())
        sessions().erase(it);
}

uint16_t CanDeviceSession::open(CANBusDevice* device, const CanDeviceConfig& config, const QByteArray& url,
                                const QString& tracePath, std::shared_ptr<CanDeviceSession>& session) {
    QMutexLocker lock(&sessionsMutex);
    if (auto existing = sessions().value(device).lock()) {
        if (existing->config.bitRate != config.bitRate || existing->url != url)
            return kHeldElsewhere;
        session = std::move(existing);
        return 0;
    }
    device->CAN_SetInterface(url.constData());
    device->CAN_SetConfig(config);
    const uint16_t status = device->CAN_InitDriver();
    if (status != 0)
        return status;
    session.reset(new CanDeviceSession(device, config, url, tracePath));
    sessions().insert(device, session);
    return 0;
}

bool CanDeviceSession::isOpen(CANBusDevice* device, uint32_t* bitRate, QByteArray* url) {
    QMutexLocker lock(&sessionsMutex);
    const auto existing = sessions().value(device).lock();
    if (!existing)
        return false;
    if (bitRate)
        *bitRate = existing->config.bitRate;
    if (url)
        *url = existing->url;
    return true;
}
