// TransferFiles with its real dialogs, under Wine: the progress dialog's layouts and texts, the
// message boxes of refused runs, the file prompt with the "Send File As ..." and "Edit Receiver
// File Name" dialogs, and a ZModem batch over COM5 to a receiver on COM6 (tests/win32/wine-run
// joins the two) with its list rows and log lines. TransferFiles runs on a host thread; the test
// thread finds the dialogs, reads them and presses their buttons. Help goes to a recording viewer.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "component/win32_transfer_files.h"
#include "link/win32_serial_port.h"
#include "settings/device_lists.h"
#include "settings/settings_block.h"
#include "transfer/ansi_text.h"
#include "transfer/result_code.h"
#include "transfer/run_settings.h"
#include "transfer/transfer_driver.h"
#include "transfer/win32_progress_dialog.h"
#include "ui/resource_ids.h"
#include "ui/win32_help.h"
#include "window_hand.h"

namespace tollan {
namespace {

using test::FindDialog;
using test::HostThread;
using test::ItemText;
using test::Press;
using test::WaitFor;

constexpr const char* kTitle = "tollan dialog test";
constexpr const char* kMinTitle = "tollan dialog test (minimised)";

// Help topics asked for, in order, with the file they were asked of.
std::mutex helpMutex;
std::vector<std::pair<std::string, DWORD>> helpAsked;
void RecordHelp(HWND, const char* file, DWORD topic) {
    std::lock_guard<std::mutex> lock(helpMutex);
    helpAsked.emplace_back(file, topic);
}
std::vector<std::pair<std::string, DWORD>> TakeHelp() {
    std::lock_guard<std::mutex> lock(helpMutex);
    return std::exchange(helpAsked, {});
}

// What the progress dialog shows when the worker thread tells it to close, caught on the host
// thread before the dialog handles the message.
struct Closing {
    std::map<int, std::string> texts;
    std::vector<std::vector<std::string>> rows;
    bool listVisible = false;
};
Closing closing;
HHOOK closingHook = nullptr;

// Whether the progress dialog took the minimised caption, seen on the host thread (Wine soon
// shows a minimised dialog box again in its normal size).
std::atomic<bool> sawMinTitle = false;
HHOOK sizeHook = nullptr;

LRESULT CALLBACK WatchSize(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_SETTEXT && message->lParam != 0 &&
        lstrcmpA(reinterpret_cast<const char*>(message->lParam), kMinTitle) == 0) {
        sawMinTitle = true;
    }
    return CallNextHookEx(sizeHook, code, wParam, lParam);
}

LRESULT CALLBACK CatchClosing(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && message->message == Win32ProgressDialog::kRunFinishedMessage) {
        for (int id : {IDC_PROGRESS_FILE, IDC_PROGRESS_STATUS, IDC_PROGRESS_BYTES, IDCANCEL}) {
            closing.texts[id] = ItemText(message->hwnd, id);
        }
        HWND list = GetDlgItem(message->hwnd, IDC_PROGRESS_LIST);
        closing.rows = test::ListRows(list, 5);
        closing.listVisible = IsWindowVisible(list) != FALSE;
    }
    return CallNextHookEx(closingHook, code, wParam, lParam);
}

class TransferFilesTest : public testing::Test {
protected:
    void SetUp() override {
        SetHelpViewer(RecordHelp);
        TakeHelp();
        folder_ = std::filesystem::temp_directory_path() /
                  ("tollan-dialogs-" + std::to_string(GetCurrentProcessId()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_ / "out");
        std::filesystem::create_directories(folder_ / "in");
        block_.Reset(folder_.string() + "\\", 1);
        block_.MaxTitle.Assign(kTitle);
        block_.MinTitle.Assign(kMinTitle);
        block_.SetBaudRate(115200);
        lists_.ports = {PortName("COM5"), PortName("COM9")}; // COM9 has no device
    }
    void TearDown() override {
        SetHelpViewer(nullptr);
        // The file prompt leaves the process in the folder of the files chosen.
        std::filesystem::current_path(std::filesystem::temp_directory_path());
        std::filesystem::remove_all(folder_);
    }

    // Runs TransferFiles on a host thread; Result() waits for it.
    void Start(bool prompt, bool showErrors) {
        host_ = std::make_unique<HostThread>([this, prompt, showErrors] {
            closingHook =
                SetWindowsHookExA(WH_GETMESSAGE, CatchClosing, nullptr, GetCurrentThreadId());
            sizeHook = SetWindowsHookExA(WH_CALLWNDPROC, WatchSize, nullptr, GetCurrentThreadId());
            result_ =
                RunTransferFiles(block_, lists_, GetModuleHandleA(nullptr), prompt, showErrors);
            UnhookWindowsHookEx(closingHook);
            UnhookWindowsHookEx(sizeHook);
        });
    }
    std::int32_t Result() {
        EXPECT_TRUE(host_->Ended()) << "TransferFiles did not return";
        host_->Join();
        return result_;
    }

    std::string Path(const char* name) const { return (folder_ / name).string(); }
    std::string Write(const char* name, const std::string& data) const {
        std::ofstream(folder_ / name, std::ios::binary) << data;
        return Path(name);
    }

    std::filesystem::path folder_;
    SettingsBlock block_;
    DeviceLists lists_;
    std::unique_ptr<HostThread> host_;
    std::int32_t result_ = -1;
};

// A port that cannot be opened, ShowErrors on: the dialog stays open for the user to read,
// in each layout.
TEST_F(TransferFilesTest, ProgressDialogLayoutsAroundAFailedRun) {
    struct Layout {
        bool verbose, logToScreen, runMinimized;
        int transfer, hostMode;
        Protocol protocol;
        const char* mode;
        const char* protocolName;
    };
    const Layout layouts[] = {
        {false, false, false, 1, 0, Protocol::kZModem, "Transmit", "Z-Modem"},
        {true, true, false, 0, 1, Protocol::kZModem, "Host", "Z-Modem"},
        {true, false, true, 0, 0, Protocol::kXModem, "Receive", "X-Modem"}, // verbose wins
        {false, true, true, 1, 0, Protocol::kAckNak, "Transmit", "ACK/NAK"},
    };
    LONG heightWithList = 0;
    LONG heightWithout = 0;
    LONG listHeight = 0;
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.mode + std::string(" ") + layout.protocolName);
        block_.Verbose = layout.verbose;
        block_.LogToScreen = layout.logToScreen;
        block_.RunMinimized = layout.runMinimized;
        block_.Transfer = layout.transfer;
        block_.HostMode = layout.hostMode;
        block_.Protocol = layout.protocol;
        block_.Port = 1; // COM9
        block_.SetFileList(u"x");

        const bool minimised = layout.runMinimized && !layout.verbose;
        sawMinTitle = false;
        Start(false, true);
        HWND dialog = FindDialog(kTitle);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(sawMinTitle.load(), minimised) << "the caption follows the minimised state";
        ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(GetDlgItem(dialog, 9)) != FALSE; }));
        EXPECT_EQ(ItemText(dialog, IDC_PROGRESS_PORT), "COM9");
        EXPECT_EQ(ItemText(dialog, IDC_PROGRESS_PROTOCOL), layout.protocolName);
        EXPECT_EQ(ItemText(dialog, IDC_PROGRESS_MODE), layout.mode);
        EXPECT_EQ(ItemText(dialog, IDC_PROGRESS_BAUD_RATE), "115200");
        EXPECT_EQ(ItemText(dialog, IDC_PROGRESS_STATUS), "Error opening the COM port");
        EXPECT_EQ(ItemText(dialog, IDC_PROGRESS_FILE), "");
        EXPECT_EQ(ItemText(dialog, IDCANCEL), "Close");

        HWND errors = GetDlgItem(dialog, IDC_PROGRESS_ERRORS);
        EXPECT_EQ(IsWindowVisible(errors) != FALSE, layout.verbose);
        EXPECT_EQ(IsWindowVisible(GetDlgItem(dialog, IDC_PROGRESS_ERROR_LABEL)) != FALSE,
                  layout.verbose);
        const bool spans = test::ScreenRect(GetDlgItem(dialog, IDC_PROGRESS_BYTES)).right ==
                           test::ScreenRect(errors).right;
        EXPECT_EQ(spans, !layout.verbose) << "the progress text reaches the error count's edge";
        HWND list = GetDlgItem(dialog, IDC_PROGRESS_LIST);
        EXPECT_EQ(IsWindowVisible(list) != FALSE, layout.logToScreen);
        if (!IsIconic(dialog)) {
            RECT rect = test::ScreenRect(dialog);
            (layout.logToScreen ? heightWithList : heightWithout) = rect.bottom - rect.top;
            if (layout.logToScreen) {
                RECT listRect = test::ScreenRect(list);
                listHeight = listRect.bottom - listRect.top;
                EXPECT_EQ(test::ListRows(list, 5).size(), 0u) << "no file, no row";
            }
        }

        Press(dialog, 9);
        EXPECT_TRUE(WaitFor([] { return !helpAsked.empty(); }));
        EXPECT_EQ(TakeHelp(),
                  (std::vector<std::pair<std::string, DWORD>>{{block_.HelpFile.c_str(), 30}}));
        Press(dialog, IDCANCEL);
        EXPECT_EQ(Result(), kResultPortOpenFailed);
        EXPECT_EQ(block_.Attempted, 1);
    }
    // The dialog without its list is shorter by the list's height.
    EXPECT_GT(listHeight, 0);
    EXPECT_EQ(heightWithList - heightWithout, listHeight);

    // ShowErrors off: the failed run closes the dialog by itself.
    Start(false, false);
    EXPECT_EQ(Result(), kResultPortOpenFailed);
    EXPECT_EQ(closing.texts[IDC_PROGRESS_STATUS], "Error opening the COM port");
}

// Codes 1 to 4: the message, the caption, Help at the code's topic, and no run.
TEST_F(TransferFilesTest, RefusedRunsShowTheirMessage) {
    struct Refusal {
        Protocol protocol;
        FlowControl flowControl;
        int hostMode;
        PathSwitch pathSwitch;
        const char16_t* list;
        std::int32_t code;
        const char* message;
    };
    const Refusal refusals[] = {
        {Protocol::kXModem, FlowControl::kXonXoff, 1, PathSwitch::kStripPath, u"a", 1,
         "XON/XOFF flow control is only\nallowed with Z-Modem protocol."},
        {Protocol::kAckNak, FlowControl::kNone, 1, PathSwitch::kStripPath, u"a", 2,
         "Host mode is only allowed\nwith Z-Modem protocol."},
        {Protocol::kXModem, FlowControl::kNone, 0, PathSwitch::kStripPath, u"", 3,
         "At least one filename\nis required."},
        {Protocol::kZModem, FlowControl::kNone, 0, PathSwitch::kReceiverNames, u"a;b;c", 4,
         "A new path/filename for\nthe receiver is missing."},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.code);
        block_.Protocol = refusal.protocol;
        block_.FlowControl = refusal.flowControl;
        block_.HostMode = refusal.hostMode;
        block_.Transfer = 1;
        block_.PathSwitch = refusal.pathSwitch;
        block_.SetFileList(refusal.list);
        Start(false, true);
        HWND box = FindDialog(kTitle);
        ASSERT_NE(box, nullptr);
        const std::vector<std::string> texts = test::StaticTexts(box);
        EXPECT_NE(std::find(texts.begin(), texts.end(), refusal.message), texts.end());
        EXPECT_EQ(GetDlgItem(box, IDC_PROGRESS_STATUS), nullptr) << "no progress dialog";
        Press(box, IDHELP);
        EXPECT_TRUE(WaitFor([] { return !helpAsked.empty(); }));
        EXPECT_EQ(TakeHelp(), (std::vector<std::pair<std::string, DWORD>>{
                                  {block_.HelpFile.c_str(), 12 + refusal.code}}));
        Press(box, IDOK);
        EXPECT_EQ(Result(), refusal.code);

        // Without ShowErrors the same refusal is silent.
        Start(false, false);
        EXPECT_EQ(Result(), refusal.code);
    }
}

// A receiver on COM6 in this process, run by the portable driver with no one to watch it.
class Receiver : public TransferView {
public:
    explicit Receiver(RunSettings settings)
        : driver_(std::move(settings), result_, *this, [](std::uint32_t r, std::uint32_t t) {
              return std::make_shared<Win32SerialPort>(5, r, t);
          }) {
        driver_.Start();
    }
    // A host run waits for its next sender until it is stopped.
    ~Receiver() override {
        driver_.Stop();
        driver_.Wait();
    }
    void TransferEnded() override { driver_.Stop(); }
    std::int32_t Result() {
        driver_.Wait();
        return result_.result;
    }

private:
    RunResult result_;
    TransferDriver driver_;
};

// A ZModem batch to a receiver: the dialog closes by itself, its list and the log have one line
// per file, the counters are right and the copies are whole.
TEST_F(TransferFilesTest, BatchListsEachFileInTheDialogAndTheLog) {
    std::string first(70000, '\0');
    for (std::size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<char>(i * 7 + i / 251);
    }
    const std::string second = "second file\r\n";
    const std::string firstPath = Write("out\\first.bin", first);
    const std::string secondPath = Write("out\\second.txt", second);
    block_.Protocol = Protocol::kZModem;
    block_.Transfer = 1;
    block_.LogToScreen = 1;
    block_.Verbose = 1;
    block_.LogToFile = 1;
    block_.LogFilename.Assign(Path("run.log"));
    block_.SetFileList(WidenText(firstPath + ";" + secondPath));

    RunSettings receive;
    receive.protocol = Protocol::kZModem;
    receive.direction = Direction::kReceive;
    receive.hostMode = true; // into the default folder, under the sender's names
    receive.defaultDir = Path("in");
    receive.baudRate = 115200;
    receive.recvTimeout = 20;
    Receiver receiver(receive);
    Start(false, true);
    EXPECT_EQ(Result(), kResultOk);
    EXPECT_EQ(block_.Attempted, 2);
    EXPECT_EQ(block_.Transferred, 2);

    EXPECT_EQ(closing.texts[IDC_PROGRESS_STATUS], "2 / 2 File(s) sent.");
    EXPECT_EQ(closing.texts[IDC_PROGRESS_FILE], secondPath);
    EXPECT_EQ(closing.texts[IDC_PROGRESS_BYTES], "13 / 13 bytes");
    EXPECT_TRUE(closing.listVisible);
    ASSERT_EQ(closing.rows.size(), 2u);
    EXPECT_EQ(closing.rows[0][0], firstPath);
    EXPECT_EQ(closing.rows[0][1], "OK");
    EXPECT_EQ(closing.rows[0][4], "70000");
    EXPECT_EQ(closing.rows[1][0], secondPath);
    EXPECT_EQ(closing.rows[1][4], "13");

    std::ifstream log(Path("run.log"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(0, 41), std::string("FILENAME") + std::string(33, ' '));
    for (int i = 0; i < 2; ++i) {
        const auto& row = closing.rows[static_cast<std::size_t>(i)];
        char expected[512];
        std::snprintf(expected, sizeof expected, "%-40s %-30s %-10s %-10s %s", row[0].c_str(), "OK",
                      row[2].c_str(), row[3].c_str(), row[4].c_str());
        EXPECT_EQ(lines[static_cast<std::size_t>(i) + 1], expected);
    }

    std::ifstream copy(Path("in\\first.bin"), std::ios::binary);
    std::stringstream got;
    got << copy.rdbuf();
    EXPECT_TRUE(got.str() == first);
}

// The file-open dialog's name box, whichever of the two names it has.
void TypeFileNames(HWND prompt, const char* names) {
    for (int id : {0x47c, 0x480}) {
        SetDlgItemTextA(prompt, id, names);
    }
    Press(prompt, IDOK);
}

void SelectRow(HWND list, int row) {
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&state));
}

// The file prompt of a ZModem send that names each file for the receiver: three files chosen,
// the second renamed; Cancel; an emptied name; and a cancelled prompt for XModem.
TEST_F(TransferFilesTest, FilePromptAndReceiverNames) {
    for (const char* name : {"out\\a.txt", "out\\b.txt", "out\\c.txt"}) {
        Write(name, name);
    }
    const std::string out = Path("out");
    block_.DefaultDir.Assign(out);
    block_.Protocol = Protocol::kZModem;
    block_.Transfer = 1;
    block_.PathSwitch = PathSwitch::kReceiverNames;
    block_.Port = 1; // COM9: the run that follows ends at once
    block_.SetFileList(u"old");

    // Three files, the second renamed, OK.
    Start(true, false);
    HWND prompt = FindDialog("Select File to Transfer");
    ASSERT_NE(prompt, nullptr);
    TypeFileNames(prompt, "\"a.txt\" \"b.txt\" \"c.txt\"");
    HWND sendAs = FindDialog("Send File As ...");
    ASSERT_NE(sendAs, nullptr);
    HWND list = GetDlgItem(sendAs, IDC_SEND_AS_LIST);
    using Rows = std::vector<std::vector<std::string>>;
    EXPECT_EQ(
        test::ListRows(list, 2),
        (Rows{{out + "\\a.txt", "a.txt"}, {out + "\\b.txt", "b.txt"}, {out + "\\c.txt", "c.txt"}}));
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 0);
    SelectRow(list, 1);
    Press(sendAs, IDC_SEND_AS_EDIT);
    HWND edit = FindDialog("Edit Receiver File Name");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(ItemText(edit, IDC_EDIT_SENDER_NAME), out + "\\b.txt");
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(edit, IDC_EDIT_SENDER_NAME)));
    EXPECT_EQ(ItemText(edit, IDC_EDIT_RECEIVER_NAME), "b.txt");
    Press(edit, IDC_DIALOG_HELP);
    SetDlgItemTextA(edit, IDC_EDIT_RECEIVER_NAME, "renamed.txt");
    Press(edit, IDOK);
    EXPECT_TRUE(WaitFor([&] {
        auto rows = test::ListRows(list, 2);
        return rows.size() == 3 && rows[1][1] == "renamed.txt";
    }));
    Press(sendAs, IDC_DIALOG_HELP);
    EXPECT_TRUE(WaitFor([] { return helpAsked.size() == 2; }));
    EXPECT_EQ(TakeHelp(), (std::vector<std::pair<std::string, DWORD>>{
                              {block_.HelpFile.c_str(), 9}, {block_.HelpFile.c_str(), 8}}));
    Press(sendAs, IDOK);
    EXPECT_EQ(Result(), kResultPortOpenFailed);
    EXPECT_EQ(NarrowText(block_.FileList),
              out + "\\a.txt;a.txt;" + out + "\\b.txt;renamed.txt;" + out + "\\c.txt;c.txt");
    EXPECT_EQ(block_.Attempted, 3);

    // One file; its receiver name emptied, then OK: code 4 with its message.
    Start(true, true);
    TypeFileNames(FindDialog("Select File to Transfer"), "a.txt");
    sendAs = FindDialog("Send File As ...");
    ASSERT_NE(sendAs, nullptr);
    list = GetDlgItem(sendAs, IDC_SEND_AS_LIST);
    EXPECT_EQ(test::ListRows(list, 2), (Rows{{out + "\\a.txt", "a.txt"}}));
    Press(sendAs, IDC_SEND_AS_EDIT);
    edit = FindDialog("Edit Receiver File Name");
    ASSERT_NE(edit, nullptr);
    SetDlgItemTextA(edit, IDC_EDIT_RECEIVER_NAME, "");
    Press(edit, IDOK);
    EXPECT_TRUE(WaitFor([&] {
        auto rows = test::ListRows(list, 2);
        return rows.size() == 1 && rows[0][1].empty();
    }));
    Press(sendAs, IDOK);
    HWND box = FindDialog(kTitle);
    ASSERT_NE(box, nullptr);
    Press(box, IDOK);
    EXPECT_EQ(Result(), kResultNoReceiverName);
    EXPECT_TRUE(block_.FileList.empty());

    // Cancel in "Send File As ...": code 6, no message even with ShowErrors.
    Start(true, true);
    TypeFileNames(FindDialog("Select File to Transfer"), "a.txt");
    sendAs = FindDialog("Send File As ...");
    ASSERT_NE(sendAs, nullptr);
    Press(sendAs, IDCANCEL);
    EXPECT_EQ(Result(), kResultUserCancelled);

    // A cancelled prompt for an XModem send leaves no name: code 3.
    block_.Protocol = Protocol::kXModem;
    Start(true, false);
    prompt = FindDialog("Select File to Transfer");
    ASSERT_NE(prompt, nullptr);
    Press(prompt, IDCANCEL);
    EXPECT_EQ(Result(), kResultNoFileName);
    EXPECT_TRUE(block_.FileList.empty());
}

} // namespace
} // namespace tollan
