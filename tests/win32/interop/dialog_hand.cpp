// A hand on another process's progress dialog, for the host tests: finds the dialog by its
// caption, waits for a status text, prints control texts and presses buttons.
//
//   dialog_hand CAPTION [wait-status TEXT] [wait-button TEXT] [print ID]... [click ID]...
//
// wait-status waits until the status line holds TEXT, wait-button until the Cancel button reads
// TEXT ("Close" once a run that failed has ended). Steps run in order; each wait gives up after
// 60 s (exit status 2). Printed lines are "ID=text". Exit status 0 when every step was done.
#include "support/win32_sheet_driver.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tollan::testing;

constexpr int kStatusId = 284;
constexpr DWORD kLimitMs = 60000;

int main(int argc, char** argv) {
    HWND dialog = argc < 2 ? nullptr : WaitForDialog(argv[1], kLimitMs, false);
    if (dialog == nullptr) {
        std::fprintf(stderr, "no window \"%s\"\n", argc < 2 ? "" : argv[1]);
        return 2;
    }
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string step = argv[i];
        const std::string value = argv[i + 1];
        const int id = std::atoi(value.c_str());
        if (step == "wait-status" || step == "wait-button") {
            const int waited = step == "wait-status" ? kStatusId : IDCANCEL;
            if (!WaitFor([&] { return TextOf(dialog, waited).find(value) != std::string::npos; },
                         kLimitMs)) {
                std::fprintf(stderr, "%s %s never came (it reads \"%s\")\n", step.c_str(),
                             value.c_str(), TextOf(dialog, waited).c_str());
                return 2;
            }
        } else if (step == "print") {
            std::printf("%d=%s\n", id, TextOf(dialog, id).c_str());
            std::fflush(stdout);
        } else if (step == "click") {
            ClickLater(dialog, id);
        } else {
            std::fprintf(stderr, "unknown step %s\n", step.c_str());
            return 64;
        }
    }
    return 0;
}
