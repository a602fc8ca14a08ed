#include "udp-transport/cycleassembler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

using namespace udpframing;

namespace {

// The part tracker only serves diagnostics; a stream inventing channel ids must not grow it
// without end.
constexpr std::size_t kMaxTrackedChannels = 1024;

int asInt(std::uint32_t v) {
    return static_cast<int>(v);
}

void printMemCopyError(std::uint64_t offset, std::uint64_t length, std::uint64_t memsize) {
    std::printf("memCopy error: offset=%u length=%u > memsize=%d\n", static_cast<unsigned>(offset),
                static_cast<unsigned>(length), static_cast<int>(memsize));
    std::fflush(stdout);
}

} // namespace

CycleAssembler::CycleAssembler(DataOutputBase& output, LoggingBase& logger, std::uint64_t maxStoredBytes)
    : m_output(output), m_logger(logger), m_maxStoredBytes(maxStoredBytes) {}

DeviceStreamState* CycleAssembler::stateFor(int device) {
    if (device != kSubDeviceDsp && device != kSubDeviceKp)
        return nullptr;
    return &m_states[static_cast<std::size_t>(device)];
}

void CycleAssembler::processPacket(const std::uint8_t* bytes, std::size_t length) {
    if (bytes == nullptr)
        length = 0;
    if (isCanBeacon(bytes, length)) {
        ++m_counters.canBeacons;
        m_logger.log(LoggingBase::Trace, "CAN gateway beacon set aside (%d bytes)", static_cast<int>(length));
        return;
    }
    if (length < kDatagramHeaderSize) {
        m_logger.log(LoggingBase::Debug, "Packet is smaller (%d bytes) than the packet header (%d bytes)",
                     static_cast<int>(length), static_cast<int>(kDatagramHeaderSize));
        return;
    }
    const DatagramHeader h = DatagramHeader::read(bytes);
    m_logger.log(LoggingBase::Trace,
                 "Header Info: ver=%1d dev=%1d pkt_cnt=%8d cycle_cnt=%8d n_pkt_cycle=%4d i_pkt_cycle=%4d "
                 "n_pkt_ch=%4d i_pkt_ch=%4d ch_id=%4d tot_len=%6d pay_len=%4d",
                 h.version, h.subDevice, asInt(h.packetCounter), asInt(h.cycleCounter), h.packetsInCycle,
                 h.indexInCycle, h.packetsInChannel, h.indexInChannel, asInt(h.channelId),
                 asInt(h.totalLength), asInt(h.payloadLength));

    DeviceStreamState* state = stateFor(h.subDevice);
    if (state == nullptr) {
        m_logger.log(LoggingBase::Error, "Packet with invalid SubDevice %d found (1=DSP, 2=KP)", h.subDevice);
        return;
    }
    if (h.subDevice == kSubDeviceDsp)
        ++m_counters.dspPackets;
    else
        ++m_counters.kpPackets;

    if (h.indexInCycle >= h.packetsInCycle) {
        m_logger.log(LoggingBase::Error, "IndexOfPacketInCycle (%u) >= NumberOfPacketsInCycle (%u)",
                     unsigned{h.indexInCycle}, unsigned{h.packetsInCycle});
        return;
    }
    if (h.indexInChannel >= h.packetsInChannel) {
        m_logger.log(LoggingBase::Error, "IndexOfPacketInChannel (%u) >= NumberOfPacketsInChannel (%u)",
                     unsigned{h.indexInChannel}, unsigned{h.packetsInChannel});
        return;
    }

    const std::uint8_t* payload = bytes + kDatagramHeaderSize;
    const std::size_t payloadLength = length - kDatagramHeaderSize;
    ChannelHeader channelHeader;
    if (h.indexInChannel == 0) {
        channelHeader = ChannelHeader::read(payload, payloadLength);
        m_logger.log(LoggingBase::Trace,
                     "startdel=%08x LRC=%08x i_parts=%03d n_parts=%03d offset=%08x partsize=%08x "
                     "totalsize=%08x RollingCnt=%8d",
                     channelHeader.startDelimiter, channelHeader.lrc, channelHeader.currentPart,
                     channelHeader.numberOfParts, channelHeader.offset, channelHeader.partSize,
                     channelHeader.totalSize, asInt(channelHeader.rollingCounter));
    }

    if (h.indexInCycle == 0)
        state->cycleStart = true;

    const bool continuous = !state->hasPrevious || h.packetCounter == state->previousPacketCounter + 1u;
    if (!continuous) {
        m_logger.log(LoggingBase::Error, "Missing packets. ");
        ++m_counters.missingPacketEvents;
        state->reset();
        return;
    }

    if (h.indexInChannel == 0 && channelHeader.numberOfParts >= 2)
        trackMultiPart(*state, h.channelId, channelHeader.currentPart, channelHeader.numberOfParts);

    if (h.indexInCycle == 0)
        state->collecting = true;

    if (!state->packets.empty() && state->hasPrevious &&
        (h.cycleCounter != state->previousCycleCounter || h.channelId != state->previousChannelId)) {
        m_logger.log(LoggingBase::Error,
                     "Still %d packets in der packet list although a channel or cycle change occured.",
                     static_cast<int>(state->packets.size()));
        state->reset();
    }

    if (state->collecting) {
        // A list that already holds as many datagrams as its channel announced cannot become a
        // valid channel; starting over keeps it from growing without end.
        if (!state->packets.empty()) {
            const auto announced = DatagramHeader::read(state->packets.header(0)).packetsInChannel;
            if (state->packets.size() >= announced) {
                m_logger.log(LoggingBase::Error, "Channel %d: more than %d packets received, channel dropped",
                             asInt(h.channelId), announced);
                state->packets.clear();
            }
        }
        state->packets.append(bytes, length);
    }

    if (h.indexInChannel == h.packetsInChannel - 1) {
        processChannel(*state);
        state->packets.clear();
    }

    state->previousChannelId = h.channelId;
    state->previousCycleCounter = h.cycleCounter;
    state->previousPacketCounter = h.packetCounter;
    state->hasPrevious = true;
}

void CycleAssembler::trackMultiPart(DeviceStreamState& state, std::uint32_t channelId, std::uint16_t part,
                                    std::uint16_t parts) {
    auto& tracker = state.multiPartTracker;
    const auto it = tracker.find(channelId);
    if (it == tracker.end()) {
        if (tracker.size() < kMaxTrackedChannels)
            tracker.emplace(channelId, DeviceStreamState::MultiPartProgress{part, parts});
        return;
    }
    const auto last = it->second;
    if (part != last.lastPart + 1 && part != 0 && last.lastPart != last.numberOfParts - 1) {
        m_logger.log(LoggingBase::Error, "Multi cycle transmission on channel %d: Part %d after part %d ",
                     asInt(channelId), part, last.lastPart);
        tracker.erase(it);
        return;
    }
    it->second = {part, parts};
}

void CycleAssembler::processChannel(DeviceStreamState& state) {
    const PacketList& packets = state.packets;
    if (packets.empty()) {
        m_logger.log(LoggingBase::Debug, "ProcessChannel: packet list has no elements");
        return;
    }
    const DatagramHeader first = DatagramHeader::read(packets.header(0));
    if (first.indexInChannel != 0) {
        m_logger.log(LoggingBase::Debug, "ProcessChannel %d: IndexOfPacketInChannel is %d (!= 0)\n",
                     asInt(first.channelId), first.indexInChannel);
        return;
    }
    for (std::size_t i = 0; i < packets.size(); ++i) {
        if (readU16(packets.header(i) + dgram::kIndexInChannel) != i) {
            m_logger.log(LoggingBase::Error, "ProcessChannel: Order of the packets doesn't fit\n");
            return;
        }
    }
    const std::uint64_t received = packets.payloadBytes();
    if (packets.size() != first.packetsInChannel) {
        m_logger.log(LoggingBase::Error, "ProcessChannel: number of elements wrong (%d vs %d)\n",
                     static_cast<int>(packets.size()), first.packetsInChannel);
        return;
    }

    // The announced length is never trusted beyond what actually arrived.
    const std::uint32_t length = first.totalLength;
    if (length > received) {
        ++m_counters.truncatedChannels;
        m_logger.log(LoggingBase::Error, "ProcessChannel %d: total length %u exceeds the %u bytes received\n",
                     asInt(first.channelId), length, static_cast<unsigned>(received));
        return;
    }
    if (length < kChannelFramingSize) {
        m_logger.log(LoggingBase::Error,
                     "ProcessChannel %d: channel of %u bytes is shorter than its framing (%d bytes)\n",
                     asInt(first.channelId), length, static_cast<int>(kChannelFramingSize));
        return;
    }

    // Normally the payloads add up to the channel exactly and are read where they lie, joined in
    // the packet list. Otherwise they are joined apart, with the copies that would pass the
    // announced length skipped.
    if (received == length) {
        storeChannel(state, first, packets.joined(), length, true);
        return;
    }
    m_channel.resize(length);
    std::size_t offset = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        const PacketList::Payload payload = packets.payload(i);
        if (offset + payload.length > length) {
            printMemCopyError(offset, payload.length, length);
            continue;
        }
        std::memcpy(m_channel.data() + offset, payload.bytes, payload.length);
        offset += payload.length;
    }
    // Bytes no datagram filled must not carry a previous channel's contents.
    std::fill(m_channel.begin() + static_cast<std::ptrdiff_t>(offset), m_channel.end(), std::uint8_t{0});
    storeChannel(state, first, m_channel.data(), length, false);
}

void CycleAssembler::storeChannel(DeviceStreamState& state, const DatagramHeader& first,
                                  const std::uint8_t* channel, std::uint32_t length, bool inPacketList) {
    const ChannelHeader header = ChannelHeader::read(channel, kChannelHeaderSize);
    if (header.startDelimiter != kStartDelimiter) {
        m_logger.log(LoggingBase::Error,
                     "Packet %8d Cycle %8d Ch %2d: StartDelimiter is %08x instead of 0xaa55aa55",
                     asInt(first.packetCounter), asInt(first.cycleCounter), asInt(first.channelId),
                     header.startDelimiter);
        ++m_counters.startDelimiterErrors;
        return;
    }
    const std::uint32_t endDelimiter = readU32(channel + length - kEndDelimiterSize);
    if (endDelimiter != kEndDelimiter) {
        m_logger.log(LoggingBase::Error, "Cycle %8d Ch %2d: EndDelimiter is %08x instead of 0x55aa55aa",
                     asInt(first.cycleCounter), asInt(first.channelId), endDelimiter);
        ++m_counters.endDelimiterErrors;
    }

    const std::uint8_t* body = channel + kChannelHeaderSize;
    const std::size_t bodySize = length - kChannelFramingSize;
    if (header.lrc != 0) {
        // An empty body has no checksum; a transmitted one cannot match it.
        std::uint32_t calculated = 0;
        computeLrc(body, static_cast<long long>(bodySize), calculated);
        if (calculated != header.lrc) {
            m_logger.log(LoggingBase::Error,
                         "Packet %8d Cycle %8d Ch %2d: LRC transmitted: %08x calculated on PC: %08x",
                         asInt(first.packetCounter), asInt(first.cycleCounter), asInt(first.channelId),
                         header.lrc, calculated);
            ++m_counters.lrcErrors;
        }
    }
    if (header.currentPart >= header.numberOfParts) {
        m_logger.log(LoggingBase::Error,
                     "ChannelHeader: CurrentPart (%d) >= NumberofParts (%d) | Channel: %03d Packet Cnt: %08d",
                     header.currentPart, header.numberOfParts, asInt(first.channelId),
                     asInt(first.packetCounter));
        return;
    }

    // All parts of a multi-cycle transmission belong to the cycle of their part 0.
    const std::uint32_t cycleId = first.cycleCounter - header.currentPart;
    auto it = state.cycles.find(cycleId);
    if (it == state.cycles.end()) {
        if (header.currentPart != 0)
            return; // its part 0 was never seen or its cycle is gone
        it = m_pool.insert(state.cycles, cycleId);
    }
    CycleEntry& entry = it->second;

    if (header.numberOfParts == 1) {
        if (length != static_cast<std::uint64_t>(header.totalSize) + kChannelFramingSize) {
            m_logger.log(LoggingBase::Error,
                         "Payload length (%d byte) + header length (32 byte) must be the same as the total "
                         "channel length (%d byte)",
                         asInt(header.totalSize), asInt(length));
            return;
        }
        if (!admitChannel(state, entry, first.channelId, header.totalSize))
            return;
        ChannelBuffer buffer;
        if (inPacketList) {
            // The joined payloads become the buffer: the header stays in front of the body, the
            // end delimiter is cut off.
            buffer.data = state.packets.takeStore(m_pool.takeBytes());
            buffer.data->resize(length - kEndDelimiterSize);
            buffer.offset = kChannelHeaderSize;
        } else {
            buffer.data = m_pool.takeBytes();
            buffer.data->assign(body, body + bodySize);
        }
        buffer.numberOfParts = 1;
        buffer.totalSize = header.totalSize;
        buffer.channelId = first.channelId;
        buffer.complete = true;
        entry.channels.push_back(std::move(buffer));
        return;
    }
    storePart(state, entry, first, header, channel, length);
}

bool CycleAssembler::admitChannel(DeviceStreamState& state, const CycleEntry& entry, std::uint32_t channelId,
                                  std::uint32_t size) {
    if (entry.channels.size() >= kMaxChannelsPerCycle) {
        ++m_counters.channelsOverLimit;
        if (!state.channelLimitReported || state.channelLimitCycle != entry.cycleId) {
            m_logger.log(LoggingBase::Error,
                         "Cycle %u: more than %d channels, channel %d and later ones dropped", entry.cycleId,
                         static_cast<int>(kMaxChannelsPerCycle), asInt(channelId));
            state.channelLimitCycle = entry.cycleId;
            state.channelLimitReported = true;
        }
        return false;
    }
    const std::uint64_t charge = size + kChannelCharge;
    if (state.storedBytes + charge > m_maxStoredBytes) {
        m_logger.log(LoggingBase::Error,
                     "Channel %d of %u bytes dropped: %llu bytes of cycles are stored already",
                     asInt(channelId), size, static_cast<unsigned long long>(state.storedBytes));
        return false;
    }
    state.storedBytes += charge;
    return true;
}

void CycleAssembler::eraseOldest(DeviceStreamState& state) {
    const auto oldest = state.cycles.begin();
    for (const ChannelBuffer& buffer : oldest->second.channels)
        state.storedBytes -= std::min<std::uint64_t>(state.storedBytes, buffer.totalSize + kChannelCharge);
    m_pool.erase(state.cycles, oldest);
}

void CycleAssembler::storePart(DeviceStreamState& state, CycleEntry& entry, const DatagramHeader& first,
                               const ChannelHeader& header, const std::uint8_t* channel,
                               std::uint32_t length) {
    auto buffer = std::find_if(entry.channels.begin(), entry.channels.end(),
                               [&](const ChannelBuffer& b) { return b.channelId == first.channelId; });
    if (buffer == entry.channels.end()) {
        if (header.currentPart != 0) {
            m_logger.log(LoggingBase::Error, "Channel %d starts with multi cycle part %d (Packet %d)",
                         asInt(first.channelId), header.currentPart, asInt(first.packetCounter));
            return;
        }
        if (header.totalSize > kMaxJoinedChannelSize) {
            m_logger.log(LoggingBase::Error,
                         "Channel %d: multi cycle total size %u exceeds the limit of %u bytes",
                         asInt(first.channelId), header.totalSize, kMaxJoinedChannelSize);
            return;
        }
        if (!admitChannel(state, entry, first.channelId, header.totalSize))
            return;
        ChannelBuffer created;
        created.data = m_pool.takeBytes();
        created.data->resize(header.totalSize);
        created.partsReceived.assign(header.numberOfParts, false);
        created.numberOfParts = header.numberOfParts;
        created.totalSize = header.totalSize;
        created.channelId = first.channelId;
        entry.channels.push_back(std::move(created));
        buffer = std::prev(entry.channels.end());
    } else if (buffer->numberOfParts == 1) {
        // The cycle already holds this channel whole; a part of it cannot join that buffer.
        m_logger.log(LoggingBase::Error, "Channel %d: part %d of a channel already received in one part",
                     asInt(first.channelId), header.currentPart);
        return;
    } else if (header.currentPart >= buffer->numberOfParts) {
        // The parts vector has as many bits as part 0 announced parts.
        m_logger.log(LoggingBase::Error, "Channel %d: part %d is beyond the %d parts announced by its part 0",
                     asInt(first.channelId), header.currentPart, buffer->numberOfParts);
        return;
    }

    // A part may run into the end delimiter (at most length - 28 bytes), never past it.
    if (header.partSize > length - kChannelHeaderSize) {
        m_logger.log(LoggingBase::Error, "Partsize %u is too big", header.partSize);
        return;
    }
    if (static_cast<std::uint64_t>(header.offset) + header.partSize > buffer->totalSize)
        printMemCopyError(header.offset, header.partSize, buffer->totalSize);
    else
        std::memcpy(buffer->data->data() + buffer->offset + header.offset, channel + kChannelHeaderSize,
                    header.partSize);

    buffer->partsReceived[header.currentPart] = true;
    buffer->complete = std::all_of(buffer->partsReceived.begin(), buffer->partsReceived.end(),
                                   [](bool received) { return received; });
}

const CycleEntry* CycleAssembler::takePartialCycle(int device) {
    DeviceStreamState* state = stateFor(device);
    if (state == nullptr)
        return nullptr;
    auto& cycles = state->cycles;
    if (cycles.size() < 2 || cycles.begin()->first == state->previousCycleCounter)
        return nullptr;
    if (!state->lastPartialSet)
        return &cycles.begin()->second;
    const auto next = cycles.upper_bound(state->lastPartialId);
    if (next == cycles.end() || std::next(next) == cycles.end())
        return nullptr; // the newest cycle may still be growing
    return &next->second;
}

const CycleEntry* CycleAssembler::takeCompleteCycle(int device) {
    DeviceStreamState* state = stateFor(device);
    if (state == nullptr)
        return nullptr;
    auto& cycles = state->cycles;
    if (!state->cycleStart || cycles.size() < 2 || cycles.begin()->first == state->previousCycleCounter)
        return nullptr;
    const CycleEntry& oldest = cycles.begin()->second;
    const bool complete = std::all_of(oldest.channels.begin(), oldest.channels.end(),
                                      [](const ChannelBuffer& b) { return b.complete; });
    if (!complete)
        return nullptr;
    state->cycleStart = false;
    return &oldest;
}

void CycleAssembler::markPartialDelivered(int device, std::uint32_t id) {
    if (DeviceStreamState* state = stateFor(device)) {
        state->lastPartialId = id;
        state->lastPartialSet = true;
    }
}

void CycleAssembler::markCompleteDelivered(int device, std::uint32_t id) {
    if (DeviceStreamState* state = stateFor(device)) {
        state->lastCompleteId = id;
        state->lastCompleteSet = true;
    }
}

void CycleAssembler::eraseDeliveredCycles(int device) {
    DeviceStreamState* state = stateFor(device);
    if (state == nullptr || !state->lastCompleteSet || !state->lastPartialSet)
        return;
    const std::uint32_t limit = state->lastPartialId < state->lastCompleteId ? 1u : state->lastCompleteId;
    auto& cycles = state->cycles;
    while (!cycles.empty() && cycles.begin()->first <= limit)
        eraseOldest(*state);
}

void CycleAssembler::cleanOutdatedCycles(int device) {
    DeviceStreamState* state = stateFor(device);
    if (state == nullptr)
        return;
    auto& cycles = state->cycles;
    while (cycles.size() > kMaxStoredCycles) {
        m_logger.log(LoggingBase::Debug,
                     "cleanOutdatedCycles: Device %u Delete CycleID %u Length of List: %d\n",
                     static_cast<unsigned>(device), cycles.begin()->first, static_cast<int>(cycles.size()));
        eraseOldest(*state);
    }
}

void CycleAssembler::deliverCycles() {
    for (int device : {int{kSubDeviceDsp}, int{kSubDeviceKp}}) {
        if (const CycleEntry* entry = takePartialCycle(device)) {
            const std::uint32_t id = entry->cycleId;
            m_output.output(device, *entry, true);
            markPartialDelivered(device, id);
        }
        if (const CycleEntry* entry = takeCompleteCycle(device)) {
            const std::uint32_t id = entry->cycleId;
            m_output.output(device, *entry, false);
            markCompleteDelivered(device, id);
            m_output.statistics(m_counters);
            eraseDeliveredCycles(device);
        }
        cleanOutdatedCycles(device);
    }
}
