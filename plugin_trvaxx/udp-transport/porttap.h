#pragma once
// PortTap: lets other parts of the process see the datagrams that a receive thread takes from its
// port. Two sockets of one host bound to the same wildcard address and port do not both get a
// unicast datagram: the kernel hands it to one of them (the most recently bound, or the one last
// served on the same CPU). A search that opened its own socket on the port of a running receiver
// would therefore take the sensor's stream away from it. Instead the receiver holds its port here
// and the search listens through it.
// Thread-safe; listeners are called on the receive thread, under the tap's lock, and must only
// copy what they need and hand it on.

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

class PortTap {
public:
    using Listener =
        std::function<void(const std::uint8_t* data, std::size_t length, const sockaddr_in& sender)>;

    // Holds `port` for the lifetime of the object (the receive thread's socket while it is bound).
    class Holder {
    public:
        explicit Holder(std::uint16_t port);
        ~Holder();
        Holder(const Holder&) = delete;
        Holder& operator=(const Holder&) = delete;

    private:
        std::uint16_t m_port;
    };

    // Subscribes `listener` to the datagrams of `port` when a receiver holds it. Returns the
    // subscription's id, or 0 (nothing subscribed) when no receiver holds the port.
    static int subscribeIfHeld(std::uint16_t port, Listener listener);
    // Ends a subscription; after the return its listener is not called again. 0 is ignored.
    static void unsubscribe(int id);
    static bool isHeld(std::uint16_t port);

    // Offers one datagram received on `port` to its listeners (the receive thread calls it for
    // every datagram; without listeners it costs one atomic load).
    static void publish(std::uint16_t port, const std::uint8_t* data, std::size_t length,
                        const sockaddr_in& sender) {
        if (s_listeners.load(std::memory_order_relaxed) > 0)
            publishLocked(port, data, length, sender);
    }

private:
    static void publishLocked(std::uint16_t port, const std::uint8_t* data, std::size_t length,
                              const sockaddr_in& sender);

    static std::atomic<int> s_listeners;
};
