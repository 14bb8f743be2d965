#include "component/win32_transfer_files.h"

#include <memory>
#include <utility>

#include "component/win32_file_prompt.h"
#include "component/win32_validation_message.h"
#include "link/win32_modem_source.h"
#include "link/win32_serial_port.h"
#include "settings/device_lists.h"
#include "settings/settings_block.h"
#include "transfer/result_code.h"
#include "transfer/run_settings.h"
#include "transfer/transfer_driver.h"
#include "transfer/transfer_request.h"
#include "transfer/win32_progress_dialog.h"

namespace tollan {

namespace {

TransferRequest RequestOf(const SettingsBlock& block) {
    return RequestOf(ReadRunSettings(block));
}

// A refusal: its message when errors are to be shown (none for a cancel), and its code.
std::int32_t Refuse(const SettingsBlock& block, std::int32_t code, bool showErrors) {
    if (showErrors && code != kResultUserCancelled) {
        ShowValidationMessage(GetActiveWindow(), code, block.MaxTitle.c_str(),
                              block.HelpFile.c_str());
    }
    return code;
}

} // namespace

PortFactory SelectedPortFactory(const SettingsBlock& block, const DeviceLists& lists) {
    std::int32_t number = -1;
    if (block.UseModem != 0) {
        if (const ModemEntry* modem = lists.ModemAt(block.ModemName)) {
            number = modem->port;
        }
    } else if (const PortName* port = lists.PortAt(block.Port)) {
        number = PortNumberOf(port->view()) - 1;
    } else if (block.Port == kUnlistedPort && block.UnlistedPort > 0) {
        // The system's port list is only a listing: under Wine its entries go when the prefix's
        // server restarts, and some virtual-port drivers never add theirs. The number asked for
        // is opened by its name; a port that is not there fails to open like any other.
        number = block.UnlistedPort - 1;
    }
    return [number](std::uint32_t receiveSize,
                    std::uint32_t transmitSize) -> std::shared_ptr<CommPort> {
        if (number < 0) {
            return nullptr;
        }
        return std::make_shared<Win32SerialPort>(static_cast<std::uint32_t>(number), receiveSize,
                                                 transmitSize);
    };
}

std::int32_t RunTransferFiles(SettingsBlock& block, const DeviceLists& lists, HINSTANCE resources,
                              bool filePrompt, bool showErrors) {
    block.Attempted = 0;
    block.Transferred = 0;

    if (std::int32_t refused = CheckCombination(RequestOf(block)); refused != kResultOk) {
        return Refuse(block, refused, showErrors);
    }
    if (filePrompt) {
        if (std::int32_t prompted = PromptForFiles(block, resources); prompted != kResultOk) {
            return Refuse(block, prompted, showErrors);
        }
    }
    const TransferRequest request = RequestOf(block);
    if (block.FileList.empty()) {
        if (!RunsWithoutNames(request)) {
            return Refuse(block, kResultNoFileName, showErrors);
        }
    } else if (!filePrompt) {
        std::uint16_t attempted = 0;
        std::int32_t counted = CountAttempted(request, CountNames(block.FileList), attempted);
        if (counted != kResultOk) {
            return Refuse(block, counted, showErrors);
        }
        block.Attempted = attempted;
    }

    RunResult result;
    result.showErrors = showErrors ? 1 : 0;
    Win32ProgressDialog dialog(resources, ProgressDialogSetupOf(block, lists));
    RunSettings run = ReadRunSettings(block);
    if (const ModemEntry* modem = lists.ModemAt(block.ModemName)) {
        run.modemName = modem->name.c_str();
        run.modemKey = modem->key.c_str();
    }
    TransferDriver driver(std::move(run), result, dialog, SelectedPortFactory(block, lists),
                          &block);
    driver.SetModemSource(std::make_shared<Win32ModemSource>());
    if (dialog.Run(GetActiveWindow(), driver) == -1) {
        // The dialog could not be made: nothing ran.
        return kResultUnknownError;
    }
    if (block.Attempted == 0) {
        block.Attempted = static_cast<std::uint16_t>(driver.FilesSeen());
    }
    return result.result;
}

} // namespace tollan
