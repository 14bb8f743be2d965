// A hand on another process's progress dialog, for the host tests: finds the dialog by its
// caption, waits for a status text, prints control texts and presses buttons.
//
//   dialog_hand CAPTION [wait-status TEXT] [wait-visible ID] [print ID]... [click ID]...
//
// wait-status waits until the status line holds TEXT, or one of the "|"-separated parts of it.
// Steps run in order; each wait gives up after 60 s (exit status 2). Printed lines are
// "ID=text". Exit status 0 when every step was done.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kStatusId = 284;
constexpr DWORD kLimitMs = 60000;

std::string Text(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

bool HoldsOneOf(const std::string& text, const std::string& parts) {
    std::size_t start = 0;
    for (;;) {
        std::size_t bar = parts.find('|', start);
        if (text.find(parts.substr(start, bar - start)) != std::string::npos) {
            return true;
        }
        if (bar == std::string::npos) {
            return false;
        }
        start = bar + 1;
    }
}

template <typename Condition>
bool WaitFor(Condition condition) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > kLimitMs) {
            return false;
        }
        Sleep(20);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: dialog_hand CAPTION [steps]\n");
        return 64;
    }
    HWND dialog = nullptr;
    if (!WaitFor([&] { return (dialog = FindWindowA("#32770", argv[1])) != nullptr; })) {
        std::fprintf(stderr, "no window \"%s\"\n", argv[1]);
        return 2;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const char* step = argv[i];
        const char* value = argv[i + 1];
        if (std::strcmp(step, "wait-status") == 0) {
            if (!WaitFor([&] { return HoldsOneOf(Text(dialog, kStatusId), value); })) {
                std::fprintf(stderr, "status never showed \"%s\" (last: \"%s\")\n", value,
                             Text(dialog, kStatusId).c_str());
                return 2;
            }
        } else if (std::strcmp(step, "wait-visible") == 0) {
            HWND control = GetDlgItem(dialog, std::atoi(value));
            if (!WaitFor([&] { return IsWindowVisible(control) != FALSE; })) {
                std::fprintf(stderr, "control %s never showed\n", value);
                return 2;
            }
        } else if (std::strcmp(step, "print") == 0) {
            std::printf("%s=%s\n", value, Text(dialog, std::atoi(value)).c_str());
            std::fflush(stdout);
        } else if (std::strcmp(step, "click") == 0) {
            PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(std::atoi(value), BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, std::atoi(value))));
        } else {
            std::fprintf(stderr, "unknown step %s\n", step);
            return 64;
        }
    }
    return 0;
}
