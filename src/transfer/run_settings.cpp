#include "transfer/run_settings.h"

#include "settings/settings_block.h"
#include "transfer/ansi_text.h"

namespace tollan {

RunSettings ReadRunSettings(const SettingsBlock& block) {
    RunSettings run;
    run.protocol = block.Protocol;
    run.direction = block.Transfer != 0 ? Direction::kTransmit : Direction::kReceive;
    run.hostMode = block.HostMode != 0;
    run.baudRate = block.BaudRate;
    run.flowControl = block.FlowControl;
    run.maxErrors = block.MaxErrors;
    run.overwrite = block.Overwrite;
    run.pathSwitch = block.PathSwitch;
    run.crashRecovery = block.CrashRecovery;
    run.windowSize = block.WindowSize;
    run.sendTimeout = block.SendTimeout;
    run.recvTimeout = block.RecvTimeout;
    run.useModem = block.UseModem != 0;
    run.modemCmd = block.ModemCmd.c_str();
    run.telephone = block.Telephone.c_str();
    run.fileList = NarrowText(block.FileList);
    run.namesLost = WidenText(run.fileList) != block.FileList;
    run.defaultDir = block.DefaultDir.c_str();
    run.logToFile = block.LogToFile != 0;
    run.appendToLog = block.AppendToLog != 0;
    run.logFilename = block.LogFilename.c_str();
    return run;
}

void AddTransferred(SettingsBlock& block, int files) {
    block.Transferred = static_cast<std::uint16_t>(block.Transferred + files);
}

void ClearFileList(SettingsBlock& block) {
    block.FileList.clear();
}

void SwitchLogOff(SettingsBlock& block) {
    block.LogToFile = 0;
}

} // namespace tollan
