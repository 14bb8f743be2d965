// What a transfer run takes from the settings block, read once when the run starts, and the few
// fields the run writes back. The driver sees the block only through these, so that it does not
// depend on the block's layout.
#pragma once

#include <cstdint>
#include <string>

namespace tollan {

struct SettingsBlock;

// Values of RunSettings::protocol and RunSettings::flowControl, as the block stores them.
enum class RunProtocol : int { kXModem = 0, kZModem = 1, kAckNak = 2 };
enum class RunFlow : int { kNone = 0, kXonXoff = 1, kRtsCts = 2 };

struct RunSettings {
    RunProtocol protocol = RunProtocol::kXModem;
    bool transmit = true;
    bool hostMode = false;
    std::int32_t baudRate = 19200;
    int flowControl = 0; // RunFlow; other values leave the line's flow control alone
    int maxErrors = 0;
    int overwrite = 7;
    int pathSwitch = 0;
    int crashRecovery = 1;
    int windowSize = 0;
    std::int32_t sendTimeout = 60; // seconds, 0 = never
    std::int32_t recvTimeout = 60;
    bool useModem = false;
    std::string fileList; // single-byte text, ";"-separated; empty when the list is empty
    std::string defaultDir;
    bool logToFile = false;
    bool appendToLog = false;
    std::string logFilename;

    // Receiving one sender after another.
    bool HostRun() const { return !transmit && hostMode; }
    // Seconds without progress before the run gives up; 0 = never.
    std::int32_t Timeout() const { return transmit ? sendTimeout : recvTimeout; }
};

RunSettings ReadRunSettings(const SettingsBlock& block);

// The writes of a run.
void AddTransferred(SettingsBlock& block, int files);
void ClearFileList(SettingsBlock& block);
void SwitchLogOff(SettingsBlock& block);

} // namespace tollan
