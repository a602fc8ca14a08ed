#pragma once
// Which interface CAN_InitDriver opens, from the text handed to CAN_SetInterface or the defaults.

#include <QString>

struct InterfaceUrl {
    enum class Kind { Invalid, QtCanBus, Socketcand };
    Kind kind = Kind::Invalid;
    QString backend;   // QtCanBus: "socketcan", "peakcan", "virtualcan", ...
    QString interface; // QtCanBus: the back-end's interface name
    QString host;      // Socketcand
    quint16 port = 0;  // Socketcand
    QString bus;       // Socketcand
    QString text;      // as given, for log lines

    // "socketcand://HOST[:PORT]/BUS", "qtcanbus://BACKEND/INTERFACE" or a kernel interface name.
    static InterfaceUrl parse(const QString& text);
};

constexpr quint16 kSocketcandDefaultPort = 29536;

// The interface text to use when none was set: TRVAXX_CAN_INTERFACE, then the host setting
// "plugin_trvaxx/can_interface", then the local socketcand server on can0.
QString defaultCanInterface();
