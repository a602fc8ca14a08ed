#include "simulator/camera/camerahttpserver.h"

#include "simulator/virtualsensor.h"

#include <QBuffer>
#include <QByteArray>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace trvsim {

namespace {

constexpr const char* kBoundary = "trvaxxcamera";
constexpr std::size_t kMaxClients = 8;

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

} // namespace

CameraHttpServer::CameraHttpServer(const VirtualSensor& s, std::string a, uint16_t p)
    : sensor(s), address(std::move(a)), requestedPort(p) {}

CameraHttpServer::~CameraHttpServer() {
    stop();
}

bool CameraHttpServer::start() {
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(requestedPort);
    if (inet_pton(AF_INET, address.empty() ? "0.0.0.0" : address.c_str(), &local.sin_addr) != 1 ||
        ::bind(listenFd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(listenFd, 8) != 0) {
        error = "camera: cannot listen on " + (address.empty() ? std::string("0.0.0.0") : address) + ":" +
                std::to_string(requestedPort) + ": " + std::strerror(errno);
        ::close(listenFd);
        listenFd = -1;
        return false;
    }
    socklen_t length = sizeof local;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&local), &length);
    boundPort = ntohs(local.sin_port);
    running = true;
    thread = std::thread([this] { run(); });
    return true;
}

void CameraHttpServer::stop() {
    running = false;
    if (thread.joinable())
        thread.join();
    if (listenFd >= 0)
        ::close(listenFd);
    listenFd = -1;
}

void CameraHttpServer::run() {
    using clock = std::chrono::steady_clock;
    std::vector<int> clients;
    auto nextPicture = clock::now();
    while (running) {
        pollfd listening{listenFd, POLLIN, 0};
        if (::poll(&listening, 1, 20) > 0) {
            const int client = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0 && clients.size() >= kMaxClients) {
                ::close(client);
            } else if (client >= 0) {
                // The request itself does not matter; read what came and answer with the stream.
                const timeval timeout{1, 0};
                setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
                pollfd request{client, POLLIN, 0};
                char discard[4096];
                if (::poll(&request, 1, 500) > 0)
                    (void)!::recv(client, discard, sizeof discard, MSG_DONTWAIT);
                const std::string head = std::string("HTTP/1.0 200 OK\r\nServer: trvaxx-sim\r\n"
                                                     "Cache-Control: no-cache\r\n"
                                                     "Content-Type: multipart/x-mixed-replace; boundary=") +
                                         kBoundary + "\r\n\r\n";
                if (sendAll(client, head.data(), head.size()))
                    clients.push_back(client);
                else
                    ::close(client);
            }
        }
        if (clients.empty() || clock::now() < nextPicture)
            continue;
        nextPicture = clock::now() + std::chrono::milliseconds(100);
        const uint32_t frame = sensor.lastFrameCounter();
        const QImage picture = renderer.render(sensor.truth(frame));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "JPG", 90);
        const std::string part =
            std::string("--") + kBoundary +
            "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size()) +
            "\r\nX-Frame-Counter: " + std::to_string(frame) + "\r\n\r\n";
        for (auto it = clients.begin(); it != clients.end();) {
            if (sendAll(*it, part.data(), part.size()) &&
                sendAll(*it, jpeg.constData(), std::size_t(jpeg.size())) && sendAll(*it, "\r\n", 2)) {
                ++it;
                continue;
            }
            ::close(*it);
            it = clients.erase(it);
        }
        ++sent;
    }
    for (int client : clients)
        ::close(client);
}

} // namespace trvsim
