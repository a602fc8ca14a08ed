#pragma once
// FirmwareUpdate programs flash blocks into the sensor over diagnosis: the whole update of a flash
// container (header checks, block loop with one retry, reset) and the parameter download that the
// parameter write uses. Every block goes through one fixed sequence: programming session,
// security access, fingerprint, flash driver, erase, download in TransferData pieces, CRC check.
// Runs on the caller's thread (the firmware-update thread or the GUI thread); long waits go
// through the sleep it is given, which keeps the caller's events served.

#include "can-communication/flashcontainer.h"

#include <QDateTime>
#include <QString>

#include <functional>

class DiagPC;
struct SensorIdentity;

class FirmwareUpdate {
public:
    static constexpr uint8_t kDriverBlockId = 0x30;
    static constexpr uint16_t kActiveSessionId = 0xF186;
    static constexpr uint16_t kFingerprintId = 0xF15A;
    static constexpr int kSessionReadAttempts = 20;
    static constexpr int kRetryWaitMs = 15000;
    static constexpr int kRebootWaitMs = 10000;
    static constexpr const char* kDriverResource = ":/paramdescription/flash_drv.fcr";

    struct Hooks {
        std::function<void(int totelBytes, int bytesWritten)> progress;
        std::function<void(int ms)> sleep; // default: the host's event-friendly, scaled sleep
        std::function<QDateTime()> now;    // the fingerprint's time; default: the local time
    };

    FirmwareUpdate(DiagPC& diag, Hooks hooks);

    // The whole update of the container at `path`; with `checkHeader` the container must fit
    // `sensor`. 0 or a code (FlashResult, DiagResult).
    int firmwareupdate(const QString& path, bool checkHeader, const SensorIdentity& sensor);
    // Programs `applFile` as the block `blockName` with the raw flash driver `driverFile`.
    int parameterDownload(const QString& blockName, const QString& applFile, const QString& driverFile);

    // The fixed sequence on the current application and driver blocks.
    int programBlock();
    // RequestDownload, TransferData pieces, RequestTransferExit, CRC check.
    int download(const FlashBlock& block, uint8_t id);

    // The nine fingerprint bytes for a local time.
    static QByteArray fingerprint(const QDateTime& when);

    void setApplication(const FlashBlock& block) { application = block; }
    void setDriver(const FlashBlock& block) { driver = block; }
    // Whether the last security access unlocked the sensor.
    bool isUnlocked() const { return unlocked; }

private:
    // The driver block from the container resource; 0 or FLASH_FILE_ERROR.
    int loadDriverResource();
    // Reads one raw file into a block; 0 or FLASH_FILE_ERROR.
    static int readRawBlock(const QString& path, const QString& name, uint8_t id, FlashBlock& block);
    int readActiveSession(int& session);

    DiagPC& diag;
    Hooks hooks;
    FlashBlock application;
    FlashBlock driver;
    bool unlocked = false;
};
