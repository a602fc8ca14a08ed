#pragma once
// trvaxx-sim --camera-http: serves the camera beside a virtual sensor as network cameras do, an
// MJPEG stream over HTTP (multipart/x-mixed-replace, one JPEG per part) at 10 pictures a second,
// each part naming the sensor frame it shows ("X-Frame-Counter"). Any request path gets the
// stream. Runs on its own thread; at most 8 clients, a client that stops reading is dropped.

#include "simulator/camera/camerarenderer.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace trvsim {

class VirtualSensor;

class CameraHttpServer {
public:
    CameraHttpServer(const VirtualSensor& sensor, std::string address, uint16_t port);
    ~CameraHttpServer(); // stops

    // Binds and starts serving; false with errorText() when the port cannot be had.
    bool start();
    void stop();
    const std::string& errorText() const { return error; }
    uint16_t port() const { return boundPort; }
    uint64_t picturesSent() const { return sent.load(); }

private:
    void run();

    const VirtualSensor& sensor;
    std::string address;
    uint16_t requestedPort;
    uint16_t boundPort = 0;
    int listenFd = -1;
    std::string error;
    std::atomic<bool> running{false};
    std::atomic<uint64_t> sent{0};
    std::thread thread;
    CameraRenderer renderer;
};

} // namespace trvsim
