// Help as it ships, under Wine: HelpFile names tollan.hlp, which is not there, and tollan.chm lies
// beside it. Help on a setup page and on a refusal box opens the HTML Help viewer on the .chm
// (Wine's draws its window and contents; without its browser engine, not the page itself), and
// no message that the topic cannot be shown. With TOLLAN_HELP_SHOT=FOLDER the setup page's viewer
// waits for scripts/help-screenshot (FOLDER/help.ready, then FOLDER/help.done).
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "component/win32_transfer_files.h"
#include "settings/device_lists.h"
#include "settings/settings_block.h"
#include "setup/win32_setup_sheet.h"
#include "support/scratch_folder.h"
#include "support/win32_sheet_driver.h"

namespace tollan {
namespace {

using namespace tollan::testing;

constexpr const char* kTitle = "tollan help test";

class HtmlHelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string built = TOLLAN_TEST_HELP_FILE; // a path on the Linux side: drive Z:
        for (char& c : built) {
            c = c == '/' ? '\\' : c;
        }
        std::filesystem::copy_file("Z:" + built, folder_.Root() / "tollan.chm");
        block_.Reset(folder_.Root().string() + "\\", 1);
        block_.MaxTitle.Assign(kTitle);
        devices_.ports = {PortName("COM5")};
    }

    // The viewer that Help opened, shown at the file's contents; closed again.
    void ExpectViewerAndClose() {
        // The viewer is found once it is whole: Help may still be building it on its thread.
        HWND viewer = nullptr;
        ASSERT_TRUE(WaitFor([&] {
            viewer = FindWindowA("HH Parent", "tollan help");
            return viewer != nullptr && FindWindowExA(viewer, nullptr, "HH Child", nullptr);
        })) << "no HTML Help viewer with its contents";
        EXPECT_EQ(FindWindowA("#32770", "Help"), nullptr) << "a message instead of the topic";
        if (const char* shot = std::getenv("TOLLAN_HELP_SHOT")) {
            const std::filesystem::path folder = shot;
            SetForegroundWindow(viewer);
            Sleep(1000);
            std::ofstream(folder / "help.ready").put('\n');
            WaitFor([&] { return std::filesystem::exists(folder / "help.done"); }, 60000);
        }
        PostMessageA(viewer, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitUntilClosed(viewer));
    }

    test::ScratchFolder folder_;
    SettingsBlock block_;
    DeviceLists devices_;
};

TEST_F(HtmlHelpTest, TheGeneralPagesHelpOpensTheChm) {
    ASSERT_EQ(std::string(block_.HelpFile.view()), folder_.Path("tollan.hlp"));
    RunDriven(
        "Setup " + std::string(kTitle),
        [&] {
            return RunSetupSheet(GetModuleHandleA(nullptr), nullptr, block_, devices_,
                                 SetupPages{true, true, false, false});
        },
        [&](HWND sheet) {
            SendMessageA(sheet, WM_COMMAND, IDHELP, 0);
            ExpectViewerAndClose();
            PressSheetButton(sheet, PSBTN_CANCEL);
        });
}

TEST_F(HtmlHelpTest, ARefusalBoxsHelpOpensTheChm) {
    block_.FlowControl = FlowControl::kXonXoff; // with XModem: refused with 1
    block_.SetFileList(u"a");
    std::future<std::int32_t> run = std::async(std::launch::async, [&] {
        return RunTransferFiles(block_, devices_, GetModuleHandleA(nullptr), false, true);
    });
    HWND box = WaitForDialog(kTitle);
    ASSERT_NE(box, nullptr);
    ClickLater(box, IDHELP);
    ExpectViewerAndClose();
    ClickLater(box, IDOK);
    EXPECT_EQ(run.get(), 1);
}

} // namespace
} // namespace tollan
