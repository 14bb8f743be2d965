#include "transfer/transfer_request.h"

#include <algorithm>

#include "transfer/result_code.h"

namespace tollan {

TransferRequest RequestOf(const RunSettings& run) {
    TransferRequest request;
    request.protocol = run.protocol;
    request.direction = run.direction;
    request.hostMode = run.hostMode;
    request.flowControl = run.flowControl;
    request.pathSwitch = run.pathSwitch;
    return request;
}

std::int32_t CheckCombination(const TransferRequest& request) {
    if (request.protocol == Protocol::kZModem) {
        return kResultOk;
    }
    if (request.flowControl == FlowControl::kXonXoff) {
        return kResultXonXoffNeedsZModem;
    }
    if (request.hostMode) {
        return kResultHostNeedsZModem;
    }
    return kResultOk;
}

int CountNames(std::u16string_view list) {
    return static_cast<int>(std::count(list.begin(), list.end(), u';')) + 1;
}

bool RunsWithoutNames(const TransferRequest& request) {
    return request.protocol == Protocol::kZModem && request.direction == Direction::kReceive;
}

std::int32_t CountAttempted(const TransferRequest& request, int names, std::uint16_t& attempted) {
    if (request.protocol != Protocol::kZModem) {
        attempted = 1;
        return kResultOk;
    }
    if (request.pathSwitch == PathSwitch::kReceiverNames) {
        if (names % 2 != 0) {
            return kResultNoReceiverName;
        }
        attempted = static_cast<std::uint16_t>(names / 2);
        return kResultOk;
    }
    attempted = static_cast<std::uint16_t>(names);
    return kResultOk;
}

} // namespace tollan
