#pragma once
// AutomaticScout_TRVAxx: the automatic search. It listens on its ports (42000 and 42001) for one
// second after announcing itself, builds a sensor address from each sender's identification,
// then checks each address's CAN settings over the bus and drops those that do not reach the same
// sensor. GUI thread; the CAN checks block it one after another (their time is logged).

#include "sdk/sensorscoutautomatic.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <QTimer>

class TRVAxxUDPSocket;

class AutomaticScout_TRVAxx : public SensorScoutAutomatic {
    Q_OBJECT
public:
    static constexpr int SEARCH_MS = 1000;
    // Overrides the ports for a process (tests running side by side): "A,B".
    static constexpr const char* PORTS_VARIABLE = "TRVAXX_DISCOVERY_PORTS";

    // What became of a found address's CAN settings.
    enum CanCheck { CanNone, CanConfirmed, CanDropped, CanUnchecked };

    explicit AutomaticScout_TRVAxx(QObject* parent = nullptr);
    ~AutomaticScout_TRVAxx() override;

    QList<SensorAdrSP_t> getFoundSensors() override { return foundSensors; }
    void stop() override { aborted = true; }
    void startSearch() override;

    // The ports listened on, in order (default 42000, 42001, or PORTS_VARIABLE). Empty keeps them.
    void setPorts(const QList<quint16>& ports);
    QList<quint16> ports() const { return searchPorts; }
    // The listening window. It follows the sensors' sending, so the process's time scale does not
    // shorten it.
    void setSearchMilliseconds(int ms) { searchMs = ms; }
    // CAN interface of the checks (as CanBusController::setInterfaceUrl takes it; empty: the
    // configured one) and whether they run at all (off: found CAN settings stay unchecked).
    void setCanInterfaceUrl(const QByteArray& url) { canInterfaceUrl = url; }
    void setCanValidation(bool on) { canValidation = on; }

    // Per found address, in the order of getFoundSensors().
    QList<CanCheck> canChecks() const { return checks; }
    // CAN buses announced by gateway beacons during the last search, "socketcand://IP:PORT/BUS".
    QStringList getCanInterfaces() const { return canInterfaces; }
    // The buses that beacons announced in the newest finished search of any automatic scout of
    // the process: the manual form offers them as CAN interfaces. GUI thread.
    static QStringList announcedCanInterfaces();
    static void rememberCanInterfaces(const QStringList& buses);
    bool isSearching() const { return searchTimer.isActive(); }

public slots:
    void searchTimeout();

private:
    void openSockets(quint16 port);
    CanCheck checkCan(SensorAddress& address);

    bool aborted = false;
    QList<SensorAdrSP_t> foundSensors;
    QList<CanCheck> checks;
    QStringList canInterfaces;
    // Single-shot; a plain timer because the search window must not be scaled.
    QTimer searchTimer;
    QList<TRVAxxUDPSocket*> sockets;
    QList<quint16> searchPorts;
    int searchMs = SEARCH_MS;
    QByteArray canInterfaceUrl;
    bool canValidation = true;
};
