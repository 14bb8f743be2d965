#include "link/line_control.h"

#include "link/comm_link.h"

namespace tollan {

LineControl::LineControl(CommLink& link) : port_(link.Port()) {
    Refresh();
    port_.GetFlowControl(savedInput_, savedOutput_);
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
    port_.GetLineSnapshot(snapshot_);
}

} // namespace tollan
