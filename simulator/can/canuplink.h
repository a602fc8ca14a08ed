#pragma once
// A bus served elsewhere that the local bus takes part in (--can-join): another socketcand
// server ("socketcand://HOST:PORT/BUS") or a local bus through Qt's CAN bus module
// ("qtcanbus://BACKEND/INTERFACE"). Used from the bus thread only.

#include "simulator/can/simcanbus.h"

#include <memory>
#include <string>
#include <vector>

namespace trvsim {

class CanUplink {
public:
    virtual ~CanUplink() = default;
    // Connects (blocking, bounded); false with why.
    virtual bool open(std::string& why) = 0;
    // A descriptor the bus thread polls for reading (-1: none); service() then collects frames.
    virtual int pollFd() const = 0;
    virtual bool wantsWrite() const { return false; }
    // Reads what arrived, writes what is pending, reconnects after a loss; false when the
    // connection was lost (why says how).
    virtual bool service(std::vector<SimCanFrame>& received, std::string& why) = 0;
    virtual void send(const SimCanFrame& frame) = 0;
    virtual bool connected() const = 0;
};

// Null with why when the address is not one of the two forms.
std::unique_ptr<CanUplink> makeCanUplink(const std::string& url, std::string& why);
// True when the text is a --can-join address (checked on the command line).
bool validCanJoinUrl(const std::string& url, std::string& why);

} // namespace trvsim
