#pragma once

#include "udp-transport/udpsocket.h"

#include <QString>
#include <QStringList>

// What the command line asks the trvaxx tool to do.
struct ToolOptions {
    enum class Command { Help, Version, Monitor, Record, Replay };

    Command command = Command::Help;
    QString helpTopic; // the command whose help was asked for; empty for the overview
    quint16 port = 42000;
    QString sender = QStringLiteral("0.0.0.0"); // every sender
    bool json = false;
    int seconds = 0; // 0: until interrupted (monitor, record)
    QString file;    // record, replay
    bool fast = false;
    double speed = 1.0;
    bool verbose = false;
    UdpSocket::WakeUp wakeUp = UdpSocket::WakeUp::AllInterfaces; // monitor, record
};

// Parses the arguments after the program name. Returns false with a message naming the fault.
bool parseToolOptions(const QStringList& arguments, ToolOptions& options, QString& error);

// Help text of one command, or the overview for an empty or unknown name.
QString toolUsage(const QString& command = QString());
