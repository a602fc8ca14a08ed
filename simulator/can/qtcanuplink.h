#pragma once
// Joining a local bus through Qt's CAN bus module (qtcanbus://BACKEND/INTERFACE, for example
// qtcanbus://virtualcan/can0). The device lives on a thread of its own with a Qt event loop;
// frames cross to the bus thread under a lock, with an eventfd to wake its poll. Needs a
// QCoreApplication in the process.

#include "simulator/can/canuplink.h"

namespace trvsim {

std::unique_ptr<CanUplink> makeQtCanUplink(const std::string& backend, const std::string& interfaceName);

} // namespace trvsim
