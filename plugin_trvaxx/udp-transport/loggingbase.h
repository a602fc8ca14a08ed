#pragma once
// Diagnostics sink of the UDP transport. Levels: 1 errors and notable events, 5 debug,
// 8 per-datagram trace. Called on the receive thread.

class LoggingBase {
public:
    enum Level { Error = 1, Debug = 5, Trace = 8 };

    virtual ~LoggingBase() = default;
    // printf-style message; the implementation decides which levels it writes.
    virtual void log(int level, const char* format, ...) __attribute__((format(printf, 3, 4))) = 0;
};
