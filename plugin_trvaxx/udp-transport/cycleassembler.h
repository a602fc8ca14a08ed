#pragma once

#include "udp-transport/dataoutputbase.h"
#include "udp-transport/devicestreamstate.h"
#include "udp-transport/loggingbase.h"
#include "udp-transport/reassemblypool.h"
#include "udp-transport/streamstatistics.h"
#include "udp-transport/udpframing.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Joins datagrams into channels and channels into cycles, per SubDevice, and hands finished and
// half-finished cycles to a DataOutputBase. Not thread-safe: one thread feeds it.
class CycleAssembler {
public:
    static constexpr std::size_t kMaxStoredCycles = 100;
    // Upper bound for the joined size of a channel sent in several parts; a part 0 that
    // announces more is dropped instead of allocating whatever a datagram claims.
    static constexpr std::uint32_t kMaxJoinedChannelSize = 16u * 1024u * 1024u;
    // Upper bound for what the cycle map of one SubDevice holds; a channel that would pass it is
    // dropped. A real stream stays far below (100 cycles of some 40 kB).
    static constexpr std::uint64_t kMaxStoredBytes = 256ull * 1024u * 1024u;
    // Charged per stored channel besides its bytes, so that empty channels count too.
    static constexpr std::uint64_t kChannelCharge = 128;
    // Channels one cycle may hold. A real cycle carries a handful of channel pairs; the bound keeps
    // the per-cycle work of the hand-out and of the consumers small whatever a stream claims.
    static constexpr std::size_t kMaxChannelsPerCycle = 256;

    CycleAssembler(DataOutputBase& output, LoggingBase& logger,
                   std::uint64_t maxStoredBytes = kMaxStoredBytes);

    // One datagram of any length and content.
    void processPacket(const std::uint8_t* bytes, std::size_t length);

    // Hand-out steps, used by the receive loop in this order for device 1 and then 2. The
    // returned entry stays valid until the next call that changes the device's state.
    const CycleEntry* takePartialCycle(int device);
    const CycleEntry* takeCompleteCycle(int device);
    void markPartialDelivered(int device, std::uint32_t id);
    void markCompleteDelivered(int device, std::uint32_t id);
    void eraseDeliveredCycles(int device);
    void cleanOutdatedCycles(int device);

    // The receive loop's hand-out after each datagram: for DSP and then KP, the partial
    // cycle, the complete cycle with the statistics, the erase and the clean-up.
    void deliverCycles();
    // Hands the counters to the output outside a complete hand-out, so that a consumer keeps
    // seeing gaps and errors while no cycle completes. The receive thread calls it on a timer.
    void publishStatistics() { m_output.statistics(m_counters); }

    const StreamStatistics& counters() const { return m_counters; }
    // device 1 or 2.
    const DeviceStreamState& state(int device) const { return m_states.at(device); }

private:
    DeviceStreamState* stateFor(int device);
    void trackMultiPart(DeviceStreamState& state, std::uint32_t channelId, std::uint16_t part,
                        std::uint16_t parts);
    void processChannel(DeviceStreamState& state);
    // `channel` holds `length` bytes; `inPacketList` when they are the state's joined payloads,
    // which a channel in one part then takes over as its buffer.
    void storeChannel(DeviceStreamState& state, const udpframing::DatagramHeader& first,
                      const std::uint8_t* channel, std::uint32_t length, bool inPacketList);
    bool admitChannel(DeviceStreamState& state, const CycleEntry& entry, std::uint32_t channelId,
                      std::uint32_t size);
    void eraseOldest(DeviceStreamState& state);
    void storePart(DeviceStreamState& state, CycleEntry& entry, const udpframing::DatagramHeader& first,
                   const udpframing::ChannelHeader& header, const std::uint8_t* channel,
                   std::uint32_t length);

    DataOutputBase& m_output;
    LoggingBase& m_logger;
    std::array<DeviceStreamState, 3> m_states; // indexed by SubDevice, slot 0 unused
    StreamStatistics m_counters;
    std::uint64_t m_maxStoredBytes;
    std::vector<std::uint8_t> m_channel; // joined payloads when they do not add up exactly, reused
    ReassemblyPool m_pool;
};
