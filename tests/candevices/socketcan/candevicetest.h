#pragma once
// Helpers of the CAN device tests.

#include "can-communication/canbusdevice.h"
#include "candevices/socketcan/candevicestatus.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <thread>
#include <vector>

inline CanFrame frameOf(uint32_t id, std::initializer_list<uint8_t> bytes) {
    CanFrame frame;
    frame.identifier = id;
    for (uint8_t byte : bytes)
        frame.data[frame.length++] = byte;
    return frame;
}

// Data seed, seed + 1, ...
inline CanFrame makeFrame(uint32_t id, uint8_t seed, uint8_t length = 8) {
    CanFrame frame;
    frame.identifier = id;
    frame.length = length;
    for (uint8_t i = 0; i < length; ++i)
        frame.data[i] = static_cast<uint8_t>(seed + i);
    return frame;
}

inline uint16_t send(CANBusDevice& device, const CanFrame& frame) {
    return device.CAN_SendData(frame.identifier, frame.data, frame.length);
}

// Reads until count frames arrived or the deadline passed.
inline std::vector<CanFrame> receive(CANBusDevice& device, std::size_t count,
                                     std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    std::vector<CanFrame> received;
    const auto end = std::chrono::steady_clock::now() + deadline;
    CanFrame block[64];
    while (received.size() < count && std::chrono::steady_clock::now() < end) {
        uint32_t n = 64;
        if (device.CAN_ReadDataBlock(100, block, &n) == CanDeviceStatus::Ok)
            received.insert(received.end(), block, block + n);
    }
    return received;
}

inline bool sameFrame(const CanFrame& a, const CanFrame& b) {
    return a.identifier == b.identifier && a.length == b.length &&
           std::equal(a.data, a.data + a.length, b.data);
}

// Each of `threads` threads sends makeFrame(idOf(t), i) for i = 0 .. perThread - 1; the number of
// sends that failed.
inline int sendFromThreads(CANBusDevice& device, int threads, int perThread,
                           const std::function<uint32_t(int)>& idOf) {
    std::vector<std::thread> senders;
    std::atomic<int> failures{0};
    for (int t = 0; t < threads; ++t)
        senders.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i)
                failures += send(device, makeFrame(idOf(t), static_cast<uint8_t>(i))) != CanDeviceStatus::Ok;
        });
    for (auto& s : senders)
        s.join();
    return failures;
}
