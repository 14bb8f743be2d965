// What a transfer run takes from the settings block, read once when the run starts, and the few
// fields the run writes back. The driver sees the block only through these, so that it does not
// depend on the block's layout.
#pragma once

#include <cstdint>
#include <string>

#include "engine/setting_values.h"

namespace tollan {

struct SettingsBlock;

struct RunSettings {
    Protocol protocol = Protocol::kXModem;
    Direction direction = Direction::kTransmit;
    bool hostMode = false;
    std::int32_t baudRate = 19200;
    FlowControl flowControl = FlowControl::kNone; // a value out of range leaves the line alone
    int maxErrors = 0;
    Overwrite overwrite = Overwrite::kNever;
    PathSwitch pathSwitch = PathSwitch::kStripPath;
    // Not in the settings block: the command alone offers the choice. A host run always keeps
    // received names inside its folder.
    OfferedPaths offeredPaths = OfferedPaths::kInsideFolder;
    CrashRecovery crashRecovery = CrashRecovery::kNever;
    WindowSize windowSize = WindowSize::kStreaming;
    std::int32_t sendTimeout = 60; // seconds, 0 = never
    std::int32_t recvTimeout = 60;
    bool useModem = false;
    // Through a modem: its display name and settings key (the caller fills them from the modem
    // list), the extra AT command sent before dialling or answering, and the number dialled.
    std::string modemName;
    std::string modemKey;
    std::string modemCmd;
    std::string telephone;
    // Only the command offers lines without a carrier wire, where "CONNECT" alone decides.
    bool carrierWire = true;
    std::string fileList; // single-byte text, ";"-separated; empty when the list is empty
    // A name had a character that the single-byte text cannot hold: the list names other files.
    bool namesLost = false;
    std::string defaultDir;
    bool logToFile = false;
    bool appendToLog = false;
    std::string logFilename;
    // Waits that the line does not need are left out (the command); the component keeps the
    // fixed waits its hosts have always seen.
    bool answerAtOnce = false;
    // The command's ways with files, where the component keeps its own: a sender's item that
    // names an existing file is that file (no pattern); a declined file is skipped with its
    // reason and the batch goes on; crash recovery resumes whatever the overwrite choice.
    bool literalNames = false;
    bool skipDeclined = false;
    bool resumeFirst = false;
    // The command follows what its peers (sx, rz, bootloaders, web terminals) expect where the
    // component keeps the behaviour its hosts have always seen: XModem padding, 1024-byte
    // blocks in the XModem receiver, and a ZModem sender that notices an XModem receiver.
    bool peerConventions = false;
    // The command's Kermit: the block check offered, 8th-bit prefixing asked for, the longest
    // packet.
    int kermitCheck = 3;
    bool sevenBit = false;
    int packetLength = 9024;

    bool Transmitting() const { return direction == Direction::kTransmit; }
    // Receiving one sender after another.
    bool HostRun() const { return !Transmitting() && hostMode; }
    // Seconds without progress before the run gives up; 0 = never.
    std::int32_t Timeout() const { return Transmitting() ? sendTimeout : recvTimeout; }
};

RunSettings ReadRunSettings(const SettingsBlock& block);

// The writes of a run.
void AddTransferred(SettingsBlock& block, int files);
void ClearFileList(SettingsBlock& block);
void SwitchLogOff(SettingsBlock& block);

} // namespace tollan
