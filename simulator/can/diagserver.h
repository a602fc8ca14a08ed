#pragma once
// The sensor's diagnostic services: sessions with their time-out, security access, identification
// and state identifiers, error memory, memory reads and the programming services. Takes whole
// requests and gives whole answers; the transport and the timing of answers are the node's.

#include "simulator/can/canconfig.h"
#include "simulator/can/errormemory.h"
#include "simulator/can/flashprogrammer.h"
#include "simulator/can/simcanbus.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace trvsim {

struct SimConfig;

// What the identification identifiers report.
struct DiagIdentity {
    // CPLD, DK boot loader, DK, DSP, KP boot loader, KP: major, minor, patch.
    std::array<std::array<uint8_t, 3>, 6> versions{};
    std::array<uint8_t, 3> globalVersion{};
    std::string variant; // "OD"
    std::string articleNumber, serialNumber, illuArticleNumber, illuSerialNumber;
    uint8_t mainboardVersion = 0, frontendVersion = 0, illuVersion = 0;
};
DiagIdentity diagIdentity(const SimConfig& config);

// The values of the state identifiers, taken when they are read.
struct SensorStatus {
    float mainTemperature = 0; // degrees Celsius
    float illuTemperature = 0;
    float supplyVoltage = 0; // volts
    uint32_t frameCounter = 0;
    uint8_t runMode = 0;
};

struct DiagServerSettings {
    std::function<void(int level, const std::string& line)> log; // notable events at level 1
    bool zeroSeed = false;
    bool bootLoader = false;
    bool bootLoaderSession = false; // the boot loader answers the active-session read
    FlashFault flashFault;
    SimClock::duration lockout = std::chrono::seconds(10); // after three wrong keys
};

class DiagServer {
public:
    enum class Session : uint8_t { Default = 1, Programming = 2, Extended = 3 };
    // Hang: the sensor stopped answering and restarts after a long silence.
    enum class Restart { None, Reset, ProgrammingDone, Hang };
    static constexpr auto kSessionTimeout = std::chrono::seconds(5);

    DiagServer(ParameterBlocks& blocks, DiagIdentity identity, DiagServerSettings settings,
               std::function<SensorStatus()> status);

    // The answer to a request, or nothing (suppressed, functional negative answers, silence).
    std::optional<std::vector<uint8_t>> handle(const std::vector<uint8_t>& request, bool functional,
                                               SimClock::time_point now);
    // Session time-out.
    void tick(SimClock::time_point now);

    // A restart the services asked for since the last call.
    Restart takeRestart() { return std::exchange(m_restart, Restart::None); }

    struct RestartOutcome {
        bool kpParametersChanged = false;
        bool parametersChanged = false;
        bool leftBootLoader = false;
    };
    // The sensor restarts: the session and security state are gone, programmed firmware
    // identities take effect.
    RestartOutcome restart();

    Session session() const { return m_session; }
    bool unlocked() const { return m_unlocked; }
    bool bootLoader() const { return m_settings.bootLoader; }
    const DiagIdentity& identity() const { return m_identity; }
    ErrorMemory& errorMemory() { return m_errors; }
    const FlashProgrammer& programmer() const { return m_programmer; }

private:
    struct Reply {
        std::vector<uint8_t> bytes; // positive answer
        uint8_t code = 0;           // negative response code
        bool suppress = false;      // positive answer suppressed by the request
        bool silent = false;        // no answer at all
    };
    static Reply negative(uint8_t code) { return Reply{{}, code, false, false}; }

    Reply dispatch(const std::vector<uint8_t>& r, SimClock::time_point now);
    Reply sessionControl(const std::vector<uint8_t>& r);
    Reply ecuReset(const std::vector<uint8_t>& r);
    Reply securityAccess(const std::vector<uint8_t>& r, SimClock::time_point now);
    Reply routineControl(const std::vector<uint8_t>& r);
    Reply requestDownload(const std::vector<uint8_t>& r);
    Reply readDtc(const std::vector<uint8_t>& r);
    Reply readDataById(const std::vector<uint8_t>& r);
    Reply readMemory(const std::vector<uint8_t>& r);
    Reply writeDataById(const std::vector<uint8_t>& r);
    // Empty optional when the identifier is unknown; silent sets no answer at all.
    std::optional<std::vector<uint8_t>> dataIdentifier(uint16_t did, bool& silent, uint8_t& code);
    // Negative response code when the programming services may not run now, else 0.
    uint8_t programmingAllowed() const;
    void enterSession(Session session);
    void log(const std::string& line) const;

    ParameterBlocks& m_blocks;
    FlashProgrammer m_programmer;
    DiagIdentity m_identity;
    DiagServerSettings m_settings;
    std::function<SensorStatus()> m_status;
    ErrorMemory m_errors;

    Session m_session = Session::Default;
    SimClock::time_point m_lastRequest{};
    bool m_unlocked = false;
    uint8_t m_seedLevel = 0; // level whose seed was sent, 0: none
    uint32_t m_seed = 0;
    uint32_t m_seedState = 0x2F6B1C3Du;
    int m_wrongKeys = 0;
    SimClock::time_point m_lockedUntil{};
    std::array<uint8_t, 9> m_fingerprint{};
    Restart m_restart = Restart::None;
};

} // namespace trvsim
