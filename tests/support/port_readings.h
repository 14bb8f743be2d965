// What a port says of its format and flow control, as values a test compares whole.
#pragma once

#include <cstdint>
#include <tuple>
#include <utility>

#include "link/comm_port.h"

namespace tollan::test {

// Speed, parity, data bits and stop bits.
inline std::tuple<std::uint32_t, char, int, int> FormatOf(CommPort& port) {
    std::tuple<std::uint32_t, char, int, int> f;
    port.GetFormat(std::get<0>(f), std::get<1>(f), std::get<2>(f), std::get<3>(f));
    return f;
}

// The input and output flow codes.
inline std::pair<int, int> FlowOf(CommPort& port) {
    int input = -1, output = -1;
    static_cast<void>(port.GetFlowControl(input, output)); // every port answers 0
    return {input, output};
}

} // namespace tollan::test
