#pragma once
// The sensor's programming state: flash driver in memory, erased block, the download in
// progress (RequestDownload, TransferData, RequestTransferExit) and its CRC check. Nothing
// replaces stored contents before the CRC check of a complete download has passed, so a broken
// or interrupted download leaves everything as it was.

#include "simulator/can/parameterblocks.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace trvsim {

namespace blockid {
constexpr uint8_t kFlashDriver = 0x30;
constexpr uint8_t kCpld = 0x40, kDk = 0x50, kDsp = 0x60, kKp = 0x80;
constexpr uint8_t kDspCpar = 0x63, kKpCpar = 0x81;
const char* name(uint8_t id); // nullptr for ids the sensor does not have
} // namespace blockid

// What a firmware image says about itself in its first line
// ("TRVSIM-FW block=NAME version=X.Y.Z variant=V").
struct FirmwareLine {
    std::string block;
    std::array<uint8_t, 3> version{};
    std::string variant; // empty when not given
};
std::optional<FirmwareLine> parseFirmwareLine(const std::vector<uint8_t>& data);

class FlashProgrammer {
public:
    // Negative response codes of the services, 0 for a positive answer.
    static constexpr uint8_t kOk = 0;
    static constexpr uint32_t kMaxDownload = 0x00700000; // bytes of one block

    explicit FlashProgrammer(ParameterBlocks& blocks, bool driverResident)
        : m_blocks(blocks), m_driverResident(driverResident) {}

    // Routine "erase" for a block id: 0 positive, else a negative response code.
    uint8_t erase(uint8_t id);
    // size: the memory size of the block; a compressed download (data format not 0) may bring
    // fewer bytes than that.
    uint8_t requestDownload(uint8_t id, uint32_t size, bool compressed = false);
    uint8_t transferData(uint8_t sequence, const uint8_t* data, std::size_t size);
    uint8_t transferExit();
    // Routine "check memory": negative response code, or 0 with the routine status in status
    // (0 good: the block is taken; 1 CRC or block check failed).
    uint8_t checkMemory(uint32_t crc, uint8_t& status);

    // A download of a block other than the flash driver is in progress; its pieces so far.
    bool downloadingApplication() const { return m_step == Step::Transfer && m_id != blockid::kFlashDriver; }
    uint32_t piecesReceived() const { return m_pieces; }
    // Fault: every download but the flash driver's lands in memory with one bit flipped.
    void corruptDownloads(bool on) { m_corrupt = on; }

    // The programming session ended: driver, erase and unfinished downloads are gone.
    void endSession();

    // What passed the check since the last take: firmware lines to apply at the next reset,
    // whether a KP parameter block and whether anything at all was programmed.
    std::vector<FirmwareLine> takeFirmware();
    bool kpParametersProgrammed() const { return m_kpProgrammed; }
    bool anythingProgrammed() const { return m_programmed; }
    void clearProgrammed() { m_kpProgrammed = m_programmed = false; }
    bool firmwareProgrammed() const { return m_firmwareProgrammed; }

    // What the last download came to, for the log.
    const std::string& lastEvent() const { return m_event; }
    // Stored contents of the blocks without a meaning of their own (firmware images).
    const std::map<uint8_t, std::vector<uint8_t>>& stored() const { return m_stored; }

private:
    bool commit(uint8_t id, const std::vector<uint8_t>& data);

    ParameterBlocks& m_blocks;
    const bool m_driverResident;
    bool m_driverLoaded = false;
    std::optional<uint8_t> m_erased;

    enum class Step { Idle, Transfer, Exited };
    Step m_step = Step::Idle;
    uint8_t m_id = 0;
    uint32_t m_size = 0;
    bool m_compressed = false;
    uint8_t m_sequence = 1;
    uint32_t m_pieces = 0;
    bool m_corrupt = false;
    std::vector<uint8_t> m_data;

    std::map<uint8_t, std::vector<uint8_t>> m_stored;
    std::vector<FirmwareLine> m_firmware;
    bool m_kpProgrammed = false, m_programmed = false, m_firmwareProgrammed = false;
    std::string m_event;
};

} // namespace trvsim
