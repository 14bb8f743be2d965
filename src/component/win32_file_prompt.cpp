#include "component/win32_file_prompt.h"

#include <commdlg.h>

#include <vector>

#include "component/prompt_selection.h"
#include "settings/settings_block.h"
#include "setup/win32_send_file_as_dialog.h"
#include "transfer/ansi_text.h"
#include "transfer/result_code.h"

namespace tollan {

namespace {

constexpr char kFilter[] = "All\0*.*\0Text Files\0*.txt\0";

} // namespace

std::int32_t PromptForFiles(SettingsBlock& block, HINSTANCE resources) {
    block.SetFileList(u"");
    const bool zmodem = block.Protocol == Protocol::kZModem;

    std::vector<char> buffer(kPromptBufferSize + 2, '\0');
    OPENFILENAMEA prompt{};
    prompt.lStructSize = sizeof prompt;
    prompt.hwndOwner = GetActiveWindow();
    prompt.lpstrFilter = kFilter;
    prompt.nFilterIndex = 1;
    prompt.lpstrFile = buffer.data();
    prompt.nMaxFile = kPromptBufferSize;
    prompt.lpstrInitialDir = block.DefaultDir.c_str();
    prompt.lpstrTitle = block.Transfer != 0 ? "Select File to Transfer" : "Select File to Receive";
    prompt.Flags = OFN_EXPLORER | OFN_LONGNAMES | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST |
                   OFN_NONETWORKBUTTON | OFN_NODEREFERENCELINKS | OFN_NOTESTFILECREATE;
    if (zmodem) {
        prompt.Flags |= OFN_ALLOWMULTISELECT;
    }
    if (!GetOpenFileNameA(&prompt)) {
        return kResultOk; // cancelled, or more than the buffer holds
    }

    PromptSelection selection = ParseSelection(buffer.data(), buffer.size());
    block.Attempted = selection.Attempted();
    if (selection.strings.empty()) {
        return kResultOk;
    }
    if (zmodem && block.Transfer != 0 && block.PathSwitch == PathSwitch::kReceiverNames) {
        std::vector<std::string> names(selection.strings.begin() + (selection.Multiple() ? 1 : 0),
                                       selection.strings.end());
        SendFileAsDialog dialog(resources, selection.Folder(), std::move(names),
                                block.HelpFile.c_str());
        INT_PTR closed = dialog.Run(GetActiveWindow());
        if (dialog.Result().empty()) {
            return closed == IDOK ? kResultNoReceiverName : kResultUserCancelled;
        }
        block.SetFileList(WidenText(dialog.Result()));
        return kResultOk;
    }
    block.SetFileList(WidenText(zmodem ? selection.FileList() : selection.strings.front()));
    return kResultOk;
}

} // namespace tollan
