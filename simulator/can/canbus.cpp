#include "simulator/can/canbus.h"

#include "simulator/can/canbeacon.h"
#include "simulator/can/cantiming.h"
#include "simulator/can/canuplink.h"
#include "simulator/can/socketcandtext.h"
#include "simulator/simcommandline.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

namespace trvsim {

namespace {

constexpr uint32_t kDefaultBitRate = 250000;
constexpr auto kRawModePause = std::chrono::milliseconds(50); // python-can reads `< ok >` alone
constexpr std::size_t kMaxQueuedPerClient = 2048;             // frames waiting for the bus
constexpr std::size_t kMaxOutbox = 1 << 20;                   // bytes a client has not read
constexpr int kMaxClients = 64;

// Who put a frame on the bus.
struct Origin {
    enum Kind { Node, Client, Uplink } kind = Node;
    uint64_t index = 0; // node index or client id
};

struct Pending {
    SimCanFrame frame;
    Origin origin;
    SimClock::time_point ready; // may start on the bus from then on
};

struct OnBus {
    SimCanFrame frame;
    Origin origin;
    SimClock::time_point finish;
    bool lost = false;
};

struct Client {
    enum State { Greeted, Open, Raw };
    uint64_t id = 0;
    int fd = -1;
    State state = Greeted;
    uint32_t bitRate = 0; // 0: never set, runs at the bus rate
    SocketcandSplitter input;
    std::string outbox; // written when the socket takes it
    std::string held;   // frames arriving during the pause after rawmode
    SimClock::time_point holdUntil{};
    std::size_t queued = 0; // frames of this client waiting for the bus
    std::string closeWhy;   // set: disconnect
};

// The port a node sends through: only queues, under a lock, so that a node may send from
// anywhere.
class NodePort : public CanBusPort {
public:
    NodePort(std::mutex& mutex, std::vector<std::pair<SimCanFrame, std::size_t>>& outbox, std::size_t index)
        : m_mutex(mutex), m_outbox(outbox), m_index(index) {}
    void send(const SimCanFrame& frame) override {
        std::lock_guard lock(m_mutex);
        m_outbox.emplace_back(frame, m_index);
    }

private:
    std::mutex& m_mutex;
    std::vector<std::pair<SimCanFrame, std::size_t>>& m_outbox;
    std::size_t m_index;
};

void setNonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

struct SimCanBus::Impl {
    CanConfig config;
    LogFunction log;
    int verbosity = 1;
    std::string error;

    std::vector<std::unique_ptr<CanNode>> nodes;
    std::vector<std::unique_ptr<NodePort>> ports;
    std::mutex outboxMutex;
    std::vector<std::pair<SimCanFrame, std::size_t>> nodeOutbox;
    std::vector<std::pair<SimCanFrame, std::size_t>> nodeBatch; // taken from nodeOutbox each round
    std::vector<pollfd> pollSet;
    std::vector<SimCanFrame> uplinkBatch;

    int listenFd = -1;
    uint16_t port = 0;
    std::list<Client> clients;
    uint64_t nextClientId = 1;
    std::unique_ptr<CanUplink> uplink;
    std::unique_ptr<CanBeacon> beacon;

    std::deque<Pending> queue;
    std::deque<OnBus> onBus;
    SimClock::time_point busFreeAt{};
    uint64_t popped = 0;
    // Converts bus time to the wall-clock time stamps clients see.
    std::chrono::system_clock::time_point wallAtStart;
    SimClock::time_point steadyAtStart;

    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};
    mutable std::mutex statsMutex;
    CanBusStatistics stats;

    void say(int level, const std::string& line) {
        if (level > verbosity)
            return;
        if (log)
            log(level, line);
        else
            std::fprintf(stderr, "trvaxx-sim: %s\n", line.c_str());
    }

    // Read by other threads; the bus thread refreshes it from the first node.
    std::atomic<uint32_t> rate{kDefaultBitRate};
    uint32_t busRate() const { return rate.load(); }
    bool wrongRate(const Client& c) const { return c.bitRate != 0 && c.bitRate != busRate(); }

    bool openListener();
    void run();
    void iterate();
    void acceptClients();
    void readClient(Client& c);
    void handle(Client& c, const ClientCommand& command);
    void writeClient(Client& c);
    void enqueue(const SimCanFrame& frame, Origin origin, SimClock::time_point ready);
    void advanceBus(SimClock::time_point now);
    void deliver(const OnBus& f, SimClock::time_point now);
    void closeClients();
    void publishStatistics();
    int64_t wallMicroseconds(SimClock::time_point t) const {
        const auto wall =
            wallAtStart + std::chrono::duration_cast<std::chrono::system_clock::duration>(t - steadyAtStart);
        return std::chrono::duration_cast<std::chrono::microseconds>(wall.time_since_epoch()).count();
    }
};

bool SimCanBus::Impl::openListener() {
    std::string address = "0.0.0.0", why;
    uint16_t p = 0;
    if (!parseListenAddress(config.listen, address, p, why)) {
        error = "--can-listen: " + why;
        return false;
    }
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(p);
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    // Refusing: the port stays bound but nobody listens, so connections are refused.
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        (!config.refuse && ::listen(listenFd, 16) != 0)) {
        error = "--can-listen " + config.listen + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof a;
    ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    setNonBlocking(listenFd);
    say(1, "socketcand server on " + address + ":" + std::to_string(port) + ", bus can0 at " +
               std::to_string(busRate()) + " bit/s" + (config.refuse ? " (refusing connections)" : ""));
    return true;
}

void SimCanBus::Impl::run() {
    while (!stopping.load())
        iterate();
    closeClients();
}

void SimCanBus::Impl::iterate() {
    // Poll the sockets, waking at least once a millisecond for the nodes' ticks and the pacing.
    std::vector<pollfd>& fds = pollSet; // reused: no allocation per round
    fds.clear();
    if (listenFd >= 0 && !config.refuse)
        fds.push_back({listenFd, POLLIN, 0});
    for (const Client& c : clients)
        fds.push_back({c.fd, static_cast<short>(POLLIN | (c.outbox.empty() ? 0 : POLLOUT)), 0});
    const int uplinkFd = uplink ? uplink->pollFd() : -1;
    if (uplinkFd >= 0)
        fds.push_back({uplinkFd, static_cast<short>(POLLIN | (uplink->wantsWrite() ? POLLOUT : 0)), 0});
    auto wait = std::chrono::nanoseconds(std::chrono::milliseconds(1));
    const auto now0 = SimClock::now();
    if (!onBus.empty())
        wait =
            std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(onBus.front().finish - now0));
    if (wait.count() < 0)
        wait = {};
    const timespec timeout{0, static_cast<long>(wait.count())};
    ::ppoll(fds.data(), fds.size(), &timeout, nullptr);

    if (listenFd >= 0 && !config.refuse)
        acceptClients();
    for (Client& c : clients)
        readClient(c);
    if (uplink) {
        std::vector<SimCanFrame>& received = uplinkBatch;
        received.clear();
        std::string why;
        const bool was = uplink->connected();
        if (!uplink->service(received, why) && was)
            say(1, "joined bus: " + why);
        for (const SimCanFrame& f : received)
            enqueue(f, {Origin::Uplink, 0}, SimClock::now());
    }
    {
        {
            std::lock_guard lock(outboxMutex);
            nodeBatch.swap(nodeOutbox);
        }
        const auto ready = SimClock::now() + std::chrono::milliseconds(config.delayMs);
        for (const auto& [frame, index] : nodeBatch)
            enqueue(frame, {Origin::Node, index}, ready);
        nodeBatch.clear();
    }
    if (!nodes.empty())
        rate = nodes.front()->bitRate();
    const auto now = SimClock::now();
    advanceBus(now);
    // Offline nodes tick too: a restarting sensor comes back by its own clock.
    for (auto& node : nodes)
        node->tick(now);
    for (Client& c : clients) {
        if (!c.held.empty() && now >= c.holdUntil) {
            c.outbox += c.held;
            c.held.clear();
        }
        if (c.outbox.size() > kMaxOutbox)
            c.closeWhy = "does not read its frames";
        writeClient(c);
    }
    if (beacon)
        beacon->tick(now);
    for (auto it = clients.begin(); it != clients.end();) {
        if (it->closeWhy.empty()) {
            ++it;
            continue;
        }
        say(1, "client " + std::to_string(it->id) + " disconnected: " + it->closeWhy);
        if (it->closeWhy != "closed the connection") {
            std::lock_guard lock(statsMutex);
            ++stats.clientsDropped;
        }
        // A refusal still goes out, best effort, before the connection closes.
        if (!it->outbox.empty())
            (void)!::send(it->fd, it->outbox.data(), it->outbox.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(it->fd);
        it = clients.erase(it);
    }
    publishStatistics();
}

void SimCanBus::Impl::acceptClients() {
    while (true) {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (clients.size() >= kMaxClients) {
            ::close(fd);
            say(1, "client refused: too many clients");
            continue;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Client& c = clients.emplace_back();
        c.id = nextClientId++;
        c.fd = fd;
        c.outbox = "< hi >";
        say(2, "client " + std::to_string(c.id) + " connected");
    }
}

void SimCanBus::Impl::readClient(Client& c) {
    char buffer[4096];
    while (c.closeWhy.empty()) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            c.closeWhy = "closed the connection";
            return;
        }
        if (n < 0)
            break;
        c.input.append(buffer, static_cast<std::size_t>(n));
        std::vector<std::string_view> words;
        std::string why;
        while (c.closeWhy.empty()) {
            const auto result = c.input.next(words, why);
            if (result == SocketcandSplitter::Result::NeedMore)
                break;
            ClientCommand command;
            if (result == SocketcandSplitter::Result::Malformed || !parseClientCommand(words, command, why)) {
                // A stream that lost its framing cannot be trusted further: tell and disconnect.
                c.outbox += "< error " + why + " >";
                c.closeWhy = why;
                break;
            }
            handle(c, command);
        }
    }
}

void SimCanBus::Impl::handle(Client& c, const ClientCommand& command) {
    switch (command.kind) {
    case ClientCommand::Open:
        if (c.state != Client::Greeted || command.bus != "can0") {
            c.outbox += "< error could not open bus '" + command.bus + "' >";
            c.closeWhy = "asked for bus '" + command.bus + "'";
            return;
        }
        c.state = Client::Open;
        c.outbox += "< ok >";
        if (wrongRate(c))
            say(1, "client " + std::to_string(c.id) + " is on " + std::to_string(c.bitRate) +
                       " bit/s, the bus on " + std::to_string(busRate()) + ": it hears nothing");
        return;
    case ClientCommand::BitTiming:
        if (c.state != Client::Greeted) {
            c.outbox += "< error bit timing only before open >";
            return;
        }
        c.bitRate = command.bitRate;
        c.outbox += "< ok >";
        return;
    case ClientCommand::RawMode:
        if (c.state == Client::Greeted) {
            c.outbox += "< error open a bus first >";
            return;
        }
        c.state = Client::Raw;
        c.outbox += "< ok >";
        c.holdUntil = SimClock::now() + kRawModePause;
        return;
    case ClientCommand::Send:
        if (c.state == Client::Greeted) {
            c.outbox += "< error open a bus first >";
            return;
        }
        if (wrongRate(c))
            return; // nobody hears it
        if (c.queued >= kMaxQueuedPerClient) {
            c.closeWhy = "sends faster than the bus carries";
            return;
        }
        ++c.queued;
        enqueue(command.frame, {Origin::Client, c.id}, SimClock::now());
        return;
    case ClientCommand::Echo:
        c.outbox += "< echo >";
        return;
    case ClientCommand::Unknown:
        c.outbox += "< error unknown command >";
        return;
    }
}

void SimCanBus::Impl::writeClient(Client& c) {
    if (c.outbox.empty() || !c.closeWhy.empty())
        return;
    const ssize_t n = ::send(c.fd, c.outbox.data(), c.outbox.size(), MSG_NOSIGNAL);
    if (n > 0)
        c.outbox.erase(0, static_cast<std::size_t>(n));
    else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        c.closeWhy = "closed the connection";
}

void SimCanBus::Impl::enqueue(const SimCanFrame& frame, Origin origin, SimClock::time_point ready) {
    // Ordered by the time a frame may start; equal times keep their order.
    auto it = queue.end();
    while (it != queue.begin() && std::prev(it)->ready > ready)
        --it;
    queue.insert(it, Pending{frame, origin, ready});
}

void SimCanBus::Impl::advanceBus(SimClock::time_point now) {
    // One frame at a time takes the bus; bus time runs exactly, even when this thread wakes late.
    while (!queue.empty() && queue.front().ready <= now && busFreeAt <= now) {
        Pending p = queue.front();
        queue.pop_front();
        if (p.origin.kind == Origin::Client)
            for (Client& c : clients)
                if (c.id == p.origin.index && c.queued > 0)
                    --c.queued;
        const auto start = std::max(p.ready, busFreeAt);
        // Frames from a bus served elsewhere have been on the wire already.
        const auto finish =
            start + (config.pace && p.origin.kind != Origin::Uplink ? canFrameTime(p.frame, busRate())
                                                                    : SimClock::duration{});
        busFreeAt = finish;
        ++popped;
        const bool lost = config.dropEvery != 0 && popped % config.dropEvery == 0;
        onBus.push_back(OnBus{p.frame, p.origin, finish, lost});
        std::lock_guard lock(statsMutex);
        ++stats.frames;
        stats.lostFrames += lost;
    }
    while (!onBus.empty() && onBus.front().finish <= now) {
        const OnBus f = onBus.front();
        onBus.pop_front();
        if (!f.lost)
            deliver(f, now);
    }
}

void SimCanBus::Impl::deliver(const OnBus& f, SimClock::time_point) {
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (!(f.origin.kind == Origin::Node && f.origin.index == i) && nodes[i]->online())
            nodes[i]->receive(f.frame, f.finish);
    std::string element;
    for (Client& c : clients) {
        if (c.state != Client::Raw || wrongRate(c) ||
            (f.origin.kind == Origin::Client && f.origin.index == c.id))
            continue;
        if (element.empty())
            element = formatFrameElement(f.frame, wallMicroseconds(f.finish));
        // Until the held frames have gone out, later ones queue behind them.
        (SimClock::now() < c.holdUntil || !c.held.empty() ? c.held : c.outbox) += element;
    }
    if (uplink && f.origin.kind != Origin::Uplink)
        uplink->send(f.frame);
}

void SimCanBus::Impl::closeClients() {
    for (Client& c : clients)
        ::close(c.fd);
    clients.clear();
}

void SimCanBus::Impl::publishStatistics() {
    uint64_t wrong = 0;
    for (const Client& c : clients)
        wrong += wrongRate(c);
    std::lock_guard lock(statsMutex);
    stats.clients = clients.size();
    stats.wrongRateClients = wrong;
    stats.joined = uplink && uplink->connected();
}

SimCanBus::SimCanBus(CanConfig config, LogFunction log, int verbosity) : m(std::make_unique<Impl>()) {
    m->config = std::move(config);
    if (m->config.bitRate)
        m->rate = m->config.bitRate;
    m->log = std::move(log);
    m->verbosity = verbosity;
}

SimCanBus::~SimCanBus() {
    stop();
    if (m->listenFd >= 0)
        ::close(m->listenFd);
}

void SimCanBus::addNode(std::unique_ptr<CanNode> node) {
    if (!node || m->running)
        return;
    m->ports.push_back(std::make_unique<NodePort>(m->outboxMutex, m->nodeOutbox, m->nodes.size()));
    node->attach(m->ports.back().get());
    m->nodes.push_back(std::move(node));
    if (m->nodes.size() == 1)
        m->rate = m->nodes.front()->bitRate(); // before the bus thread runs
}

bool SimCanBus::start() {
    if (m->running)
        return true;
    if (!m->config.listen.empty() && !m->openListener())
        return false;
    if (!m->config.join.empty()) {
        m->uplink = makeCanUplink(m->config.join, m->error);
        if (!m->uplink || !m->uplink->open(m->error)) {
            m->error = "--can-join " + m->config.join + ": " + m->error;
            return false;
        }
        m->say(1, "joined the bus at " + m->config.join);
    }
    if (!m->config.beacon.empty()) {
        m->beacon = std::make_unique<CanBeacon>();
        if (!m->beacon->open(m->config.beacon, m->port, m->error)) {
            m->error = "--can-beacon " + m->config.beacon + ": " + m->error;
            return false;
        }
    }
    m->steadyAtStart = SimClock::now();
    m->wallAtStart = std::chrono::system_clock::now();
    m->stopping = false;
    m->running = true;
    m->thread = std::thread([this] { m->run(); });
    return true;
}

void SimCanBus::stop() {
    if (!m->running)
        return;
    m->stopping = true;
    m->thread.join();
    m->running = false;
}

const std::string& SimCanBus::errorText() const {
    return m->error;
}

uint16_t SimCanBus::listenPort() const {
    return m->port;
}

uint32_t SimCanBus::bitRate() const {
    return m->busRate();
}

CanBusStatistics SimCanBus::statistics() const {
    std::lock_guard lock(m->statsMutex);
    return m->stats;
}

CanConfig sensorCanConfig(const CanConfig& config, uint32_t index) {
    CanConfig c = config;
    if (config.sensorCount > 1 || config.address >= 0)
        c.address = std::max(0, (config.address >= 0 ? config.address : 239) - static_cast<int>(index));
    return c;
}

std::unique_ptr<SimCanBus> buildCanBus(const std::vector<VirtualSensor*>& sensors, const CanConfig& config,
                                       const CanNodeFactory& factory, LogFunction log, int verbosity) {
    auto bus = std::make_unique<SimCanBus>(config, std::move(log), verbosity);
    if (factory)
        for (uint32_t i = 0; i < sensors.size(); ++i)
            bus->addNode(factory(*sensors[i], sensorCanConfig(config, i)));
    return bus;
}

} // namespace trvsim
