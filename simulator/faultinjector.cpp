#include "simulator/faultinjector.h"

#include "udp-transport/udpframing.h"

#include <utility>

namespace trvsim {

FaultInjector::FaultInjector(const FaultConfig& config, uint32_t seed)
    : m_config(config), m_random(seed ^ 0xFA017u) {}

bool FaultInjector::draw(double share) {
    if (share <= 0.0)
        return false;
    if (share >= 1.0)
        return true;
    return m_unit(m_random) < share;
}

ChannelFaults FaultInjector::nextChannel() {
    ChannelFaults f;
    f.badLrc = draw(m_config.badLrcShare);
    f.badStart = draw(m_config.badStartShare);
    f.badEnd = draw(m_config.badEndShare);
    m_counts.badLrc += f.badLrc;
    m_counts.badStart += f.badStart;
    m_counts.badEnd += f.badEnd;
    return f;
}

void FaultInjector::applyToDatagrams(DatagramBatch& batch, std::size_t first) {
    const FaultConfig& c = m_config;
    if (c.dropShare <= 0 && c.duplicateShare <= 0 && c.reorderShare <= 0 && c.truncateShare <= 0)
        return;
    auto& sends = batch.sends();
    m_scratch.assign(sends.begin() + static_cast<std::ptrdiff_t>(first), sends.end());
    sends.resize(first);
    for (std::size_t i = 0; i < m_scratch.size(); ++i) {
        DatagramBatch::Send s = m_scratch[i];
        if (draw(c.dropShare)) {
            ++m_counts.dropped;
            continue;
        }
        if (draw(c.truncateShare) && s.length > udpframing::kDatagramHeaderSize + 1) {
            // Keep the datagram header, cut the payload in half.
            s.length = static_cast<uint16_t>(udpframing::kDatagramHeaderSize +
                                             (s.length - udpframing::kDatagramHeaderSize) / 2);
            ++m_counts.truncated;
        }
        if (i + 1 < m_scratch.size() && draw(c.reorderShare)) {
            sends.push_back(m_scratch[i + 1]);
            sends.push_back(s);
            ++m_counts.reordered;
            ++i;
            continue;
        }
        sends.push_back(s);
        if (draw(c.duplicateShare)) {
            sends.push_back(s);
            ++m_counts.duplicated;
        }
    }
}

bool FaultConfig::any() const {
    return dropShare > 0 || reorderShare > 0 || duplicateShare > 0 || badLrcShare > 0 || badStartShare > 0 ||
           badEndShare > 0 || truncateShare > 0 || pauseAfterCycles > 0 || stopAfterCycles > 0 ||
           secondSender || noLrc;
}

} // namespace trvsim
