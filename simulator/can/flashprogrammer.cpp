#include "simulator/can/flashprogrammer.h"

#include "simulator/can/diagcodes.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <utility>

namespace trvsim {

const char* blockid::name(uint8_t id) {
    switch (id) {
    case 0x30:
        return "flash driver";
    case 0x40:
        return "CPLD";
    case 0x50:
        return "DK";
    case 0x51:
        return "DK_OPAR";
    case 0x52:
        return "DK_PPAR";
    case 0x53:
        return "DK_MPAR";
    case 0x60:
        return "DSP";
    case 0x61:
        return "DSP_OPAR";
    case 0x62:
        return "DSP_MPAR";
    case 0x63:
        return "DSP_CPAR";
    case 0x64:
        return "DSP_IPAR";
    case 0x80:
        return "KP";
    case 0x81:
        return "KP_CPAR";
    case 0x82:
        return "KP_OPAR";
    case 0x83:
        return "KP_PPAR";
    default:
        return nullptr;
    }
}

std::optional<FirmwareLine> parseFirmwareLine(const std::vector<uint8_t>& data) {
    static const char kTag[] = "TRVSIM-FW ";
    const std::size_t limit = std::min<std::size_t>(data.size(), 200);
    const auto end = std::find(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(limit), '\n');
    if (end == data.begin() + static_cast<std::ptrdiff_t>(limit))
        return std::nullopt;
    const std::string line(data.begin(), end);
    if (line.compare(0, sizeof(kTag) - 1, kTag) != 0)
        return std::nullopt;
    FirmwareLine out;
    bool haveVersion = false;
    std::istringstream words(line.substr(sizeof(kTag) - 1));
    std::string word;
    while (words >> word) {
        const auto eq = word.find('=');
        if (eq == std::string::npos)
            return std::nullopt;
        const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
        if (key == "block") {
            out.block = value;
        } else if (key == "version") {
            unsigned a = 0, b = 0, c = 0;
            char tail = 0;
            if (std::sscanf(value.c_str(), "%u.%u.%u%c", &a, &b, &c, &tail) != 3 || a > 255 || b > 255 ||
                c > 255)
                return std::nullopt;
            out.version = {uint8_t(a), uint8_t(b), uint8_t(c)};
            haveVersion = true;
        } else if (key == "variant") {
            if (value != "DI" && value != "OD" && value != "LG")
                return std::nullopt;
            out.variant = value;
        }
    }
    if (out.block.empty() || !haveVersion)
        return std::nullopt;
    return out;
}

uint8_t FlashProgrammer::erase(uint8_t id) {
    if (!blockid::name(id) || id == blockid::kFlashDriver)
        return nrc::kRequestOutOfRange;
    if (!m_driverLoaded && !m_driverResident)
        return nrc::kConditionsNotCorrect;
    if (m_step == Step::Transfer)
        return nrc::kConditionsNotCorrect;
    m_step = Step::Idle; // an erase drops a download that was not checked
    m_erased = id;
    return kOk;
}

uint8_t FlashProgrammer::requestDownload(uint8_t id, uint32_t size, bool compressed) {
    if (m_step == Step::Transfer)
        return nrc::kConditionsNotCorrect;
    if (!blockid::name(id) || size == 0 || size > kMaxDownload)
        return nrc::kRequestOutOfRange;
    if (id != blockid::kFlashDriver) {
        if (!m_driverLoaded && !m_driverResident)
            return nrc::kConditionsNotCorrect;
        if (m_erased != id)
            return nrc::kUploadDownloadNotAccepted;
    }
    m_step = Step::Transfer;
    m_id = id;
    m_size = size;
    m_compressed = compressed;
    m_sequence = 1;
    m_pieces = 0;
    m_data.clear();
    m_data.reserve(size);
    return kOk;
}

uint8_t FlashProgrammer::transferData(uint8_t sequence, const uint8_t* data, std::size_t size) {
    if (m_step != Step::Transfer)
        return nrc::kRequestSequenceError;
    if (sequence == uint8_t(m_sequence - 1) && !m_data.empty())
        return kOk; // a repeated request whose answer was lost: already stored
    if (sequence != m_sequence)
        return nrc::kWrongBlockSequenceCounter;
    if (size > m_size - m_data.size()) {
        m_step = Step::Idle;
        m_event = "more data than announced";
        return nrc::kTransferDataSuspended;
    }
    m_data.insert(m_data.end(), data, data + size);
    if (m_corrupt && m_id != blockid::kFlashDriver && m_pieces == 0 && size > 0)
        m_data.front() ^= 0x01;
    ++m_sequence;
    ++m_pieces;
    return kOk;
}

uint8_t FlashProgrammer::transferExit() {
    if (m_step != Step::Transfer)
        return nrc::kRequestSequenceError;
    if (m_compressed ? m_data.empty() : m_data.size() != m_size) {
        m_step = Step::Idle;
        m_event = "download ended after " + std::to_string(m_data.size()) + " of " + std::to_string(m_size) +
                  " bytes";
        return nrc::kGeneralProgrammingFailure;
    }
    m_step = Step::Exited;
    return kOk;
}

uint8_t FlashProgrammer::checkMemory(uint32_t crc, uint8_t& status) {
    if (m_step != Step::Exited)
        return nrc::kRequestSequenceError;
    m_step = Step::Idle;
    status = 1;
    if (crc32Of(m_data.data(), m_data.size()) != crc) {
        m_event = "CRC-32 of the downloaded data differs";
        return kOk;
    }
    if (commit(m_id, m_data)) {
        status = 0;
        m_event =
            std::string(blockid::name(m_id)) + ": " + std::to_string(m_data.size()) + " bytes programmed";
    }
    m_data.clear();
    m_data.shrink_to_fit();
    return kOk;
}

bool FlashProgrammer::commit(uint8_t id, const std::vector<uint8_t>& data) {
    if (id == blockid::kFlashDriver) {
        m_driverLoaded = true;
        return true;
    }
    if (id == blockid::kDspCpar || id == blockid::kKpCpar) {
        const bool kp = id == blockid::kKpCpar;
        const std::string why = checkBlockImage(data, kp ? m_blocks.kpBodySize() : m_blocks.dspBodySize());
        if (!why.empty()) {
            m_event = std::string(blockid::name(id)) + " refused: " + why;
            return false;
        }
        kp ? m_blocks.replaceKp(data) : m_blocks.replaceDsp(data);
        m_kpProgrammed |= kp;
    } else {
        m_stored[id] = data;
        if (auto line = parseFirmwareLine(data))
            m_firmware.push_back(*line);
        m_firmwareProgrammed = true;
    }
    m_erased.reset();
    m_programmed = true;
    return true;
}

void FlashProgrammer::endSession() {
    m_driverLoaded = false;
    m_erased.reset();
    m_step = Step::Idle;
    m_data.clear();
}

std::vector<FirmwareLine> FlashProgrammer::takeFirmware() {
    m_firmwareProgrammed = false;
    return std::exchange(m_firmware, {});
}

} // namespace trvsim
