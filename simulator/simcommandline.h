#pragma once
// The command line of trvaxx-sim: options into a SimConfig, every value checked, and a message
// that names the option and says what is wrong with its value.

#include "simulator/simconfig.h"

#include <QStringList>

#include <string>

namespace trvsim {

struct CommandLine {
    enum Outcome { Run, Help, Error };
    Outcome outcome = Run;
    std::string message; // help text or the error
    SimConfig config;
    double durationSeconds = 0; // 0: until SIGINT / SIGTERM
    bool summary = true;        // one summary line per second
    uint16_t canListenPort = 0; // requested CAN (socketcand) port, 0 = none
};

// arguments[0] is the program name.
CommandLine parseCommandLine(const QStringList& arguments);

// Parses "a.b.c.d" or "a.b.c.d:port"; false with why when it is not valid.
bool parseEndpoint(const std::string& text, std::string& address, uint16_t& port, bool& hasPort,
                   std::string& why);
// Parses a share "0.05" or "5%" into [0, 1]; false with why.
bool parseShare(const std::string& text, double& share, std::string& why);

} // namespace trvsim
