// What a run decides before it starts, in the component's TransferFiles and in the command alike:
// whether the settings go together and how many files the list names. Portable: no dialogs here,
// only the rules.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/setting_values.h"
#include "transfer/run_settings.h"

namespace tollan {

// The settings the checks look at.
struct TransferRequest {
    Protocol protocol = Protocol::kXModem;
    Direction direction = Direction::kTransmit;
    bool hostMode = false;
    FlowControl flowControl = FlowControl::kNone;
    PathSwitch pathSwitch = PathSwitch::kStripPath;
};

// The settings of a run that the checks look at.
TransferRequest RequestOf(const RunSettings& run);

// The check made before the file prompt: XON/XOFF (code 1) and host mode (code 2) need ZModem;
// 0 when the settings go together.
[[nodiscard]] std::int32_t CheckCombination(const TransferRequest& request);

// The number of names in a ";"-separated list: the number of ";" plus one (empty names count).
int CountNames(std::u16string_view list);

// A ZModem receive may start without names: the receiver keeps the senders' names.
bool RunsWithoutNames(const TransferRequest& request);

// The files a list of `names` names stands for: 1 for XModem and ACK/NAK, half the names when
// ZModem gives receiver names (an odd count gives code 4), else the names. 0 or the code.
[[nodiscard]] std::int32_t CountAttempted(const TransferRequest& request, int names,
                                          std::uint16_t& attempted);

} // namespace tollan
