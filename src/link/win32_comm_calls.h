// The system calls the Win32 serial port makes, as one table of function pointers. The port
// uses the system's table unless it is given another one, so that a test can put a driver of
// its own behind the port: one that holds output, fails a call, or loses its device.
#pragma once

#include <windows.h>

namespace tollan {

struct Win32CommCalls {
    HANDLE(WINAPI* CreateFileA)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* CloseHandle)(HANDLE);
    BOOL(WINAPI* ReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* GetOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
    BOOL(WINAPI* CancelIo)(HANDLE);
    BOOL(WINAPI* FlushFileBuffers)(HANDLE);
    BOOL(WINAPI* ClearCommError)(HANDLE, LPDWORD, LPCOMSTAT);
    BOOL(WINAPI* SetupComm)(HANDLE, DWORD, DWORD);
    BOOL(WINAPI* GetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* SetCommState)(HANDLE, LPDCB);
    BOOL(WINAPI* GetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
    BOOL(WINAPI* SetCommTimeouts)(HANDLE, LPCOMMTIMEOUTS);
    BOOL(WINAPI* GetCommMask)(HANDLE, LPDWORD);
    BOOL(WINAPI* SetCommMask)(HANDLE, DWORD);
    BOOL(WINAPI* WaitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* GetCommModemStatus)(HANDLE, LPDWORD);
    BOOL(WINAPI* EscapeCommFunction)(HANDLE, DWORD);
    BOOL(WINAPI* PurgeComm)(HANDLE, DWORD);
    BOOL(WINAPI* TransmitCommChar)(HANDLE, char);
    BOOL(WINAPI* SetCommBreak)(HANDLE);
    BOOL(WINAPI* ClearCommBreak)(HANDLE);
};

// kernel32's own functions.
const Win32CommCalls& SystemCommCalls();

} // namespace tollan
