// Feeds arbitrary frame sequences to the diagnostic client as the sensor's side of one service:
// answer reassembly (receiveAnswer), the positive-response wait and the flow control of a
// segmented request. Time is virtual, so every time-out costs only loop turns.
//
// Input: byte 0 picks the service; then records of 10 bytes: flags, length, 8 data bytes.
// flags bit 0: on the response identifier, else bit 1: an 11-bit foreign frame, else another
// node's response; flags >> 4: milliseconds after the previous frame.
#include "can-communication/diagpc.h"
#include "tests/can-communication/scriptedcandevice.h"

#include <cstdint>
#include <cstdlib>

namespace {
constexpr size_t kRecord = 10;
constexpr size_t kMaxRecords = 4096;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    VirtualClock clock;
    ScriptedCanDevice device(0x2A, &clock);
    device.autoFlowControl = false; // flow controls come from the input too
    DiagPC diag(&device, 0x2A);
    diag.setClock(&clock);
    // Every frame becomes readable after the request has been sent (the request empties the queue).
    qint64 at = 1;
    for (size_t i = 1, n = 0; i + kRecord <= size && n < kMaxRecords; i += kRecord, ++n) {
        const uint8_t flags = data[i];
        at += flags >> 4;
        const uint32_t id = (flags & 1) ? device.responseId() : (flags & 2) ? 0x7E8u : 0x18DAF12Bu;
        device.push(id,
                    QByteArray(reinterpret_cast<const char*>(data + i + 2), std::min<int>(data[i + 1], 8)),
                    at - clock.now);
    }
    QByteArray out;
    const uint8_t payload[40] = {};
    int result = 0;
    switch (data[0] % 6) {
    case 0:
        result = diag.readDataByIdentifier(0xF187, out);
        break;
    case 1:
        result = diag.readDtcInformation(0xFF, out);
        break;
    case 2:
        result = diag.readMemoryByAddress(0x1000, 4094, out);
        if (result == DIAG_OK && out.size() != 4094)
            std::abort();
        break;
    case 3:
        result = diag.diagnosticSessionControl(3);
        break;
    case 4:
        result = diag.writeDataByIdentifier(0x0102, payload, sizeof payload);
        break;
    default: {
        bool unlocked = false;
        result = diag.securityAccessProgramming(unlocked);
        break;
    }
    }
    if (out.size() > DiagPC::kMaxPayload)
        std::abort();
    if (result != DIAG_OK && !out.isEmpty())
        std::abort();
    return 0;
}
