#pragma once

#include "udp-transport/cycleentry.h"
#include "udp-transport/streamstatistics.h"

// Receiver of reassembled cycles. Called on the receive thread; the cycle and its buffers are
// only borrowed for the duration of the call (the byte buffers themselves are shared pointers
// and may be kept).
class DataOutputBase {
public:
    virtual ~DataOutputBase() = default;
    // device: 1 = DSP, 2 = KP. partial: true for the early hand-out of a cycle when the next
    // cycle begins (channels may still be missing), false once every channel is complete.
    virtual void output(int device, const CycleEntry& cycle, bool partial) = 0;
    // Counters after each complete hand-out.
    virtual int statistics(const StreamStatistics& counters) {
        (void)counters;
        return 0;
    }
};
