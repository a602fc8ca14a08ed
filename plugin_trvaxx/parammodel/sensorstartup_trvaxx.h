#pragma once

#include "common/sensoraddressmobilecan.h"

class CanBusController;
class PCDevice_TRVAXX;
class ResultCache_TRVAXX;

// The one road from a sensor address to a configured parameter device over CAN, shared by the
// sensor connection and the command-line tool: connect, identity, firmware variant, all
// parameters, the writable flag and the identification, then the variant's syncer and its first
// fill of the cache. GUI thread (waits serve GUI events).
class SensorStartup_TRVAXX {
public:
    // Connects the controller (connectDevice with `verify`), reads the identity over diagnosis,
    // decides the variant code (stored in the device), reads all parameters, sets
    // IS_DEVICE_WRITEABLE and the device's identification. 0, or the notification id of the
    // failing step: connectDevice's code, 130007 for the identity or the parameter read, 130018
    // for a firmware too old (code 9), 130002 for an unsupported one (code 8).
    static int openCan(CanBusController& can, const SensorAdrMobileCanSP_t& address, bool verify,
                       PCDevice_TRVAXX& device);

    // Creates and installs the syncer of `variantCode` (`can` may be null: Ethernet only) and runs
    // its first refresh. 0, or 130018 for code 9 and 130002 for any other code without a syncer.
    static int installSyncer(PCDevice_TRVAXX& device, int variantCode, CanBusController* can,
                             ResultCache_TRVAXX& results);
};
