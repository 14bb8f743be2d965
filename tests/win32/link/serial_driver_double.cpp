#include "serial_driver_double.h"

#include <algorithm>

namespace tollan {
namespace {

constexpr ULONG_PTR kPending = 0x103;     // STATUS_PENDING, as the system marks a request it starts
constexpr ULONG_PTR kFailed = 0xC0000000; // a failed request: the Win32 error in the low bits
const HANDLE kDevice = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5150));

SerialDriverDouble& D() {
    return *SerialDriverDouble::current;
}

void Complete(LPOVERLAPPED request, DWORD error, DWORD count) {
    request->Internal = error == 0 ? 0 : kFailed | error;
    request->InternalHigh = count;
    if (request->hEvent != nullptr) {
        SetEvent(request->hEvent);
    }
}

// False, failing with goneError, once the device has gone.
BOOL StillThere() {
    SetLastError(D().goneError);
    return D().goneError == 0;
}

HANDLE WINAPI Open(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    SetLastError(D().openError);
    return D().openError != 0 ? INVALID_HANDLE_VALUE : kDevice;
}
// The calls whose only outcome is whether the device is still there.
template <typename... Arguments>
BOOL WINAPI Present(HANDLE, Arguments...) {
    return StillThere();
}

BOOL WINAPI Read(HANDLE, LPVOID buffer, DWORD size, LPDWORD count, LPOVERLAPPED request) {
    // The system marks the request as started before the driver sees it; a request the driver
    // fails at once keeps that mark.
    request->Internal = kPending;
    request->InternalHigh = 0;
    *count = 0;
    SerialDriverDouble& d = D();
    if (d.readFailsAtOnce != 0) {
        SetLastError(d.readFailsAtOnce);
        d.readFailsAtOnce = 0;
        return FALSE;
    }
    if (!StillThere()) {
        return FALSE;
    }
    if (d.input.empty()) {
        // The port's time-outs let a read of an empty device wait for its first byte.
        if (request->hEvent != nullptr) {
            ResetEvent(request->hEvent);
        }
        d.pendingRead = request;
        d.pendingBuffer = buffer;
        if (d.vanishOnWait != 0) {
            d.goneError = d.vanishOnWait;
            Complete(request, d.goneError, 0);
            d.pendingRead = nullptr;
        }
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    const DWORD n = std::min<DWORD>(size, static_cast<DWORD>(d.input.size()));
    std::copy_n(d.input.begin(), n, static_cast<char*>(buffer));
    d.input.erase(d.input.begin(), d.input.begin() + n);
    *count = n;
    Complete(request, 0, n);
    return TRUE;
}

BOOL WINAPI Write(HANDLE, LPCVOID buffer, DWORD size, LPDWORD count, LPOVERLAPPED request) {
    request->Internal = kPending;
    *count = 0;
    if (!StillThere()) {
        return FALSE;
    }
    SerialDriverDouble& d = D();
    const DWORD n = std::min(size, d.writeRoom);
    d.writeRoom -= n;
    d.output.append(static_cast<const char*>(buffer), n);
    if (n == size) {
        *count = n;
        Complete(request, 0, n);
        return TRUE;
    }
    // The rest waits for the other side until the write's time-out ends the request.
    Complete(request, ERROR_SEM_TIMEOUT, n);
    SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL WINAPI Result(HANDLE, LPOVERLAPPED request, LPDWORD count, BOOL wait) {
    if (request->Internal == kPending) {
        // Nothing will ever complete this request: a waiting call would never return.
        D().endlessWaits += wait ? 1 : 0;
        SetLastError(ERROR_IO_INCOMPLETE);
        return FALSE;
    }
    *count = static_cast<DWORD>(request->InternalHigh);
    SetLastError(static_cast<DWORD>(request->Internal & ~kFailed));
    return request->Internal == 0;
}

BOOL WINAPI Cancel(HANDLE) {
    SerialDriverDouble& d = D();
    if (d.pendingRead != nullptr) {
        DWORD n = 0;
        if (d.byteAtCancel >= 0) {
            *static_cast<char*>(d.pendingBuffer) = static_cast<char>(d.byteAtCancel);
            n = 1;
        }
        Complete(d.pendingRead, ERROR_OPERATION_ABORTED, n);
        d.pendingRead = nullptr;
    }
    return StillThere();
}

BOOL WINAPI ClearError(HANDLE, LPDWORD errors, LPCOMSTAT stat) {
    *errors = 0;
    if (stat != nullptr) {
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(D().input.size());
    }
    return StillThere();
}
BOOL WINAPI GetState(HANDLE, LPDCB dcb) {
    *dcb = D().dcb;
    return StillThere();
}
BOOL WINAPI SetState(HANDLE, LPDCB dcb) {
    const BOOL present = StillThere();
    D().dcb = present ? *dcb : D().dcb;
    return present;
}
// Reports `value` through the out-parameter.
template <DWORD value, typename... Arguments>
BOOL WINAPI Report(HANDLE, LPDWORD out, Arguments...) {
    *out = value;
    return StillThere();
}

const Win32CommCalls kCalls = {
    .CreateFileA = Open,
    .CloseHandle = Present<>,
    .ReadFile = Read,
    .WriteFile = Write,
    .GetOverlappedResult = Result,
    .CancelIo = Cancel,
    .FlushFileBuffers = Present<>,
    .ClearCommError = ClearError,
    .SetupComm = Present<DWORD, DWORD>,
    .GetCommState = GetState,
    .SetCommState = SetState,
    .GetCommTimeouts = Present<LPCOMMTIMEOUTS>,
    .SetCommTimeouts = Present<LPCOMMTIMEOUTS>,
    .GetCommMask = Report<0>,
    .SetCommMask = Present<DWORD>,
    .WaitCommEvent = Report<0, LPOVERLAPPED>,
    .GetCommModemStatus = Report<MS_CTS_ON | MS_DSR_ON>,
    .EscapeCommFunction = Present<DWORD>,
    .PurgeComm = Present<DWORD>,
    .TransmitCommChar = Present<char>,
    .SetCommBreak = Present<>,
    .ClearCommBreak = Present<>,
};

} // namespace

SerialDriverDouble* SerialDriverDouble::current = nullptr;

SerialDriverDouble::SerialDriverDouble() {
    dcb.DCBlength = sizeof dcb;
    current = this;
}

SerialDriverDouble::~SerialDriverDouble() {
    current = nullptr;
}

const Win32CommCalls& SerialDriverDouble::Calls() const {
    return kCalls;
}

} // namespace tollan
