#include "can-communication/firmwareupdate.h"

#include "can-communication/ReadData_with_diagnosis.h"
#include "can-communication/canlogging.h"
#include "can-communication/diagpc.h"
#include "common/commonutilities.h"
#include "common/logentry.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

constexpr uint8_t kProgrammingSession = 2, kExtendedSession = 3;
constexpr uint8_t kHardReset = 1;

uint8_t bcd(int value) {
    return static_cast<uint8_t>((value / 10 % 10) << 4 | value % 10);
}

void logCritical(const QString& line) {
    qCCritical(lcCan).noquote() << line + LOG_LOC;
}

} // namespace

// Q_INIT_RESOURCE must be used outside any namespace.
static void ensureFlashDrivers() {
    static const bool done = [] {
        Q_INIT_RESOURCE(flashdrivers);
        return true;
    }();
    Q_UNUSED(done);
}

FirmwareUpdate::FirmwareUpdate(DiagPC& diagnosis, Hooks value) : diag(diagnosis), hooks(std::move(value)) {
    ensureFlashDrivers(); // the parameter write names ":/paramdescription/FlsDrvInt.bin"
    if (!hooks.progress)
        hooks.progress = [](int, int) {};
    if (!hooks.sleep)
        hooks.sleep = &CommonUtilities::sleepQtFriendly;
    if (!hooks.now)
        hooks.now = [] { return QDateTime::currentDateTime(); };
}

QByteArray FirmwareUpdate::fingerprint(const QDateTime& when) {
    const QDate date = when.date();
    const int hour = when.time().hour();
    const uint8_t bytes[] = {bcd(date.year() % 100),
                             bcd(date.month()),
                             bcd(date.day()),
                             0x26,
                             0x05,
                             0x77,
                             bcd(hour > 12 ? hour - 12 : hour),
                             bcd(when.time().minute()),
                             bcd(date.year() / 100)};
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

int FirmwareUpdate::loadDriverResource() {
    QByteArray bytes;
    QString why;
    if (FlashContainer::readFile(QString::fromLatin1(kDriverResource), bytes, why) != 0) {
        logCritical(QStringLiteral("could not open flash driver"));
        return FLASH_FILE_ERROR;
    }
    FlashBlock block;
    if (FlashBlock::parse(bytes, 0, block, why) < 0) {
        qCDebug(lcCan).noquote() << why;
        logCritical(QStringLiteral("could not read data from flash driver container"));
        return FLASH_FILE_ERROR;
    }
    qCDebug(lcCan).noquote() << "read_flash_container: fcr_hdr->size = " << block.uncompressedSize
                             << "| bin_buf_size = " << FlashBlock::kMaxSize;
    if (block.tooLarge()) {
        logCritical(QStringLiteral("bin_buf too small"));
        return FLASH_FILE_ERROR;
    }
    driver = block;
    return 0;
}

int FirmwareUpdate::firmwareupdate(const QString& path, bool checkHeader, const SensorIdentity& sensor) {
    QElapsedTimer timer;
    timer.start();
    if (const int code = loadDriverResource())
        return code;

    QByteArray bytes;
    QString why;
    if (FlashContainer::readFile(path, bytes, why) != 0) {
        qCDebug(lcCan).noquote() << why;
        logCritical(QStringLiteral("could not open flash container"));
        return FLASH_FILE_ERROR;
    }
    FlashContainer container;
    if (container.parseHeader(bytes) != 0) {
        logCritical(QStringLiteral("Can't read header of flash container"));
        return FLASH_FILE_ERROR;
    }
    if (checkHeader) {
        if (const int code =
                container.checkHeader(sensor.articleNumber, sensor.mainboardVersionNumber,
                                      sensor.frontendVersionNumber, sensor.illuHardwareVersionNumber))
            return code;
    }
    // Every block is checked against the file before the first one is sent.
    if (container.parseBlocks(why) != 0) {
        logCritical(QStringLiteral("Flash container is damaged: ") + why);
        return FLASH_FILE_ERROR;
    }

    const int blocks = static_cast<int>(container.blockCount());
    int result = 0;
    for (int index = 0; index < blocks && result == 0; ++index) {
        const FlashBlock& block = container.blocks()[index];
        if (block.tooLarge()) {
            qCDebug(lcCan) << "bin_buf too small :" << block.uncompressedSize << FlashBlock::kMaxSize;
            continue;
        }
        application = block;
        qCDebug(lcCan).noquote() << "Block: " << block.name << "Flashsize: " << block.flashSize
                                 << "Flashsize uncompressed: " << block.uncompressedSize
                                 << "m_block_idx: " << block.id
                                 << "m_FlashBlock.compress_mode:" << block.compressMode
                                 << "m_FlashBlock.crc32: " << block.crc32;
        hooks.progress(blocks, index + 1);
        result = programBlock();
        // Nothing answered twenty session reads: a second try would only wait as long again.
        if (result != 0 && result != FLASH_NO_BOOTLOADER) {
            qCDebug(lcCan).noquote() << "Flash of block " << block.name << " failed with code " << result
                                     << ". Try again.";
            hooks.sleep(kRetryWaitMs);
            result = programBlock();
            if (result != 0)
                logCritical(
                    QStringLiteral("Flash of block %1 failed with code %2").arg(block.name).arg(result));
        }
    }
    application = FlashBlock(); // the container's memory goes with it

    qCDebug(lcCan) << "Exitcode: " << result;
    qCDebug(lcCan) << "Reset camera";
    diag.configure();
    diag.ecuReset(kHardReset);
    qCDebug(lcCan).noquote() << "Duration firmwareupdate : " << timer.elapsed() / 1000 << " seconds";
    hooks.sleep(kRebootWaitMs);
    hooks.progress(100, 100);
    if (result != 0)
        return result;
    qCDebug(lcCan) << "Firmwareupdate finished";
    qCDebug(lcCan).noquote() << "Duration firmwareupdate (with wait for reboot): " << timer.elapsed() / 1000
                             << " seconds";
    return 0;
}

int FirmwareUpdate::readRawBlock(const QString& path, const QString& name, uint8_t id, FlashBlock& block) {
    QByteArray bytes;
    QString why;
    if (FlashContainer::readFile(path, bytes, why) != 0) {
        qCDebug(lcCan).noquote() << why;
        logCritical(QStringLiteral("Unable to open file: ") + path);
        return FLASH_FILE_ERROR;
    }
    if (bytes.size() > static_cast<qsizetype>(FlashBlock::kMaxSize)) {
        logCritical(QStringLiteral("Can't read from File ") + path);
        return FLASH_FILE_ERROR;
    }
    block = FlashBlock::fromData(name, id, bytes);
    return 0;
}

int FirmwareUpdate::parameterDownload(const QString& blockName, const QString& applFile,
                                      const QString& driverFile) {
    const int id = FlashBlock::idOf(blockName);
    if (id < 0) {
        logCritical(QStringLiteral("Unknown block name: ") + blockName);
        return FLASH_FILE_ERROR;
    }
    qCDebug(lcCan).noquote() << "open appl_flash_filename: " << applFile;
    if (const int code = readRawBlock(applFile, blockName, static_cast<uint8_t>(id), application))
        return code;
    qCDebug(lcCan).noquote() << "Open flash driver file file: " << driverFile;
    if (const int code = readRawBlock(driverFile, QStringLiteral("FLASH_DRV"), kDriverBlockId, driver))
        return code;
    const int result = programBlock();
    application = FlashBlock();
    return result;
}

int FirmwareUpdate::readActiveSession(int& session) {
    session = 0;
    int result = 0;
    for (int attempt = 0; attempt < kSessionReadAttempts; ++attempt) {
        QByteArray data;
        int transport = 0;
        result = diag.readDataByIdentifier(kActiveSessionId, data, &transport);
        if (result == 0) {
            session = data.isEmpty() ? 0 : static_cast<uint8_t>(data[0]);
            return 0;
        }
        if (transport != DIAG_TIMEOUT)
            return result;
    }
    // Nothing answers at the address: no sensor, and no sensor stuck in its boot loader either.
    return FLASH_NO_BOOTLOADER;
}

int FirmwareUpdate::programBlock() {
    diag.configure();
    int session = 0;
    if (const int result = readActiveSession(session))
        return result;
    const bool alreadyOpen = session == kProgrammingSession;
    if (!alreadyOpen) {
        if (const int result = diag.diagnosticSessionControl(kExtendedSession))
            return result;
        if (const int result = diag.routineCheckPreconditions())
            return result;
        if (diag.controlDtcSettingOff() != 0)
            qCDebug(lcCan) << "DiagControllDTCSettingALL -> nok but ignored";
        if (diag.communicationControlAll() != 0)
            qCDebug(lcCan) << "DiagCommunicationControllALL -> nok but ignored";
        qCDebug(lcCan) << "Start programming session";
        if (diag.diagnosticSessionControl(kProgrammingSession) != 0)
            qCDebug(lcCan) << "DiagDiagnosticSession failed but try to go ahead";
    }

    unlocked = false;
    bool zeroSeed = false;
    if (const int result = diag.securityAccessProgramming(zeroSeed)) {
        logCritical(QStringLiteral("SeedAndKeyProgramming failed"));
        return result;
    }
    unlocked = true;

    const QByteArray print = fingerprint(hooks.now());
    const int printed = diag.writeDataByIdentifier(
        kFingerprintId, reinterpret_cast<const uint8_t*>(print.constData()), static_cast<int>(print.size()));
    qCDebug(lcCan) << "Write fingerprint:" << diagResultName(printed);

    if (!alreadyOpen && !zeroSeed) {
        qCDebug(lcCan) << "Download flash driver";
        if (const int result = download(driver, kDriverBlockId)) {
            logCritical(QStringLiteral("Flash driver download failed!"));
            return result;
        }
        qCDebug(lcCan) << "Flash driver download was successful";
    }

    if (const int result = diag.routineErase(application.id)) {
        logCritical(QStringLiteral("Erase memory failed"));
        return result;
    }
    const int result = download(application, application.id);
    if (result == 0)
        qCDebug(lcCan) << "Flash application download was successful";
    else
        logCritical(QStringLiteral("Flash application download failed"));
    return result;
}

int FirmwareUpdate::download(const FlashBlock& block, uint8_t id) {
    if (const int result = diag.requestDownload(block.uncompressedSize, id, block.compressMode))
        return result;
    const char* data = block.data();
    uint8_t sequence = 1; // counts modulo 256
    for (uint32_t sent = 0; sent < block.flashSize; ++sequence) {
        const int piece =
            static_cast<int>(std::min<uint32_t>(block.flashSize - sent, DiagPC::kMaxTransferData));
        if (const int result =
                diag.transferData(sequence, reinterpret_cast<const uint8_t*>(data + sent), piece)) {
            logCritical(QStringLiteral("TransferData was not successful -> diagret: %1").arg(result));
            return result;
        }
        sent += static_cast<uint32_t>(piece);
    }
    const int exited = diag.requestTransferExit();
    qCDebug(lcCan) << "RequestTransferExit:" << diagResultName(exited);
    const int result = diag.routineCheckMemory(block.crc32);
    if (result == DIAG_DATA_ERR)
        logCritical(QStringLiteral("***error: CRC32 value is different at target => memory defect\n"));
    return result;
}
