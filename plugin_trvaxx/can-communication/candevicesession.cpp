#include "can-communication/candevicesession.h"

#include "can-communication/canbusdevice.h"
#include "can-communication/cantrace.h"
#include "can-communication/multireceivecanproxy.h"

#include <QHash>
#include <QMutex>
#include <QSet>

namespace {
QMutex sessionsMutex;
QHash<CANBusDevice*, std::weak_ptr<CanDeviceSession>>& sessions() {
    static QHash<CANBusDevice*, std::weak_ptr<CanDeviceSession>> open;
    return open;
}
// Devices opened but whose session is still starting.
QSet<CANBusDevice*>& opening() {
    static QSet<CANBusDevice*> devices;
    return devices;
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
    {
        QMutexLocker lock(&sessionsMutex);
        if (auto existing = sessions().value(device).lock()) {
            if (existing->config.bitRate != config.bitRate || existing->url != url)
                return kHeldElsewhere;
            session = std::move(existing);
            return 0;
        }
        if (opening().contains(device))
            return kHeldElsewhere;
        device->CAN_SetInterface(url.constData());
        device->CAN_SetConfig(config);
        const uint16_t status = device->CAN_InitDriver();
        if (status != 0)
            return status;
        opening().insert(device);
    }
    // Starting the reading thread serves GUI events while it yields; an event may ask for this
    // device again, so the lock is not held here (the device counts as held while it opens).
    session.reset(new CanDeviceSession(device, config, url, tracePath));
    QMutexLocker lock(&sessionsMutex);
    opening().remove(device);
    sessions().insert(device, session);
    return 0;
}

bool CanDeviceSession::isOpen(CANBusDevice* device, uint32_t* bitRate, QByteArray* url) {
    QMutexLocker lock(&sessionsMutex);
    const auto existing = sessions().value(device).lock();
    if (!existing) {
        // A device whose session is still starting is held, with nothing to share yet.
        if (!opening().contains(device))
            return false;
        if (bitRate)
            *bitRate = 0;
        if (url)
            url->clear();
        return true;
    }
    if (bitRate)
        *bitRate = existing->config.bitRate;
    if (url)
        *url = existing->url;
    return true;
}
