// The file-list dialogs of a ZModem send that names each file for the receiver: "Send File As
// ..." (resource 116) lists every chosen file with the name the receiver is to store it under,
// which starts as the file's bare name; "Edit Receiver File Name" (resource 117) changes one.
// OK makes the list the sender walks in pairs: sender path, receiver name.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tollan {

class SendFileAsDialog {
public:
    // Help topics of the two dialogs.
    static constexpr DWORD kHelpTopic = 8;
    static constexpr DWORD kEditHelpTopic = 9;
    // Longest sender path and receiver name a row gives the result; longest name OK keeps.
    static constexpr int kNameLength = 260;
    static constexpr int kKeptNameLength = 259;

    // `names`: the bare names of a multiple selection, whose folder is `folder`; or one full
    // path with an empty folder. `resources`: the module that holds the templates.
    SendFileAsDialog(HINSTANCE resources, std::string folder, std::vector<std::string> names,
                     std::string helpFile);

    // Runs the dialog modally; IDOK (1) or IDCANCEL (2).
    INT_PTR Run(HWND owner);

    // After OK: "sender;receiver;sender;receiver..." of every row; empty when a receiver name
    // was left empty, and after Cancel.
    const std::string& Result() const { return result_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Fill();
    void EditSelectedRow();
    void BuildResult();

    HINSTANCE resources_;
    std::string folder_;
    std::vector<std::string> names_;
    std::string helpFile_;
    std::string result_;
    HWND window_ = nullptr;
};

// The receiver-name editor on its own: shows `sender`, edits `receiver` (kept up to 259
// characters on OK). IDOK or IDCANCEL; `receiver` changes only with OK.
INT_PTR EditReceiverName(HINSTANCE resources, HWND owner, const std::string& sender,
                         std::string& receiver, const std::string& helpFile);

} // namespace tollan
