// TransferFiles with its real dialogs, under Wine: the progress dialog's layouts and texts, the
// message boxes of refused runs, the file prompt with the "Send File As ..." and "Edit Receiver
// File Name" dialogs, and a ZModem batch over COM5 to a receiver on COM6 (tests/win32/wine-run
// joins the two) with its list rows. TransferFiles runs on a host thread; the test thread finds
// the dialogs, reads them and presses their buttons. Help files lie nowhere, so that the system's
// viewer shows a message naming the file and the topic instead.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "component/win32_transfer_files.h"
#include "link/win32_serial_port.h"
#include "settings/device_lists.h"
#include "settings/settings_block.h"
#include "support/scratch_folder.h"
#include "support/test_files.h"
#include "support/win32_sheet_driver.h"
#include "transfer/ansi_text.h"
#include "transfer/result_code.h"
#include "transfer/run_settings.h"
#include "transfer/transfer_driver.h"
#include "transfer/win32_progress_dialog.h"
#include "ui/resource_ids.h"

namespace tollan {
namespace {

using namespace tollan::testing;
using Table = std::vector<std::vector<std::string>>;

constexpr const char* kTitle = "tollan dialog test";
constexpr const char* kMinTitle = "tollan dialog test (minimised)";
constexpr const char* kHelpFile = "C:\\nowhere\\tollan.chm";

// Presses `button` on `owner` and closes the message, which must follow, that help of `topic` in
// `file` cannot be shown.
void ExpectHelpMessage(HWND owner, int button, int topic, const std::string& file) {
    ClickLater(owner, button);
    HWND box = WaitForDialog("Help");
    const std::vector<std::string> texts = StaticTexts(box);
    const std::string expected =
        "Help topic " + std::to_string(topic) + " of " + file + " cannot be shown.";
    EXPECT_NE(std::find(texts.begin(), texts.end(), expected), texts.end()) << expected;
    ClickLater(box, IDOK);
    WaitUntilClosed(box);
}

// What the progress dialog shows when the worker thread tells it to close, caught on the host
// thread before the dialog handles the message.
std::map<int, std::string> closingTexts;
Table closingRows;

// Whether the progress dialog took the minimised caption, seen on the host thread (Wine soon
// shows a minimised dialog box again in its normal size).
std::atomic<bool> sawMinTitle = false;

LRESULT CALLBACK WatchForMinTitle(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && message->message == WM_SETTEXT && message->lParam != 0 &&
        lstrcmpA(reinterpret_cast<const char*>(message->lParam), kMinTitle) == 0) {
        sawMinTitle = true;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK CatchClosing(int code, WPARAM wParam, LPARAM lParam) {
    const auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && message->message == Win32ProgressDialog::kRunFinishedMessage) {
        for (int id :
             {IDC_PROGRESS_PORT, IDC_PROGRESS_FILE, IDC_PROGRESS_STATUS, IDC_PROGRESS_BYTES}) {
            closingTexts[id] = TextOf(message->hwnd, id);
        }
        closingRows = Rows(message->hwnd, IDC_PROGRESS_LIST, 5);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class TransferFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder_.Root() / "out");
        std::filesystem::create_directories(folder_.Root() / "in");
        block_.Reset(folder_.Root().string() + "\\", 1);
        block_.MaxTitle.Assign(kTitle);
        block_.MinTitle.Assign(kMinTitle);
        block_.SetBaudRate(115200);
        block_.HelpFile.Assign(kHelpFile);
        lists_.ports = {PortName("COM5"), PortName("COM9")}; // COM9 has no device
    }

    // Runs TransferFiles on a host thread of its own, where its modal dialogs live.
    void Start(bool prompt, bool showErrors) {
        run_ = std::async(std::launch::async, [this, prompt, showErrors] {
            const HHOOK hooks[] = {
                SetWindowsHookExA(WH_GETMESSAGE, CatchClosing, nullptr, GetCurrentThreadId()),
                SetWindowsHookExA(WH_CALLWNDPROC, WatchForMinTitle, nullptr, GetCurrentThreadId())};
            std::int32_t result =
                RunTransferFiles(block_, lists_, GetModuleHandleA(nullptr), prompt, showErrors);
            std::for_each(std::begin(hooks), std::end(hooks), UnhookWindowsHookEx);
            return result;
        });
    }
    std::int32_t Result() {
        EXPECT_EQ(run_.wait_for(std::chrono::milliseconds(kWindowWait)), std::future_status::ready)
            << "TransferFiles did not return";
        return run_.get();
    }

    std::string Path(const char* name) const { return folder_.Path(name); }
    std::string Write(const char* name, const std::string& data) const {
        std::ofstream(folder_.Root() / name, std::ios::binary) << data;
        return Path(name);
    }

    // Entered, so that the folder the file prompt leaves the process in is left again.
    test::ScratchFolder folder_{test::ScratchFolder::kEnter};
    SettingsBlock block_;
    DeviceLists lists_;
    std::future<std::int32_t> run_;
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
        {true, true, false, 0, 1, Protocol::kZModem, "Host", "Z-Modem"},
        {true, false, true, 0, 0, Protocol::kXModem, "Receive", "X-Modem"}, // verbose wins
        {false, true, true, 1, 0, Protocol::kAckNak, "Transmit", "ACK/NAK"},
    };
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

        sawMinTitle = false;
        Start(false, true);
        HWND dialog = WaitForDialog(kTitle);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(sawMinTitle.load(), layout.runMinimized && !layout.verbose)
            << "the caption follows the minimised state";
        const auto visible = [&](int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != 0; };
        ASSERT_TRUE(WaitFor([&] { return visible(9); }));
        const std::map<int, std::string> shown = {
            {IDC_PROGRESS_PORT, "COM9"},
            {IDC_PROGRESS_PROTOCOL, layout.protocolName},
            {IDC_PROGRESS_MODE, layout.mode},
            {IDC_PROGRESS_BAUD_RATE, "115200"},
            {IDC_PROGRESS_STATUS, "Error opening the COM port (no such port)"},
            {IDC_PROGRESS_FILE, ""},
            {IDCANCEL, "Close"}};
        for (const auto& [id, text] : shown) {
            EXPECT_EQ(TextOf(dialog, id), text) << "control " << id;
        }
        EXPECT_EQ(visible(IDC_PROGRESS_ERRORS), layout.verbose);
        EXPECT_EQ(visible(IDC_PROGRESS_ERROR_LABEL), layout.verbose);
        EXPECT_EQ(visible(IDC_PROGRESS_LIST), layout.logToScreen);

        ExpectHelpMessage(dialog, 9, 30, kHelpFile);
        ClickLater(dialog, IDCANCEL);
        EXPECT_EQ(Result(), kResultPortOpenFailed);
        EXPECT_EQ(block_.Attempted, 1);
    }

    // ShowErrors off: the failed run closes the dialog by itself, here on a port number no listed
    // port has (COM5 is the first), which the dialog names.
    block_.SetPort(42, lists_);
    Start(false, false);
    EXPECT_EQ(Result(), kResultPortOpenFailed);
    EXPECT_EQ(closingTexts[IDC_PROGRESS_STATUS], "Error opening the COM port (no such port)");
    EXPECT_EQ(closingTexts[IDC_PROGRESS_PORT], "COM42");
}

// A refused run (code 2 stands for codes 1 to 4, whose messages and order are tested in
// tests/unit): the message, the caption, Help at the code's topic (a help file of no kind the
// system shows), and no run.
TEST_F(TransferFilesTest, ARefusedRunShowsItsMessage) {
    block_.HelpFile.Assign("C:\\nowhere\\tollan.txt");
    block_.Protocol = Protocol::kAckNak;
    block_.HostMode = 1;
    block_.SetFileList(u"a");
    Start(false, true);
    HWND box = WaitForDialog(kTitle);
    ASSERT_NE(box, nullptr);
    const std::vector<std::string> texts = StaticTexts(box);
    EXPECT_NE(std::find(texts.begin(), texts.end(), ValidationMessage(2)), texts.end());
    EXPECT_EQ(GetDlgItem(box, IDC_PROGRESS_STATUS), nullptr) << "no progress dialog";
    ExpectHelpMessage(box, IDHELP, 14, "C:\\nowhere\\tollan.txt");
    ClickLater(box, IDOK);
    EXPECT_EQ(Result(), 2);
    // Without ShowErrors a refusal is silent.
    Start(false, false);
    EXPECT_EQ(Result(), 2);
}

// A receiver on COM6 in this process, run by the portable driver with no one to watch it. A host
// run waits for its next sender until it is stopped: after the batch, or by the driver going.
class Receiver : public TransferView {
public:
    explicit Receiver(RunSettings settings)
        : driver_(std::move(settings), result_, *this, [](std::uint32_t r, std::uint32_t t) {
              return std::make_shared<Win32SerialPort>(5, r, t);
          }) {
        driver_.Start();
    }
    void TransferEnded() override { driver_.Stop(); }

private:
    RunResult result_;
    TransferDriver driver_;
};

// Lists a send cannot go through end the run before the port opens, with code 11 and nothing
// counted: a name the code page lacks a letter of (its '?'s would match notes.txt and plans.txt),
// a file past 2 GiB and one past 4 GiB (both sparse) after a wildcard. Each refusal leaves COM5
// free: the send that follows reaches its receiver, though the port list no longer has COM5 (as
// when Wine's server restarts between two hosts and the entry added by hand is gone).
TEST_F(TransferFilesTest, ListsASendCannotCarryEndBeforeThePortOpens) {
    Write("out\\notes.txt", "n");
    Write("out\\plans.txt", "p");
    const std::u16string cyrillic =
        WidenText(Path("out")) + u"\\\u041e\u0442\u0447\u0435\u0442.txt";
    const auto sparse = [this](const char* name, std::uintmax_t size) {
        Write(name, "");
        std::filesystem::resize_file(Path(name), size);
        return Path(name);
    };
    const std::string large = sparse("out\\large.bin", 0xA0000000u);
    const std::string huge = sparse("out\\huge.bin", 0x100000010u);
    const char* tooLarge = ": 2 GiB or larger; file offsets on the line are 32 bits";
    const std::pair<std::u16string, std::string> cases[] = {
        {cyrillic, "A file name has characters the system's code page lacks."},
        {WidenText(large), large + tooLarge},
        {WidenText(Path("out\\*.txt") + ";" + huge), huge + tooLarge},
    };
    block_.Protocol = Protocol::kZModem;
    block_.Transfer = 1;
    for (const auto& [list, status] : cases) {
        block_.SetFileList(list);
        Start(false, false);
        EXPECT_EQ(Result(), kResultOpenFailed);
        EXPECT_EQ(closingTexts[IDC_PROGRESS_STATUS], status);
        EXPECT_EQ(block_.Transferred, 0);
    }

    RunSettings receive;
    receive.protocol = Protocol::kZModem;
    receive.direction = Direction::kReceive;
    receive.hostMode = true;
    receive.defaultDir = Path("in");
    receive.baudRate = 115200;
    receive.recvTimeout = 20;
    Receiver receiver(receive);
    lists_.ports = {PortName("COM9")};
    block_.SetPort(5, lists_);
    block_.SetFileList(WidenText(Path("out\\notes.txt")));
    Start(false, false);
    EXPECT_EQ(Result(), kResultOk);
    EXPECT_EQ(block_.Transferred, 1);
}

// A ZModem batch to a receiver: the dialog closes by itself, its list has one row per file,
// the counters are right and the copies are whole. The log file cannot be created: the run
// goes on without it and LogToFile is off afterwards. (The log's lines are tested in
// tests/unit/transfer.)
TEST_F(TransferFilesTest, BatchListsEachFileInTheDialog) {
    const test::Bytes first = test::Pattern(70000);
    const std::string firstPath = Path("out\\first.bin");
    test::WriteFile(firstPath, first);
    const std::string secondPath = Write("out\\second.txt", "second file\r\n");
    block_.Protocol = Protocol::kZModem;
    block_.Transfer = 1;
    block_.LogToScreen = 1;
    block_.Verbose = 1;
    block_.LogToFile = 1;
    block_.LogFilename.Assign(Path("no such folder\\run.log"));
    block_.SetFileList(WidenText(firstPath + ";" + secondPath));

    RunSettings receive;
    receive.protocol = Protocol::kZModem;
    receive.direction = Direction::kReceive;
    receive.hostMode = true; // into the default folder, under the sender's names
    // Under the Cyrillic code page (the test runs again under it) the receiver's folder has a
    // name outside Latin-1.
    receive.defaultDir = Path("in") + (GetACP() == 1251 ? "\xc2\xf5\xee\xe4" : "");
    std::filesystem::create_directories(PathOfText(receive.defaultDir));
    receive.baudRate = 115200;
    receive.recvTimeout = 20;
    Receiver receiver(receive);
    Start(false, true);
    EXPECT_EQ(Result(), kResultOk);
    EXPECT_EQ(block_.Attempted, 2);
    EXPECT_EQ(block_.Transferred, 2);
    EXPECT_EQ(block_.LogToFile, 0);

    EXPECT_EQ(closingTexts[IDC_PROGRESS_FILE], secondPath);
    EXPECT_EQ(closingTexts[IDC_PROGRESS_BYTES], "13 / 13 bytes");
    Table rows; // the name, the outcome and the size of each file
    for (const auto& row : closingRows) {
        rows.push_back({row[0], row[1], row[4]});
    }
    EXPECT_EQ(rows, (Table{{firstPath, "OK", "70000"}, {secondPath, "OK", "13"}}));

    EXPECT_TRUE(test::ReadFile(receive.defaultDir + "\\first.bin") == first);
}

// Names files in the file-open dialog's name box (whichever of the two ids it has) and waits
// for "Send File As ...".
HWND ChooseFiles(const char* names) {
    HWND prompt = WaitForDialog("Select File to Transfer");
    for (int id : {0x47c, 0x480}) {
        SetDlgItemTextA(prompt, id, names);
    }
    ClickLater(prompt, IDOK);
    return prompt == nullptr ? nullptr : WaitForDialog("Send File As ...");
}

// Sets the receiver's name of the selected row in "Edit Receiver File Name"; returns the sender's
// name it showed.
std::string EditReceiverName(HWND sendAs, const char* name) {
    ClickLater(sendAs, IDC_SEND_AS_EDIT);
    HWND edit = WaitForDialog("Edit Receiver File Name"); // null: every step below fails
    std::string sender = TextOf(edit, IDC_EDIT_SENDER_NAME);
    TypeText(edit, IDC_EDIT_RECEIVER_NAME, name);
    ClickLater(edit, IDOK);
    WaitUntilClosed(edit);
    return sender;
}

// The file prompt of a ZModem send that names each file for the receiver: three files chosen,
// the second renamed; an emptied name; Cancel; and a cancelled prompt for XModem.
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
    HWND sendAs = ChooseFiles("\"a.txt\" \"b.txt\" \"c.txt\"");
    ASSERT_NE(sendAs, nullptr);
    EXPECT_EQ(Rows(sendAs, IDC_SEND_AS_LIST, 2), (Table{{out + "\\a.txt", "a.txt"},
                                                        {out + "\\b.txt", "b.txt"},
                                                        {out + "\\c.txt", "c.txt"}}));
    SelectRow(sendAs, IDC_SEND_AS_LIST, 1);
    EXPECT_EQ(EditReceiverName(sendAs, "renamed.txt"), out + "\\b.txt");
    ClickLater(sendAs, IDOK);
    EXPECT_EQ(Result(), kResultPortOpenFailed);
    EXPECT_EQ(NarrowText(block_.FileList),
              out + "\\a.txt;a.txt;" + out + "\\b.txt;renamed.txt;" + out + "\\c.txt;c.txt");
    EXPECT_EQ(block_.Attempted, 3);

    // One file; its receiver name emptied, then OK: code 4 (the message box of a refusal is
    // shown in ARefusedRunShowsItsMessage).
    Start(true, false);
    sendAs = ChooseFiles("a.txt");
    ASSERT_NE(sendAs, nullptr);
    EditReceiverName(sendAs, "");
    ClickLater(sendAs, IDOK);
    EXPECT_EQ(Result(), kResultNoReceiverName);
    EXPECT_TRUE(block_.FileList.empty());

    // Cancel in "Send File As ...": code 6, no message even with ShowErrors.
    Start(true, true);
    sendAs = ChooseFiles("a.txt");
    ASSERT_NE(sendAs, nullptr);
    ClickLater(sendAs, IDCANCEL);
    EXPECT_EQ(Result(), kResultUserCancelled);

    // A cancelled prompt for an XModem send leaves no name: code 3.
    block_.Protocol = Protocol::kXModem;
    Start(true, false);
    HWND prompt = WaitForDialog("Select File to Transfer");
    ASSERT_NE(prompt, nullptr);
    ClickLater(prompt, IDCANCEL);
    EXPECT_EQ(Result(), kResultNoFileName);
    EXPECT_TRUE(block_.FileList.empty());
}

} // namespace
} // namespace tollan
