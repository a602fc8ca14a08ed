#pragma once
// "trvaxx can-info": connects to a sensor over CAN the way a connection does (interface tests,
// verification read) and prints its identity and state, optionally its error memory.

#include <QStringList>

// Runs the command with the arguments after "can-info". Exit status: 0 ok, 1 a CAN failure
// (one line "error CODE TEXT" on standard error), 2 a wrong command line.
int runCanInfo(const QStringList& arguments);

extern const char* const kCanInfoUsage;
