// A serial driver in memory behind the Win32 port's table of system calls, behaving as Windows
// documents it where a pseudo-terminal under Wine does not: a write that reaches its time-out
// completes with fewer bytes, a read can fail at once, a device can vanish so that every later
// call fails, the device keeps the configuration another program left, and a cancelled read may
// have delivered its byte. One double at a time: the table's functions reach the current one.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "link/win32_comm_calls.h"

namespace tollan {

struct SerialDriverDouble {
    SerialDriverDouble();
    ~SerialDriverDouble();

    const Win32CommCalls& Calls() const;

    // What opening the device fails with (0: it opens).
    DWORD openError = 0;
    // The configuration the device holds, as another program left it.
    DCB dcb{};
    // Bytes the line has delivered and the device holds.
    std::deque<char> input;
    // Bytes the device has sent.
    std::string output;
    // Bytes writes may still move before the other side's hold lets them time out; a write that
    // times out completes with fewer bytes and ERROR_SEM_TIMEOUT, as some drivers report it.
    DWORD writeRoom = MAXDWORD;
    // The next read fails at once with this error (0: it does not).
    DWORD readFailsAtOnce = 0;
    // A read of an empty device that is cancelled delivers this byte first (-1: none).
    int byteAtCancel = -1;
    // Non-zero: the device has gone, and every call fails with this error. `vanishOnWait` makes
    // it go while a read waits for its first byte.
    DWORD goneError = 0;
    DWORD vanishOnWait = 0;
    // Waits for requests that never complete (GetOverlappedResult would never return).
    int endlessWaits = 0;
    // The read waiting for its first byte, and where that byte goes.
    LPOVERLAPPED pendingRead = nullptr;
    LPVOID pendingBuffer = nullptr;

    // The double the table's functions reach.
    static SerialDriverDouble* current;
};

} // namespace tollan
