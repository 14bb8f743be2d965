// The ZModem engine as the fuzz targets drive it, on a line of its own that hands out one input:
// its decoders reachable, the state a batch would leave behind settable, and the checks every
// decoder result must pass.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "engine/engine_codes.h"
#include "engine/zmodem_engine.h"
#include "fuzz_port.h"
#include "link/comm_link.h"

namespace tollan::fuzz {

// A port that hands out one input, and the link on it.
struct FuzzLine {
    FuzzLine(const std::uint8_t* data, std::size_t size) : port(data, size), link(port) {}
    FuzzPort port;
    CommLink link;
};

class FuzzEngine : public FuzzLine, public ZModemEngine {
public:
    FuzzEngine(const std::uint8_t* data, std::size_t size)
        : FuzzLine(data, size), ZModemEngine(&link, nullptr) {}
    using ZModemEngine::SearchHeader;
    void SetPeerFlags(int flags) { peerFlags_ = flags; }
    void SetHeaderFormat(int format) { headerFormat_ = format; }
    int Code() const { return Status()->code_; }
};

inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The codes a run may hold after decoding any byte stream: none, the other side's cancel, the
// error limit, or the port's end of input.
inline void RequireRunCode(int code) {
    Require(code == 0 || code == TE_REMOTE_CANCEL || code == TE_TOO_MANY_ERRORS ||
            code == LINK_NO_PORT);
}

} // namespace tollan::fuzz
