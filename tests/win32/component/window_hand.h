// A test's hand on the dialogs of its own process: finds a window by class and caption, reads
// its controls and presses its buttons, and catches the texts of a dialog at the moment it is
// told to close. The dialogs run modally on a host thread; the hand works from the test thread.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace tollan::test {

inline constexpr DWORD kHandLimitMs = 20000;

// Polls `condition` until it holds or the limit has passed.
inline bool WaitFor(const std::function<bool()>& condition, DWORD limitMs = kHandLimitMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > limitMs) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

// The dialog (class #32770) with this caption, once it is shown (its initialisation done; with
// `shown` off, once it exists: Wine does not count a minimised dialog as shown); null after the
// limit.
inline HWND FindDialog(const std::string& caption, bool shown = true,
                       DWORD limitMs = kHandLimitMs) {
    HWND found = nullptr;
    auto ready = [&] {
        found = FindWindowA("#32770", caption.c_str());
        return found != nullptr && (!shown || IsWindowVisible(found));
    };
    return WaitFor(ready, limitMs) ? found : nullptr;
}

inline std::string WindowText(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

inline std::string ItemText(HWND dialog, int id) {
    return WindowText(GetDlgItem(dialog, id));
}

// Presses a button the way a click does: the command reaches the dialog through its queue.
inline void Press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The texts of every static control of a window (a message box's text among them).
inline std::vector<std::string> StaticTexts(HWND window) {
    std::vector<std::string> texts;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM found) -> BOOL {
            char name[32] = {};
            GetClassNameA(child, name, sizeof name);
            if (lstrcmpiA(name, "Static") == 0) {
                reinterpret_cast<std::vector<std::string>*>(found)->push_back(WindowText(child));
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&texts));
    return texts;
}

// The rows of a report list view: one vector of column texts per row.
inline std::vector<std::vector<std::string>> ListRows(HWND list, int columns) {
    std::vector<std::vector<std::string>> rows;
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::vector<std::string> texts;
        for (int column = 0; column < columns; ++column) {
            char text[300] = {};
            LVITEMA item{};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                         reinterpret_cast<LPARAM>(&item));
            texts.emplace_back(text);
        }
        rows.push_back(std::move(texts));
    }
    return rows;
}

// A window's rectangle in screen coordinates.
inline RECT ScreenRect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

// Runs `work` on a thread of its own (the host thread, where the modal dialogs live) and
// joins it when done.
class HostThread {
public:
    explicit HostThread(std::function<void()> work)
        : thread_([this, work = std::move(work)] {
              id_ = GetCurrentThreadId();
              work();
              done_ = true;
          }) {
        WaitFor([this] { return id_ != 0; });
    }
    ~HostThread() { Join(); }
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // True once `work` has returned, within the limit.
    bool Ended(DWORD limitMs = kHandLimitMs) {
        return WaitFor([this] { return done_.load(); }, limitMs);
    }
    DWORD Id() const { return id_; }

private:
    std::atomic<DWORD> id_ = 0;
    std::atomic<bool> done_ = false;
    std::thread thread_;
};

} // namespace tollan::test
