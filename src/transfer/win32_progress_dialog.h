// The progress dialog (resource 118): the Windows view of a transfer run. It shows the line, the
// current file, the status line, the progress and the error count, and one list row per file; it
// is the user's means to stop the run. The transfer driver runs the transfer on its worker thread
// and calls the view's operations there; they reach the controls by messages, which the dialog's
// thread handles in its modal loop. The dialog only ever asks the driver to stop: it closes when
// the worker thread, its run over, posts kRunFinishedMessage.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "transfer/transfer_view.h"

namespace tollan {

class TransferDriver;
struct SettingsBlock;
struct DeviceLists;

// What the dialog shows that does not change during the run, and how it is laid out.
struct ProgressDialogSetup {
    std::string port;     // "COM2", or the modem's name
    std::string protocol; // "X-Modem", "Z-Modem", "ACK/NAK"
    std::string mode;     // "Transmit", "Host", "Receive"
    std::int32_t baudRate = 0;
    bool verbose = false;      // show the error count
    bool logToScreen = false;  // show the list of files
    bool runMinimized = false; // start minimised (not with verbose)
    std::string maxTitle;      // the caption, and while minimised:
    std::string minTitle;
    std::string helpFile;
};

ProgressDialogSetup ProgressDialogSetupOf(const SettingsBlock& block, const DeviceLists& lists);

class Win32ProgressDialog : public TransferView {
public:
    // The worker thread's last word: the run is over and the log closed.
    static constexpr UINT kRunFinishedMessage = WM_APP; // 0x8000
    // At most this often the progress text and bar follow the bytes (a file's first and last
    // count, and the count when its line is made, are always shown).
    static constexpr DWORD kProgressIntervalMs = 50;

    // `resources`: the module that holds the dialog template and the icon.
    Win32ProgressDialog(HINSTANCE resources, ProgressDialogSetup setup);

    // Runs the dialog modally, owned by `owner`: its initialisation opens the driver's log and
    // starts the worker thread. Returns when the run is over.
    INT_PTR Run(HWND owner, TransferDriver& driver);

    HWND Window() const { return window_; }

    void ShowStatus(const char* text) override;
    void AnnounceFile(const char* name, long size) override;
    void ShowProgress(long done, long size) override;
    void ShowErrorCount(long count) override;
    void AddFileLine(const FileLine& line) override;
    void ClearFile() override;
    void EndOfRun(bool offerHelp) override;
    void RunFinished() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Initialise();
    void PlaceOverOwner();
    void ApplyLayout();
    void DrawProgress();
    HWND Item(int id) const { return GetDlgItem(window_, id); }

    HINSTANCE resources_;
    ProgressDialogSetup setup_;
    TransferDriver* driver_ = nullptr;
    HWND window_ = nullptr;
    // The progress last reported and when it was last drawn (worker thread only).
    long done_ = 0;
    long size_ = 0;
    bool progressPending_ = false;
    DWORD lastDraw_ = 0;
};

} // namespace tollan
