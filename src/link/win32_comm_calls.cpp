#include "link/win32_comm_calls.h"

namespace tollan {

const Win32CommCalls& SystemCommCalls() {
    static const Win32CommCalls calls = {
        ::CreateFileA,         ::CloseHandle,        ::ReadFile,         ::WriteFile,
        ::GetOverlappedResult, ::CancelIo,           ::FlushFileBuffers, ::ClearCommError,
        ::SetupComm,           ::GetCommState,       ::SetCommState,     ::GetCommTimeouts,
        ::SetCommTimeouts,     ::GetCommMask,        ::SetCommMask,      ::WaitCommEvent,
        ::GetCommModemStatus,  ::EscapeCommFunction, ::PurgeComm,        ::TransmitCommChar,
        ::SetCommBreak,        ::ClearCommBreak,
    };
    return calls;
}

} // namespace tollan
