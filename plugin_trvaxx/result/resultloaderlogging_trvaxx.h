#pragma once

#include "udp-transport/loggingbase.h"

#include <atomic>

// Diagnostics of the UDP transport as Qt debug lines "Wek[<level>]<text>". Only levels up to the
// threshold are written (1 by default: errors and notable events). Repeated "Missing packets"
// reports usually mean two sensors with the same IP address; from the third on they are filtered.
class ResultLoaderLogging_TRVAXX : public LoggingBase {
public:
    static constexpr const char* MISSING_PACKETS = "Missing packets";
    static constexpr const char* MISSING_PACKETS_FILTER_TEXT =
        "Wek: Received a 3rd 'Missing packets', it will be filtered now\n... probably there are multiple "
        "TRVs with the same IP address on the network!";

    ResultLoaderLogging_TRVAXX() = default;

    void log(int level, const char* format, ...) override __attribute__((format(printf, 3, 4)));

    void setThreshold(int value) { threshold.store(value, std::memory_order_relaxed); }
    int getThreshold() const { return threshold.load(std::memory_order_relaxed); }
    // "Missing packets" messages seen (written or not); never reset.
    int getMissingPacketsCount() const { return missingPackets.load(std::memory_order_relaxed); }

private:
    std::atomic<int> threshold{1};
    std::atomic<int> missingPackets{0};
};
