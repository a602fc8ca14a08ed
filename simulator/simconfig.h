#pragma once
// Configuration of one virtual sensor: who it is, where it streams to, and which faults it plays.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace trvsim {

enum class Variant { DI, OD, LG };
enum class Model { TRVADN, TRVAFN };

// "DI", "OD", "LG" / "TRVADN", "TRVAFN".
const char* variantName(Variant variant);
const char* modelName(Model model);
std::optional<Variant> variantFromName(const std::string& text);
std::optional<Model> modelFromName(const std::string& text);

struct FirmwareVersion {
    uint8_t major = 3;
    uint8_t minor = 4;
    uint8_t patch = 1;
    std::string text() const; // "3.4.1"
};

// What the sensor reports about itself. The firmware version also selects the parameter
// descriptions of its variant (major.minor).
struct SensorIdentity {
    Model model = Model::TRVAFN;
    Variant variant = Variant::OD;
    FirmwareVersion version;
    std::string serialNumber = "SIM0000001";
    std::string articleNumber = "R2A1"; // reported as "TRVAFN-R2A1": 11 characters fit a flash container
    std::string mainboardVersion = "MB03";
    std::string frontendVersion = "FE02";
    std::string illuminationVersion = "IL02";
    std::string illuminationArticleNumber = "R2I001";
    std::string illuminationSerialNumber = "ILS0000001";
};

// Fault switches. Shares are probabilities in [0, 1] drawn from the seeded generator, so a run
// with the same seed misbehaves the same way.
struct FaultConfig {
    double dropShare = 0.0;        // datagrams not sent
    double reorderShare = 0.0;     // datagrams swapped with their successor
    double duplicateShare = 0.0;   // datagrams sent twice
    double badLrcShare = 0.0;      // channels with a wrong checksum
    double badStartShare = 0.0;    // channels with a wrong start delimiter
    double badEndShare = 0.0;      // channels with a wrong end delimiter
    double truncateShare = 0.0;    // datagrams cut short (header kept)
    uint32_t pauseAfterCycles = 0; // 0: never; otherwise fall silent after this many cycles ...
    uint32_t pauseMs = 0;          // ... for this long, then go on where it stopped
    uint32_t stopAfterCycles = 0;  // 0: never; otherwise go silent for good (power loss)
    bool secondSender = false;     // a second sensor streams from the same address
    bool noLrc = false;            // send LRC 0 ("not transmitted")

    bool any() const;
};

// Log sink: level 1 notable events, 2 debug, 3 per-cycle trace.
using LogFunction = std::function<void(int level, const std::string& line)>;

struct SimConfig {
    SensorIdentity identity;
    // Destination of the stream and the sensor's own address; stored in its DSP parameters.
    std::string destAddress = "255.255.255.255";
    uint16_t destPort = 42000;
    std::string sourceAddress = "0.0.0.0"; // 0.0.0.0: any local address
    uint16_t sourcePort = 0;               // 0: an ephemeral port
    uint32_t seed = 1;
    // 0: take the cycle time from the sensor's CycleTime parameter (40 ms unless changed).
    uint32_t cycleTimeMs = 0;
    // First frame counter sent.
    uint32_t firstFrameCounter = 1;
    FaultConfig faults;
    // The CAN settings the sensor reports in its KP parameters (and so in its identification);
    // -1 and 0 keep the factory values. The program sets them from its CAN options, so that the
    // identification names the node each sensor answers at.
    int canAddress = -1; // J1939 source address, or the CANopen node address with canopen
    bool canopen = false;
    uint32_t canBitRate = 0;
    int verbosity = 1; // messages up to this level reach log
    LogFunction log;   // empty: messages go to standard error
};

// The configuration of the index-th of count sensors run together (--count): sources 127.0.0.2,
// .3, ... (or counting up from the given source), serial numbers counting up from the first.
SimConfig sensorConfig(const SimConfig& config, uint32_t index, uint32_t count);

} // namespace trvsim
