#include "simulator/can/diagserver.h"

#include "simulator/can/diagcodes.h"
#include "simulator/simconfig.h"

#include "seedkey/seedkey.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace trvsim {

namespace {
constexpr uint16_t kDidActiveSession = 0xF186, kDidVersions = 0xFD03, kDidGlobalVersion = 0xFD15;
constexpr uint16_t kDidVariant = 0xFD18, kDidArticle = 0xF187, kDidSerial = 0xF18C;
constexpr uint16_t kDidHardware = 0xF193, kDidIlluArticle = 0xF1A0, kDidIlluHardware = 0xF1A2;
constexpr uint16_t kDidIlluSerial = 0xF1A3, kDidFingerprint = 0xF15A;
constexpr uint16_t kDidTemperature = 0x0701, kDidMeasurements = 0x0702, kDidRunMode = 0x0703;
constexpr uint16_t kRoutinePreconditions = 0x0203, kRoutineErase = 0xFF00, kRoutineCheckMemory = 0x0202;
constexpr int kAllowedWrongKeys = 3;

// The number at the end of a hardware version text ("MB03" -> 3), 0..255.
uint8_t versionNumber(const std::string& text) {
    std::size_t i = text.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(text[i - 1])))
        --i;
    unsigned long v = 0;
    for (std::size_t k = i; k < text.size() && v <= 255; ++k)
        v = v * 10 + static_cast<unsigned long>(text[k] - '0');
    return static_cast<uint8_t>(std::min<unsigned long>(v, 255));
}

void appendBig(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void appendFloat(std::vector<uint8_t>& out, float f) {
    uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    appendBig(out, bits, 4);
}
uint64_t bigNumber(const uint8_t* p, std::size_t n) {
    uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}
std::vector<uint8_t> textBytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}
} // namespace

DiagIdentity diagIdentity(const SimConfig& config) {
    const SensorIdentity& id = config.identity;
    DiagIdentity d;
    const std::array<uint8_t, 3> fw{id.version.major, id.version.minor, id.version.patch};
    d.versions = {{{1, 0, 3}, {1, 1, 0}, fw, fw, {1, 2, 0}, fw}};
    d.globalVersion = fw;
    d.variant = variantName(id.variant);
    const std::string model = modelName(id.model);
    d.articleNumber = id.articleNumber.compare(0, model.size(), model) == 0 ? id.articleNumber
                                                                            : model + "-" + id.articleNumber;
    d.serialNumber = id.serialNumber;
    d.illuArticleNumber = id.illuminationArticleNumber;
    d.illuSerialNumber = id.illuminationSerialNumber;
    d.mainboardVersion = versionNumber(id.mainboardVersion);
    d.frontendVersion = versionNumber(id.frontendVersion);
    d.illuVersion = versionNumber(id.illuminationVersion);
    return d;
}

DiagServer::DiagServer(ParameterBlocks& blocks, DiagIdentity identity, DiagServerSettings settings,
                       std::function<SensorStatus()> status)
    : m_blocks(blocks), m_programmer(blocks, settings.zeroSeed || settings.bootLoader),
      m_identity(std::move(identity)), m_settings(settings), m_status(std::move(status)) {
    m_programmer.corruptDownloads(m_settings.flashFault.kind == FlashFault::Kind::Crc);
    if (m_settings.bootLoader)
        m_session = Session::Programming;
}

std::optional<std::vector<uint8_t>> DiagServer::handle(const std::vector<uint8_t>& request, bool functional,
                                                       SimClock::time_point now) {
    if (request.empty())
        return std::nullopt;
    m_lastRequest = now;
    Reply reply = dispatch(request, now);
    if (reply.silent)
        return std::nullopt;
    if (reply.code != 0) {
        // Functionally addressed requests get no "not supported" or "out of range" answers.
        static constexpr uint8_t kQuietForFunctional[] = {
            nrc::kServiceNotSupported, nrc::kSubFunctionNotSupported, nrc::kRequestOutOfRange, 0x7E,
            nrc::kServiceNotSupportedInSession};
        if (functional && std::find(std::begin(kQuietForFunctional), std::end(kQuietForFunctional),
                                    reply.code) != std::end(kQuietForFunctional))
            return std::nullopt;
        return std::vector<uint8_t>{sid::kNegativeResponse, request[0], reply.code};
    }
    if (reply.suppress)
        return std::nullopt;
    return std::move(reply.bytes);
}

void DiagServer::tick(SimClock::time_point now) {
    if (m_session != Session::Default && !m_settings.bootLoader && now - m_lastRequest > kSessionTimeout)
        enterSession(Session::Default);
}

void DiagServer::enterSession(Session session) {
    if (m_settings.bootLoader)
        session = Session::Programming; // the boot loader knows no other session
    if (session == m_session)
        return;
    if (m_session == Session::Programming) {
        m_programmer.endSession();
        if (m_programmer.anythingProgrammed() && m_restart == Restart::None)
            m_restart = Restart::ProgrammingDone;
    }
    m_session = session;
    m_unlocked = false;
    m_seedLevel = 0;
}

void DiagServer::log(const std::string& line) const {
    if (m_settings.log)
        m_settings.log(1, "diagnosis: " + line);
}

DiagServer::RestartOutcome DiagServer::restart() {
    RestartOutcome out;
    out.kpParametersChanged = m_programmer.kpParametersProgrammed();
    out.parametersChanged = m_programmer.anythingProgrammed();
    const bool firmware = m_programmer.firmwareProgrammed();
    for (const FirmwareLine& line : m_programmer.takeFirmware()) {
        static const std::pair<const char*, int> kSlots[] = {{"CPLD", 0}, {"DK", 2}, {"DSP", 3}, {"KP", 5}};
        for (const auto& [name, slot] : kSlots)
            if (line.block == name)
                m_identity.versions[static_cast<std::size_t>(slot)] = line.version;
        if (line.block == "DSP")
            m_identity.globalVersion = line.version;
        if (!line.variant.empty())
            m_identity.variant = line.variant;
    }
    m_programmer.clearProgrammed();
    m_programmer.endSession();
    if (m_settings.bootLoader && firmware) {
        m_settings.bootLoader = false;
        out.leftBootLoader = true;
    }
    m_session = m_settings.bootLoader ? Session::Programming : Session::Default;
    m_unlocked = false;
    m_seedLevel = 0;
    m_restart = Restart::None;
    return out;
}

DiagServer::Reply DiagServer::dispatch(const std::vector<uint8_t>& r, SimClock::time_point now) {
    const std::size_t n = r.size();
    const bool nonDefault = m_session != Session::Default;
    const bool suppress = n >= 2 && (r[1] & 0x80);
    switch (r[0]) {
    case sid::kSessionControl:
        return sessionControl(r);
    case sid::kEcuReset:
        return ecuReset(r);
    case sid::kSecurityAccess:
        return nonDefault ? securityAccess(r, now) : negative(nrc::kServiceNotSupportedInSession);
    case sid::kTesterPresent:
        if (n != 2)
            return negative(nrc::kIncorrectLength);
        if ((r[1] & 0x7F) != 0)
            return negative(nrc::kSubFunctionNotSupported);
        return Reply{{0x7E, 0x00}, 0, suppress, false};
    case sid::kControlDtcSetting:
        if (!nonDefault)
            return negative(nrc::kServiceNotSupportedInSession);
        if (n < 2)
            return negative(nrc::kIncorrectLength);
        if ((r[1] & 0x7F) != 1 && (r[1] & 0x7F) != 2)
            return negative(nrc::kSubFunctionNotSupported);
        return Reply{{0xC5, uint8_t(r[1] & 0x7F)}, 0, suppress, false};
    case sid::kCommunicationControl:
        if (!nonDefault)
            return negative(nrc::kServiceNotSupportedInSession);
        if (n != 3)
            return negative(nrc::kIncorrectLength);
        if ((r[1] & 0x7F) > 3)
            return negative(nrc::kSubFunctionNotSupported);
        return Reply{{0x68, uint8_t(r[1] & 0x7F)}, 0, suppress, false};
    case sid::kRoutineControl:
        return nonDefault ? routineControl(r) : negative(nrc::kServiceNotSupportedInSession);
    case sid::kRequestDownload:
        return requestDownload(r);
    case sid::kTransferData: {
        if (const uint8_t code = programmingAllowed())
            return negative(code);
        if (n < 2)
            return negative(nrc::kIncorrectLength);
        if (const FlashFault& fault = m_settings.flashFault;
            (fault.kind == FlashFault::Kind::Silent || fault.kind == FlashFault::Kind::Reset) &&
            m_programmer.downloadingApplication() && m_programmer.piecesReceived() + 1 == fault.piece) {
            log("fault: " + std::string(fault.kind == FlashFault::Kind::Silent ? "silent" : "restart") +
                " at TransferData " + std::to_string(fault.piece));
            m_restart = fault.kind == FlashFault::Kind::Silent ? Restart::Hang : Restart::Reset;
            return Reply{{}, 0, false, true};
        }
        if (const uint8_t code = m_programmer.transferData(r[1], r.data() + 2, n - 2))
            return negative(code);
        return Reply{{0x76, r[1]}, 0, false, false};
    }
    case sid::kTransferExit: {
        if (const uint8_t code = programmingAllowed())
            return negative(code);
        if (n != 1)
            return negative(nrc::kIncorrectLength);
        if (const uint8_t code = m_programmer.transferExit()) {
            log(m_programmer.lastEvent());
            return negative(code);
        }
        return Reply{{0x77}, 0, false, false};
    }
    case sid::kClearDtc:
        if (n != 4)
            return negative(nrc::kIncorrectLength);
        if (bigNumber(r.data() + 1, 3) != 0xFFFFFF)
            return negative(nrc::kRequestOutOfRange);
        m_errors.clear();
        return Reply{{0x54}, 0, false, false};
    case sid::kReadDtc:
        return readDtc(r);
    case sid::kReadDataById:
        return readDataById(r);
    case sid::kReadMemory:
        return nonDefault ? readMemory(r) : negative(nrc::kServiceNotSupportedInSession);
    case sid::kWriteDataById:
        return writeDataById(r);
    default:
        return negative(nrc::kServiceNotSupported);
    }
}

DiagServer::Reply DiagServer::sessionControl(const std::vector<uint8_t>& r) {
    if (r.size() != 2)
        return negative(nrc::kIncorrectLength);
    const uint8_t sub = r[1] & 0x7F;
    if (sub < 1 || sub > 3)
        return negative(nrc::kSubFunctionNotSupported);
    // Programming is entered from the extended session only.
    if (sub == uint8_t(Session::Programming) && m_session == Session::Default)
        return negative(nrc::kConditionsNotCorrect);
    enterSession(static_cast<Session>(sub));
    // P2 50 ms, P2* 5000 ms (in 10 ms).
    return Reply{{0x50, sub, 0x00, 0x32, 0x01, 0xF4}, 0, (r[1] & 0x80) != 0, false};
}

DiagServer::Reply DiagServer::ecuReset(const std::vector<uint8_t>& r) {
    if (r.size() != 2)
        return negative(nrc::kIncorrectLength);
    const uint8_t sub = r[1] & 0x7F;
    if (sub < 1 || sub > 3)
        return negative(nrc::kSubFunctionNotSupported);
    m_restart = Restart::Reset;
    return Reply{{0x51, sub}, 0, (r[1] & 0x80) != 0, false};
}

DiagServer::Reply DiagServer::securityAccess(const std::vector<uint8_t>& r, SimClock::time_point now) {
    if (r.size() < 2)
        return negative(nrc::kIncorrectLength);
    const uint8_t level = r[1] & 0x7F;
    if (level != 0x01 && level != 0x02 && level != 0x11 && level != 0x12)
        return negative(nrc::kSubFunctionNotSupported);
    if (level & 1) { // seed request
        if (r.size() != 2)
            return negative(nrc::kIncorrectLength);
        if (now < m_lockedUntil)
            return negative(nrc::kTimeDelayNotExpired);
        uint32_t seed = 0;
        if (m_settings.zeroSeed || m_unlocked) {
            m_unlocked = true;
        } else {
            do { // a seed the tester cannot guess, never 0
                m_seedState = m_seedState * 1664525u + 1013904223u;
                seed = m_seedState ^ (m_seedState >> 13);
            } while (seed == 0);
            m_seedLevel = level;
            m_seed = seed;
        }
        std::vector<uint8_t> answer{0x67, level};
        appendBig(answer, seed, 4);
        return Reply{std::move(answer), 0, false, false};
    }
    if (r.size() != 6)
        return negative(nrc::kIncorrectLength);
    if (m_seedLevel == 0 || m_seedLevel + 1 != level)
        return negative(nrc::kRequestSequenceError);
    m_seedLevel = 0;
    if (static_cast<uint32_t>(bigNumber(r.data() + 2, 4)) != trvaxx::securityKeyFromSeed(m_seed)) {
        if (++m_wrongKeys >= kAllowedWrongKeys) {
            m_wrongKeys = 0;
            m_lockedUntil = now + m_settings.lockout;
            log("three wrong keys: security access locked for a while");
            return negative(nrc::kExceededAttempts);
        }
        return negative(nrc::kInvalidKey);
    }
    m_wrongKeys = 0;
    m_unlocked = true;
    return Reply{{0x67, level}, 0, false, false};
}

uint8_t DiagServer::programmingAllowed() const {
    if (m_session != Session::Programming)
        return nrc::kServiceNotSupportedInSession;
    if (!m_unlocked)
        return nrc::kSecurityAccessDenied;
    return 0;
}

DiagServer::Reply DiagServer::routineControl(const std::vector<uint8_t>& r) {
    if (r.size() < 4)
        return negative(nrc::kIncorrectLength);
    if ((r[1] & 0x7F) != 1)
        return negative(nrc::kSubFunctionNotSupported);
    const bool suppress = (r[1] & 0x80) != 0;
    const uint16_t routine = static_cast<uint16_t>(r[2] << 8 | r[3]);
    const std::vector<uint8_t> head{0x71, 0x01, r[2], r[3]};
    switch (routine) {
    case kRoutinePreconditions:
        if (r.size() != 4)
            return negative(nrc::kIncorrectLength);
        return Reply{head, 0, suppress, false};
    case kRoutineErase:
    case kRoutineCheckMemory: {
        if (m_session != Session::Programming)
            return negative(nrc::kConditionsNotCorrect);
        if (!m_unlocked)
            return negative(nrc::kSecurityAccessDenied);
        std::vector<uint8_t> answer = head;
        uint8_t status = 0;
        if (routine == kRoutineErase) {
            if (r.size() != 6)
                return negative(nrc::kIncorrectLength);
            if (const uint8_t code = m_programmer.erase(r[5]))
                return negative(code);
        } else {
            if (r.size() != 8)
                return negative(nrc::kIncorrectLength);
            if (const uint8_t code =
                    m_programmer.checkMemory(static_cast<uint32_t>(bigNumber(r.data() + 4, 4)), status))
                return negative(code);
            log(m_programmer.lastEvent());
            // A new KP block ends the parameter write: the sensor restarts by itself.
            if (status == 0 && m_programmer.kpParametersProgrammed())
                m_restart = Restart::ProgrammingDone;
        }
        answer.push_back(status);
        return Reply{std::move(answer), 0, suppress, false};
    }
    default:
        return negative(nrc::kRequestOutOfRange);
    }
}

DiagServer::Reply DiagServer::requestDownload(const std::vector<uint8_t>& r) {
    if (const uint8_t code = programmingAllowed())
        return negative(code);
    if (r.size() < 3)
        return negative(nrc::kIncorrectLength);
    const std::size_t sizeBytes = r[2] >> 4, addressBytes = r[2] & 0x0F;
    if (sizeBytes < 1 || sizeBytes > 4 || addressBytes < 1 || addressBytes > 4)
        return negative(nrc::kRequestOutOfRange);
    if (r.size() != 3 + sizeBytes + addressBytes)
        return negative(nrc::kIncorrectLength);
    const uint64_t address = bigNumber(r.data() + 3, addressBytes);
    const uint64_t size = bigNumber(r.data() + 3 + addressBytes, sizeBytes);
    if (address > 0xFF)
        return negative(nrc::kRequestOutOfRange);
    if (const uint8_t code = m_programmer.requestDownload(static_cast<uint8_t>(address),
                                                          static_cast<uint32_t>(size), r[1] != 0))
        return negative(code);
    // Blocks of up to 4095 bytes per TransferData request (service byte and counter included).
    return Reply{{0x74, 0x20, 0x0F, 0xFF}, 0, false, false};
}

DiagServer::Reply DiagServer::readDtc(const std::vector<uint8_t>& r) {
    if (r.size() < 2)
        return negative(nrc::kIncorrectLength);
    if ((r[1] & 0x7F) != 0x02)
        return negative(nrc::kSubFunctionNotSupported);
    if (r.size() != 3)
        return negative(nrc::kIncorrectLength);
    std::vector<uint8_t> answer{0x59, 0x02, 0xFF};
    for (const TroubleCode& c : m_errors.matching(r[2])) {
        if (answer.size() + 4 > 4095)
            break;
        appendBig(answer, c.code, 3);
        answer.push_back(c.status);
    }
    return Reply{std::move(answer), 0, (r[1] & 0x80) != 0, false};
}

std::optional<std::vector<uint8_t>> DiagServer::dataIdentifier(uint16_t did, bool& silent, uint8_t& code) {
    const DiagIdentity& id = m_identity;
    auto versions = [](std::initializer_list<std::array<uint8_t, 3>> list) {
        std::vector<uint8_t> out;
        for (const auto& v : list)
            out.insert(out.end(), v.begin(), v.end());
        return out;
    };
    switch (did) {
    case kDidActiveSession:
        silent = m_settings.bootLoader && !m_settings.bootLoaderSession; // an early boot loader
        return std::vector<uint8_t>{static_cast<uint8_t>(m_session)};
    case kDidVersions:
        return versions(
            {id.versions[0], id.versions[1], id.versions[2], id.versions[3], id.versions[4], id.versions[5]});
    case kDidGlobalVersion:
        return versions({id.globalVersion});
    case kDidVariant: {
        std::string v = id.variant.substr(0, 3);
        v.resize(3, ' ');
        return textBytes(v);
    }
    case kDidArticle:
        return textBytes(id.articleNumber);
    case kDidSerial:
        return textBytes(id.serialNumber);
    case kDidHardware:
        return std::vector<uint8_t>{id.mainboardVersion, id.frontendVersion};
    case kDidIlluArticle:
        return textBytes(id.illuArticleNumber);
    case kDidIlluHardware:
        return std::vector<uint8_t>{id.illuVersion};
    case kDidIlluSerial:
        return textBytes(id.illuSerialNumber);
    case kDidFingerprint:
        return std::vector<uint8_t>(m_fingerprint.begin(), m_fingerprint.end());
    case kDidTemperature:
    case kDidMeasurements:
    case kDidRunMode: {
        if (m_settings.bootLoader || !m_status) { // no application, no measurements
            code = nrc::kConditionsNotCorrect;
            return std::vector<uint8_t>();
        }
        const SensorStatus s = m_status();
        std::vector<uint8_t> out;
        if (did == kDidTemperature) {
            appendFloat(out, s.mainTemperature);
        } else if (did == kDidMeasurements) {
            appendFloat(out, s.illuTemperature);
            appendFloat(out, s.supplyVoltage);
            appendFloat(out, static_cast<float>(s.frameCounter));
        } else {
            out.push_back(s.runMode);
        }
        return out;
    }
    default:
        return std::nullopt;
    }
}

DiagServer::Reply DiagServer::readDataById(const std::vector<uint8_t>& r) {
    if (r.size() < 3 || (r.size() - 1) % 2 != 0)
        return negative(nrc::kIncorrectLength);
    std::vector<uint8_t> answer{0x62};
    for (std::size_t i = 1; i + 1 < r.size(); i += 2) {
        const uint16_t did = static_cast<uint16_t>(r[i] << 8 | r[i + 1]);
        bool silent = false;
        uint8_t code = 0;
        const auto data = dataIdentifier(did, silent, code);
        if (silent)
            return Reply{{}, 0, false, true};
        if (!data)
            return negative(nrc::kRequestOutOfRange);
        if (code)
            return negative(code);
        answer.push_back(r[i]);
        answer.push_back(r[i + 1]);
        answer.insert(answer.end(), data->begin(), data->end());
        if (answer.size() > 4095)
            return negative(nrc::kResponseTooLong);
    }
    return Reply{std::move(answer), 0, false, false};
}

DiagServer::Reply DiagServer::readMemory(const std::vector<uint8_t>& r) {
    if (r.size() < 2)
        return negative(nrc::kIncorrectLength);
    const std::size_t sizeBytes = r[1] >> 4, addressBytes = r[1] & 0x0F;
    if (sizeBytes < 1 || sizeBytes > 4 || addressBytes < 1 || addressBytes > 4)
        return negative(nrc::kRequestOutOfRange);
    if (r.size() != 2 + sizeBytes + addressBytes)
        return negative(nrc::kIncorrectLength);
    if (m_settings.bootLoader)
        return negative(nrc::kConditionsNotCorrect); // the parameters live in the application
    const uint64_t address = bigNumber(r.data() + 2, addressBytes);
    const uint64_t size = bigNumber(r.data() + 2 + addressBytes, sizeBytes);
    std::vector<uint8_t> answer{0x63};
    std::vector<uint8_t> data;
    if (size > 4094 || !m_blocks.read(address, static_cast<std::size_t>(size), data))
        return negative(nrc::kRequestOutOfRange);
    answer.insert(answer.end(), data.begin(), data.end());
    return Reply{std::move(answer), 0, false, false};
}

DiagServer::Reply DiagServer::writeDataById(const std::vector<uint8_t>& r) {
    if (r.size() < 4)
        return negative(nrc::kIncorrectLength);
    const uint16_t did = static_cast<uint16_t>(r[1] << 8 | r[2]);
    if (did != kDidFingerprint)
        return negative(nrc::kRequestOutOfRange);
    if (const uint8_t code = programmingAllowed())
        return negative(code == nrc::kServiceNotSupportedInSession ? nrc::kConditionsNotCorrect : code);
    if (r.size() != 3 + m_fingerprint.size())
        return negative(nrc::kIncorrectLength);
    std::copy(r.begin() + 3, r.end(), m_fingerprint.begin());
    return Reply{{0x6E, r[1], r[2]}, 0, false, false};
}

} // namespace trvsim
