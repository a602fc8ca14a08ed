#pragma once
// CANBusDeviceFactory finds the CAN interface plug-ins ("trvaxx_candevice_*.so") and keeps one
// device per interface type for the whole process. The libraries stay loaded while any controller
// lives: the first controller loads them, the last one unloads them. Thread-safe; in practice
// used on the GUI thread.

#include <QString>
#include <QStringList>

class CANBusDevice;

class CANBusDeviceFactory {
public:
    static constexpr const char* kFilePattern = "trvaxx_candevice_*.so";

    // Counted use by a controller: the first acquire loads the plug-ins, the last release unloads
    // them.
    static void acquire();
    static void release();

    // The device of an interface type (1 CANFox, 2 Vector, 3 PEAK); null when none is loaded.
    static CANBusDevice* device(int type);

    // Where plug-ins are looked for: the application's plug-in folder, the current directory,
    // then every folder of TRVAXX_PLUGIN_PATH (separated by ':').
    static QStringList searchFolders();
    // Replaces the search folders for the next load (tests; empty list: back to the default).
    static void setSearchFolders(const QStringList& folders);

    // Adds a device that lives in the process (not owned), as if a plug-in had provided it; a
    // type already present keeps its first device. False for a duplicate. Kept until removed.
    static bool registerDevice(CANBusDevice* device);
    static void unregisterDevice(CANBusDevice* device);
};
