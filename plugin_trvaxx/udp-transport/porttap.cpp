#include "udp-transport/porttap.h"

#include <utility>

namespace {

struct Subscription {
    std::uint16_t port;
    PortTap::Listener listener;
};

struct TapState {
    std::mutex mutex;
    std::map<std::uint16_t, int> holders; // port -> receivers holding it
    std::map<int, Subscription> subscriptions;
    int nextId = 1;
};

TapState& state() {
    static TapState s;
    return s;
}

} // namespace

std::atomic<int> PortTap::s_listeners{0};

PortTap::Holder::Holder(std::uint16_t port) : m_port(port) {
    TapState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.holders[port];
}

PortTap::Holder::~Holder() {
    TapState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.holders.find(m_port);
    if (it != s.holders.end() && --it->second == 0)
        s.holders.erase(it);
}

int PortTap::subscribeIfHeld(std::uint16_t port, Listener listener) {
    TapState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.holders.count(port) == 0 || !listener)
        return 0;
    const int id = s.nextId++;
    s.subscriptions.emplace(id, Subscription{port, std::move(listener)});
    s_listeners.fetch_add(1, std::memory_order_relaxed);
    return id;
}

void PortTap::unsubscribe(int id) {
    TapState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.subscriptions.erase(id) > 0)
        s_listeners.fetch_sub(1, std::memory_order_relaxed);
}

bool PortTap::isHeld(std::uint16_t port) {
    TapState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.holders.count(port) > 0;
}

void PortTap::publishLocked(std::uint16_t port, const std::uint8_t* data, std::size_t length,
                            const sockaddr_in& sender) {
    TapState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    for (const auto& [id, subscription] : s.subscriptions)
        if (subscription.port == port)
            subscription.listener(data, length, sender);
}
