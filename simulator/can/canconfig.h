#pragma once
// The CAN side of one virtual sensor as the command line sets it up. Unset values (0 / empty)
// mean "as the sensor's own parameter blocks say"; after a parameter write the blocks rule again.

#include <cstdint>
#include <string>

namespace trvsim {

enum class CanProtocol { FromParameters, J1939, CANopen };

// A programming fault of the diagnostic server. Silent and Reset strike at the `piece`th
// TransferData request of every download (not the flash driver's); Crc corrupts what every
// download writes, so its CRC check fails. The stored contents stay as they were.
struct FlashFault {
    enum class Kind { None, Silent, Reset, Crc };
    Kind kind = Kind::None;
    uint32_t piece = 0;
};

struct CanConfig {
    // Where the bus comes from: serve one ("[ADDR:]PORT", bus "can0"), or join one
    // ("socketcand://HOST:PORT/BUS" or "qtcanbus://BACKEND/INTERFACE"). Both empty: no CAN side.
    std::string listen;
    std::string join;
    std::string beacon;       // "ADDR[:PORT]": send the socketcand discovery beacon every 3 s
    uint32_t sensorCount = 1; // --count: sensors sharing one bus (127.0.0.2, .3, ...; nodes 239, 238, ...)

    uint32_t bitRate = 0; // --can-bitrate
    CanProtocol protocol = CanProtocol::FromParameters;
    int address = -1; // --can-address: J1939 source address or CANopen node (-1: parameters)

    // Bus behaviour.
    bool pace = true;       // --can-no-pace turns pacing at the bit rate off
    uint32_t dropEvery = 0; // --can-drop-every N: every Nth frame lost (0: none)
    uint32_t delayMs = 0;   // --can-delay: answers held back this long
    bool refuse = false;    // --can-refuse: TCP connections refused

    // Diagnostic server behaviour.
    uint8_t blockSize = 0;          // --can-block-size: flow control of downloads and answers
    uint8_t stMinMs = 0;            // --can-stmin
    uint32_t responsePending = 0;   // --response-pending N: N "response pending" answers first
    bool zeroSeed = false;          // --zero-seed: security access answers seed 0
    bool bootLoader = false;        // --boot-loader: only the boot loader runs
    bool bootLoaderSession = false; // --boot-loader-session: it answers the active-session read
    FlashFault flashFault;          // --flash-fault
    bool vehicle = false;           // --vehicle: also send speed, tachograph and yaw-rate messages

    bool enabled() const { return !listen.empty() || !join.empty(); }
};

} // namespace trvsim
