#include "simulator/can/qtcanuplink.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <mutex>
#include <thread>

namespace trvsim {

namespace {

class QtCanUplink : public CanUplink {
public:
    QtCanUplink(std::string backend, std::string interfaceName)
        : m_backend(std::move(backend)), m_interface(std::move(interfaceName)),
          m_eventFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~QtCanUplink() override {
        if (m_loop)
            QMetaObject::invokeMethod(
                m_loop, [loop = m_loop] { loop->quit(); }, Qt::QueuedConnection);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_eventFd);
    }

    bool open(std::string& why) override {
        if (!QCoreApplication::instance()) {
            why = "Qt's CAN bus module needs an application object";
            return false;
        }
        std::promise<std::string> opened;
        auto result = opened.get_future();
        m_thread = std::thread([this, &opened] { run(opened); });
        why = result.get();
        return why.empty();
    }
    int pollFd() const override { return m_eventFd; }
    bool connected() const override { return m_connected; }

    void send(const SimCanFrame& frame) override {
        QCanBusFrame f(frame.id, QByteArray(reinterpret_cast<const char*>(frame.data.data()), frame.length));
        f.setExtendedFrameFormat(frame.extended);
        QMetaObject::invokeMethod(
            m_device, [device = m_device, f] { device->writeFrame(f); }, Qt::QueuedConnection);
    }

    bool service(std::vector<SimCanFrame>& received, std::string& why) override {
        uint64_t count = 0;
        (void)!::read(m_eventFd, &count, sizeof count);
        std::lock_guard lock(m_mutex);
        received.swap(m_received);
        m_received.clear();
        if (!m_connected)
            why = "the device disconnected";
        return m_connected;
    }

private:
    void run(std::promise<std::string>& opened) {
        QEventLoop loop;
        QString error;
        std::unique_ptr<QCanBusDevice> device(QCanBus::instance()->createDevice(
            QString::fromStdString(m_backend), QString::fromStdString(m_interface), &error));
        if (!device) {
            opened.set_value(error.isEmpty() ? "no such CAN bus backend" : error.toStdString());
            return;
        }
        QObject::connect(device.get(), &QCanBusDevice::framesReceived, [this, d = device.get()] {
            std::lock_guard lock(m_mutex);
            while (d->framesAvailable()) {
                const QCanBusFrame f = d->readFrame();
                // payload() returns a copy: take it once, so begin and end belong to one array.
                const QByteArray payload = f.payload();
                if (f.frameType() != QCanBusFrame::DataFrame || payload.size() > 8)
                    continue;
                SimCanFrame s;
                s.id = f.frameId();
                s.extended = f.hasExtendedFrameFormat();
                s.length = static_cast<uint8_t>(payload.size());
                std::copy(payload.begin(), payload.end(), s.data.begin());
                m_received.push_back(s);
            }
            const uint64_t one = 1;
            (void)!::write(m_eventFd, &one, sizeof one);
        });
        QObject::connect(
            device.get(), &QCanBusDevice::stateChanged,
            [this](QCanBusDevice::CanBusDeviceState s) { m_connected = s == QCanBusDevice::ConnectedState; });
        if (!device->connectDevice()) {
            opened.set_value(device->errorString().toStdString());
            return;
        }
        // Some backends connect asynchronously: wait for the state, bounded.
        if (device->state() != QCanBusDevice::ConnectedState) {
            QEventLoop wait;
            QTimer::singleShot(2000, &wait, &QEventLoop::quit);
            QObject::connect(device.get(), &QCanBusDevice::stateChanged, &wait,
                             [&wait](QCanBusDevice::CanBusDeviceState s) {
                                 if (s == QCanBusDevice::ConnectedState)
                                     wait.quit();
                             });
            wait.exec();
        }
        if (device->state() != QCanBusDevice::ConnectedState) {
            opened.set_value("the device did not connect: " + device->errorString().toStdString());
            return;
        }
        m_connected = true;
        m_device = device.get();
        m_loop = &loop;
        opened.set_value(std::string());
        loop.exec();
        device->disconnectDevice();
    }

    std::string m_backend, m_interface;
    int m_eventFd;
    std::thread m_thread;
    QEventLoop* m_loop = nullptr;
    QCanBusDevice* m_device = nullptr;
    std::atomic<bool> m_connected{false};
    std::mutex m_mutex;
    std::vector<SimCanFrame> m_received;
};

} // namespace

std::unique_ptr<CanUplink> makeQtCanUplink(const std::string& backend, const std::string& interfaceName) {
    return std::make_unique<QtCanUplink>(backend, interfaceName);
}

} // namespace trvsim
