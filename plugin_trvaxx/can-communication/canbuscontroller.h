#pragma once
// CanBusController: the CAN side of one sensor connection. It finds a CAN interface that opens at
// the sensor's bit rate, builds the diagnostic client on it, reads the sensor's identity and
// state, chooses the description files of the sensor's firmware and reads, clears the error
// memory and reboots the sensor. Several controllers may live at once (a connection's and a
// discovery check's); they share an open device through CanDeviceSession.
// GUI thread (or the firmware-update thread for diagnosis); the bus is read on the proxy's thread.

#include "can-communication/ReadData_with_diagnosis.h"
#include "can-communication/errormemory.h"
#include "common/sensoraddressmobilecan.h"
#include "result/resultdata_trvaxx.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>

class CANBusDevice;
class CanDeviceSession;
class DiagPC;
class ParamTransfer;
class ProxyPort;
class ReceiverBF;
class ReceiverLG;
class ReceiverOD;
class ResultReceiver;

class CanBusController : public QObject {
    Q_OBJECT
public:
    // Result codes of connectDevice and testInterface (0 = success).
    enum ResultCode {
        NoInterface = 130004,
        InterfaceUnreachable = 130005,
        VerificationFailed = 130006,
        InitFailed = 130007,
        UnsupportedBitRate = 130008,
        InterfaceBusy = 130019,
    };
    static constexpr int kInterfaceTypes[3] = {1, 2, 3}; // CANFox, Vector, PEAK
    // The function-result receivers: object detection, basic functions, line guidance.
    enum class ResultFunction { OD, BF, LG };

    // Loads the CAN interface plug-ins (they stay loaded until the last controller is gone).
    explicit CanBusController(QObject* parent = nullptr);
    // Stops the receivers, drops the diagnostic stack and the device, unloads the plug-ins.
    ~CanBusController() override;

    // Which interface devices open: a URL as CANBusDevice::CAN_SetInterface takes it; empty for
    // the device's default.
    void setInterfaceUrl(const QByteArray& url) { interfaceUrl = url; }
    // The trace file (pcap) of every frame sent and received; empty for the configured one
    // (TRVAXX_CAN_TRACE, then the setting "plugin_trvaxx/can_trace").
    void setTracePath(const QString& path) { tracePath = path; }

    // Opens and closes the interface of `type` at the address's bit rate; never touches a device
    // that another controller holds open.
    int testInterface(int type, const SensorAdrMobileCanSP_t& address);
    // Tests the interface types 1, 2, 3 in order and opens the first that works; with `verify`
    // the sensor must answer the article-number read. 0, or 130004 when no interface exists (else
    // the reason the existing one did not open: 130005, 130007, 130008, 130019), 130006.
    int connectDevice(const SensorAdrMobileCanSP_t& address, bool verify);
    void disconnectDevice();
    bool isConnected() const { return diagPC != nullptr; }
    SensorAdrMobileCanSP_t sensorAddress() const { return address; }

    QString readSerialNumber();
    // Reads every identity value; the camera version and variant follow from it. 0 or 1.
    int readIdentity();
    // Reads the state values; 0, or the DiagResult of the read that failed (1 when not connected).
    int readStateData();
    const SensorIdentity& identity() const { return sensorIdentity; }
    const SensorStateData& stateData() const { return state; }

    // Error memory (texts from the diagnostic description), its clearing and the sensor's reboot;
    // each returns a DiagResult, DIAG_TRANSMIT_ERROR when not connected.
    int readErrorMemory(QList<DtcEntry>& entries);
    int clearErrorMemory();
    int rebootSensor();

    // Camera version ("3.4.1" as read; "3.4" works as well) and variant ("DI", "OD", "LG").
    QString cameraVersion() const { return cameraVersionText; }
    QString variant() const { return variantText; }
    void setCameraVersion(const QString& version) { cameraVersionText = version; }
    void setVariant(const QString& value) { variantText = value; }

    QString getCDDFilename() const;
    QString getDspKvdFilename() const;
    QString getKpKvdFilename() const;
    static QString cddFilename(const QString& variant, const QString& cameraVersion);
    static QString kvdFilename(const char* block, const QString& variant, const QString& cameraVersion);

    // part0 + part1 x 0.01 + part2 x 0.0001 ...: "3.2" gives 3.02.
    float cameraVersionNumber() const;
    static float versionNumber(const QString& version);
    // Result-frame layout generation: below 3.02 -> 1, below 3.04 -> 2, else 3; or the one set
    // with setReceiverGeneration (1..3; 0 follows the version again), for a bus without identity.
    int receiverGeneration() const;
    void setReceiverGeneration(int generation) { generationOverride = generation; }
    static int generationOf(float versionNumber);

    // "a.b.c.d" with four decimal parts of 0..255 into four bytes; false when the text is not one.
    static bool parseIpv4(const QString& text, uint8_t (&bytes)[4]);

    // Parameter transfer (ParamTransfer, ParamTable): reads both parameter blocks and their
    // descriptions; the value of a host parameter id (block members, and ids 3-9 and 115-140 from
    // the identity and state read before); a change of one member in the block image; and the
    // write of both images to the sensor, which restarts by itself.
    bool ReadAllParameters();
    QVariant readData(int valueId);
    bool writeData(int valueId, const QVariant& value);
    // Tells the user to wait, stops the receivers, downloads both blocks, waits 15 s (scaled) for
    // the sensor's restart and restarts the receivers that ran (at once after a failure).
    bool writeAllParameters();
    const ParamTransfer& parameterBlocks() const { return *params; }

    // The function-result receivers running now; starts the given ones.
    QList<ResultFunction> runningReceivers() const;
    void startReceivers(const QList<ResultFunction>& functions);

    // Firmware update from a flash container and the parameter download of the parameter write
    // (FirmwareUpdate); progress through sigBytesWritten. 0 or a code: 130004 without a device,
    // FlashResult, DiagResult.
    int firmwareupdate(const QString& path, bool checkHeader);
    int parameterDownload(const QString& blockName, const QString& applFile, const QString& driverFile);

    // The diagnostic client, for the parameter transfer and the firmware download; null when not
    // connected.
    DiagPC* diagnosis() const { return diagPC.get(); }
    // Log text of a result code.
    static QString resultText(int code);

signals:
    void sigBytesWritten(int totelBytes, int bytesWritten);
    void sigResponseData(QVariant value, int identifier);
    // Function results on CAN, queued from the receivers' threads. Line results leave under both
    // names.
    void receivedNewBFResultData(BasicFunctionsData_TRVAXX_t result);
    void receivedNewLGResultData(DetectedLineData_TRVAXX_t result);
    void receivedNewObjectResultData(DetectedObjectData_TRVAXX_t result);
    void receivedNewLineResultData(DetectedLineData_TRVAXX_t result);
    void receivedGlobalInformationMessage(unsigned char globalInformation);

public slots:
    // Each (re)starts its receiver on the connected sensor's protocol, address and generation;
    // without a sensor address it logs and does nothing.
    void startReceivingBFData();
    void startReceivingLGData();
    void startReceivingObjectData();
    void stopReceivingObjectData();
    void stopReceivingBFData();
    void stopReceivingLGData();

private:
    int mapInitStatus(uint16_t status) const;
    // Stops the function-result receivers (BF, OD, LG).
    void stopReceivers();
    // False (with the log line) without a sensor address.
    bool canStartReceiver(const char* slot) const;
    void operate(ResultReceiver& receiver) const;
    void dropDiagnosticStack();

    QByteArray interfaceUrl;
    QString tracePath;
    SensorAdrMobileCanSP_t address;
    std::shared_ptr<CanDeviceSession> session;
    std::unique_ptr<ProxyPort> port;
    std::unique_ptr<DiagPC> diagPC;
    std::unique_ptr<ReadDataWithDiagnosis> dataReader;
    std::unique_ptr<ParamTransfer> params;
    std::unique_ptr<ErrorMemoryReader> errorMemory;
    SensorIdentity sensorIdentity;
    SensorStateData state;
    QString cameraVersionText;
    QString variantText;
    int generationOverride = 0;
    std::unique_ptr<ReceiverOD> receiverOD;
    std::unique_ptr<ReceiverBF> receiverBF;
    std::unique_ptr<ReceiverLG> receiverLG;
    // Download buffers and the flash-driver values belong to the firmware download.
};
