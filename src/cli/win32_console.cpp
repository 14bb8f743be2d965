#include "cli/console.h"

#include <windows.h>

#include <io.h>

#include <cstdio>
#include <utility>

namespace tollan {

namespace {

std::function<void()>& InterruptHandler() {
    static std::function<void()> handler;
    return handler;
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        if (InterruptHandler()) {
            InterruptHandler()();
        }
        return TRUE;
    }
    return FALSE;
}

} // namespace

bool StdinAtEnd() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD waiting = 0;
    if (GetFileType(input) == FILE_TYPE_PIPE) {
        return !PeekNamedPipe(input, nullptr, 0, nullptr, &waiting, nullptr) &&
               GetLastError() == ERROR_BROKEN_PIPE;
    }
    if (GetFileType(input) == FILE_TYPE_DISK) {
        char byte;
        DWORD got = 0;
        return ReadFile(input, &byte, 1, &got, nullptr) && got == 0;
    }
    return false;
}

bool StderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

bool StdinIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

bool StderrSharesLine() {
    DWORD mode = 0;
    const bool errorConsole = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    return errorConsole && (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0 ||
                            GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0);
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info) == 0) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void WatchInterrupts(std::function<void()> onInterrupt) {
    InterruptHandler() = std::move(onInterrupt);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

} // namespace tollan
