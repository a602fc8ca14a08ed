#pragma once
// The command line of trvaxx-sim: options into a SimConfig and a CanConfig, every value checked,
// and a message that names the option and says what is wrong with its value.

#include "simulator/can/canconfig.h"
#include "simulator/simconfig.h"

#include <QStringList>

#include <string>

namespace trvsim {

struct CommandLine {
    enum Outcome { Run, Help, Error };
    Outcome outcome = Run;
    std::string message; // help text or the error
    SimConfig config;    // of the first sensor; sensorConfig() derives the others (--count)
    CanConfig can;
    double durationSeconds = 0; // 0: until SIGINT / SIGTERM
    bool summary = true;        // one summary line per second
    // --camera-http [ADDR:]PORT: the camera stream of the first sensor (PORT + i for sensor i).
    std::string cameraAddress;
    uint16_t cameraPort = 0;
    bool camera = false;
};

// arguments[0] is the program name.
CommandLine parseCommandLine(const QStringList& arguments);

// Parses "a.b.c.d" or "a.b.c.d:port"; false with why when it is not valid.
bool parseEndpoint(const std::string& text, std::string& address, uint16_t& port, bool& hasPort,
                   std::string& why);
// Parses "[a.b.c.d:]port" (port 0: any free port); the address stays as given when absent.
bool parseListenAddress(const std::string& text, std::string& address, uint16_t& port, std::string& why);
// Parses a share "0.05" or "5%" into [0, 1]; false with why.
bool parseShare(const std::string& text, double& share, std::string& why);

} // namespace trvsim
