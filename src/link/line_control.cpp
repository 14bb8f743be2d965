#include "link/line_control.h"

#include "link/comm_link.h"

namespace tollan {

LineControl::LineControl(CommLink& link) : port_(link.Port()) {
    Refresh();
    static_cast<void>(port_.GetFlowControl(savedInput_, savedOutput_)); // every port answers 0
    input_ = savedInput_;
    output_ = savedOutput_;
}

LineControl::~LineControl() {
    (void)SetFlowControl(savedInput_, savedOutput_); // a destructor has nobody to tell
}

int LineControl::SetFlowControl(int input, int output) {
    input_ = input;
    output_ = output;
    return port_.SetFlowControl(input, output);
}

void LineControl::Refresh() {
    static_cast<void>(port_.GetLineSnapshot(snapshot_)); // a failed reading keeps the last one
}

} // namespace tollan
