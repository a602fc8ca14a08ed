#pragma once
// Test doubles that remember what the transport gives them. Thread-safe, because the socket
// tests read them while the receive thread writes.

#include "udp-transport/dataoutputbase.h"
#include "udp-transport/loggingbase.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class RecordingLogger : public LoggingBase {
public:
    struct Line {
        int level;
        std::string text;
    };

    void log(int level, const char* format, ...) override {
        char text[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back({level, text});
    }

    std::vector<Line> lines() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    // Lines containing `part`, optionally only those of one level.
    std::vector<Line> matching(const std::string& part, int level = -1) const {
        std::vector<Line> found;
        for (const Line& line : lines())
            if (line.text.find(part) != std::string::npos && (level < 0 || line.level == level))
                found.push_back(line);
        return found;
    }
    std::size_t count(const std::string& part, int level = -1) const { return matching(part, level).size(); }
    void clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Line> m_lines;
};

class RecordingOutput : public DataOutputBase {
public:
    struct Channel {
        std::uint32_t id;
        bool complete;
        std::vector<std::uint8_t> bytes;
    };
    struct Handout {
        int device;
        std::uint32_t cycleId;
        bool partial;
        std::vector<Channel> channels;
    };

    void output(int device, const CycleEntry& cycle, bool partial) override {
        Handout handout{device, cycle.cycleId, partial, {}};
        for (const ChannelBuffer& buffer : cycle.channels)
            handout.channels.push_back(
                {buffer.channelId, buffer.complete,
                 std::vector<std::uint8_t>(buffer.bytes(), buffer.bytes() + buffer.size())});
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handouts.push_back(std::move(handout));
    }
    int statistics(const StreamStatistics& counters) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_statisticsCalls;
        m_lastStatistics = counters;
        return 0;
    }

    std::vector<Handout> handouts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_handouts;
    }
    std::vector<Handout> handouts(int device, bool partial) const {
        std::vector<Handout> found;
        for (const Handout& h : handouts())
            if (h.device == device && h.partial == partial)
                found.push_back(h);
        return found;
    }
    int statisticsCalls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_statisticsCalls;
    }
    StreamStatistics lastStatistics() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lastStatistics;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Handout> m_handouts;
    int m_statisticsCalls = 0;
    StreamStatistics m_lastStatistics;
};
