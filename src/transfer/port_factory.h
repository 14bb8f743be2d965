// How a transfer run gets its serial port: a function that builds the port for the run with the
// queue sizes the driver asks for. The component builds the Win32 port of the selected COM
// number, the command builds the port for a device name, tests hand out one end of an in-memory
// pair. A port that failed to open is returned all the same (its status tells); null counts as
// a port that could not be opened. The run drops the port when it ends; a factory that keeps the
// port elsewhere hands out a pointer that does not own it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "link/comm_port.h"

namespace tollan {

using PortFactory =
    std::function<std::shared_ptr<CommPort>(std::uint32_t receiveSize, std::uint32_t transmitSize)>;

} // namespace tollan
