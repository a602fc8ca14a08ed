#include "simulator/can/canuplink.h"

#include "simulator/can/qtcanuplink.h"
#include "simulator/can/socketcandtext.h"

#include <QRegularExpression>
#include <QString>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace trvsim {

namespace {

const QRegularExpression& socketcandUrl() {
    static const QRegularExpression re("^socketcand://([A-Za-z0-9.-]{1,253}):(\\d{1,5})/([!-~]{1,16})$");
    return re;
}
const QRegularExpression& qtCanBusUrl() {
    static const QRegularExpression re("^qtcanbus://([a-z0-9]{1,32})/([!-~]{1,64})$");
    return re;
}

// Our own socketcand client: a blocking handshake, then non-blocking raw mode in the bus thread.
class SocketcandUplink : public CanUplink {
public:
    SocketcandUplink(std::string host, std::string port, std::string bus)
        : m_host(std::move(host)), m_port(std::move(port)), m_bus(std::move(bus)) {}
    ~SocketcandUplink() override { disconnect(); }

    bool open(std::string& why) override {
        disconnect();
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(m_host.c_str(), m_port.c_str(), &hints, &found) != 0 || !found) {
            why = "cannot resolve " + m_host;
            return false;
        }
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // Bounded: reconnecting runs on the bus thread, which must not stall for a minute.
        const timeval limit{2, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        const bool connected = ::connect(m_fd, found->ai_addr, found->ai_addrlen) == 0;
        ::freeaddrinfo(found);
        if (!connected) {
            why = std::strerror(errno);
            disconnect();
            return false;
        }
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_input = SocketcandSplitter();
        if (!expect(ServerMessage::Hi, why) || !write("< open " + m_bus + " >", why) ||
            !expect(ServerMessage::Ok, why) || !write("< rawmode >", why) ||
            !expect(ServerMessage::Ok, why)) {
            disconnect();
            return false;
        }
        m_connected = true;
        return true;
    }
    int pollFd() const override { return m_fd; }
    bool wantsWrite() const override { return !m_outbox.empty(); }
    bool connected() const override { return m_connected; }

    void send(const SimCanFrame& frame) override {
        if (m_connected && m_outbox.size() < (1u << 20))
            m_outbox += formatSendElement(frame);
    }

    bool service(std::vector<SimCanFrame>& received, std::string& why) override {
        if (!m_connected) {
            // Try again once a second; the bus goes on meanwhile.
            const auto now = SimClock::now();
            if (now >= m_retryAt) {
                m_retryAt = now + std::chrono::seconds(1);
                std::string ignored;
                open(ignored);
            }
            why = "not connected";
            return m_connected;
        }
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            m_input.append(buffer, static_cast<std::size_t>(n));
            std::vector<std::string_view> words;
            SocketcandSplitter::Result r;
            while ((r = m_input.next(words, why)) == SocketcandSplitter::Result::Element) {
                ServerMessage message;
                if (!parseServerMessage(words, message, why))
                    return lose(why);
                if (message.kind == ServerMessage::Frame)
                    received.push_back(message.frame);
            }
            if (r == SocketcandSplitter::Result::Malformed)
                return lose(why);
        }
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            return lose("the server closed the connection");
        if (!m_outbox.empty()) {
            const ssize_t w = ::send(m_fd, m_outbox.data(), m_outbox.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (w > 0)
                m_outbox.erase(0, static_cast<std::size_t>(w));
            else if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return lose(std::strerror(errno));
        }
        return true;
    }

private:
    bool lose(const std::string& why) {
        (void)why;
        disconnect();
        m_retryAt = SimClock::now() + std::chrono::seconds(1);
        return false;
    }
    void disconnect() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_connected = false;
        m_outbox.clear();
    }
    bool write(const std::string& text, std::string& why) {
        if (::send(m_fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
            why = std::strerror(errno);
            return false;
        }
        return true;
    }
    // Waits (at most 2 s) for the next element and checks that it is the expected answer.
    bool expect(ServerMessage::Kind kind, std::string& why) {
        const auto deadline = SimClock::now() + std::chrono::seconds(2);
        std::vector<std::string_view> words;
        while (true) {
            const auto r = m_input.next(words, why);
            if (r == SocketcandSplitter::Result::Malformed)
                return false;
            if (r == SocketcandSplitter::Result::Element) {
                ServerMessage message;
                if (!parseServerMessage(words, message, why))
                    return false;
                if (message.kind == kind)
                    return true;
                why = message.kind == ServerMessage::Error ? "refused: " + message.text : "unexpected answer";
                return false;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SimClock::now());
            pollfd p{m_fd, POLLIN, 0};
            char buffer[512];
            const ssize_t n = left.count() > 0 && ::poll(&p, 1, static_cast<int>(left.count())) == 1
                                  ? ::recv(m_fd, buffer, sizeof buffer, 0)
                                  : -1;
            if (n <= 0) {
                why = "no answer from the server";
                return false;
            }
            m_input.append(buffer, static_cast<std::size_t>(n));
        }
    }

    std::string m_host, m_port, m_bus;
    int m_fd = -1;
    bool m_connected = false;
    SocketcandSplitter m_input;
    std::string m_outbox;
    SimClock::time_point m_retryAt{};
};

} // namespace

bool validCanJoinUrl(const std::string& url, std::string& why) {
    const QString text = QString::fromStdString(url);
    const auto s = socketcandUrl().match(text);
    if (s.hasMatch() && s.captured(2).toUInt() >= 1 && s.captured(2).toUInt() <= 65535)
        return true;
    if (qtCanBusUrl().match(text).hasMatch())
        return true;
    why = "'" + url + "' is not socketcand://HOST:PORT/BUS or qtcanbus://BACKEND/INTERFACE";
    return false;
}

std::unique_ptr<CanUplink> makeCanUplink(const std::string& url, std::string& why) {
    if (!validCanJoinUrl(url, why))
        return nullptr;
    const QString text = QString::fromStdString(url);
    if (const auto s = socketcandUrl().match(text); s.hasMatch())
        return std::make_unique<SocketcandUplink>(s.captured(1).toStdString(), s.captured(2).toStdString(),
                                                  s.captured(3).toStdString());
    const auto q = qtCanBusUrl().match(text);
    return makeQtCanUplink(q.captured(1).toStdString(), q.captured(2).toStdString());
}

} // namespace trvsim
