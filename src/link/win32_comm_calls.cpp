#include "link/win32_comm_calls.h"

namespace tollan {

const Win32CommCalls& SystemCommCalls() {
    static const Win32CommCalls calls = {
        .CreateFileA = ::CreateFileA,
        .CloseHandle = ::CloseHandle,
        .ReadFile = ::ReadFile,
        .WriteFile = ::WriteFile,
        .GetOverlappedResult = ::GetOverlappedResult,
        .CancelIo = ::CancelIo,
        .FlushFileBuffers = ::FlushFileBuffers,
        .ClearCommError = ::ClearCommError,
        .SetupComm = ::SetupComm,
        .GetCommState = ::GetCommState,
        .SetCommState = ::SetCommState,
        .GetCommTimeouts = ::GetCommTimeouts,
        .SetCommTimeouts = ::SetCommTimeouts,
        .GetCommMask = ::GetCommMask,
        .SetCommMask = ::SetCommMask,
        .WaitCommEvent = ::WaitCommEvent,
        .GetCommModemStatus = ::GetCommModemStatus,
        .EscapeCommFunction = ::EscapeCommFunction,
        .PurgeComm = ::PurgeComm,
        .TransmitCommChar = ::TransmitCommChar,
        .SetCommBreak = ::SetCommBreak,
        .ClearCommBreak = ::ClearCommBreak,
    };
    return calls;
}

} // namespace tollan
