// The values of the transfer settings, named once. The settings block stores them, the transfer
// driver hands them to the engines, the setup pages and the command offer them: every one of
// these speaks of a protocol, a flow control or a file-management option through the types
// here. Each value carries the number the automation interface and the saved settings use.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace tollan {

// kXModem1K, kYModem and kKermit are the command's only: the settings block keeps to the first
// three.
enum class Protocol : std::int16_t {
    kXModem = 0,
    kZModem = 1,
    kAckNak = 2,
    kXModem1K = 3,
    kYModem = 4,
    kKermit = 5,
};

enum class FlowControl : std::int16_t { kNone = 0, kXonXoff = 1, kRtsCts = 2 };

// Whether a ZModem receiver resumes a file it already holds part of.
enum class CrashRecovery : std::int16_t { kNever = 1, kFollowSender = 2, kAlways = 3 };

// Bytes a ZModem sender may have on the way before it waits for the receiver; 0 streams.
enum class WindowSize : std::int16_t { kStreaming = 0, k1024 = 1024, k2048 = 2048, k4096 = 4096 };

// What a ZModem sender tells the receiver of a file's name.
enum class PathSwitch : std::int16_t {
    kStripPath = 0,     // the bare name
    kSendPath = 1,      // the name with its folders
    kReceiverNames = 2, // the list pairs each file with the name the receiver is to use
};

// What a receiver does with a file it already has, numbered as ZModem's file-management
// options. XModem knows only kAlways (replace) and the rest (refuse); ACK/NAK kAppend, kAlways
// and the rest (refuse).
enum class Overwrite : std::int16_t {
    kNewerOrLonger = 1, // take the file when it is newer or longer
    kCrc = 2,           // take it when its CRC differs
    kAppend = 3,        // add it to the end of the existing file
    kAlways = 4,        // replace the existing file
    kNewer = 5,         // take it when it is newer
    kDiffer = 6,        // take it when its size or time differs
    kNever = 7,         // keep the existing file
};

// What a receiver does with the names a sender offers: keeps them inside the receiving folder
// (a root taken off; a name that climbs out, holds control characters or cannot be a file name
// declined), or writes them as offered.
enum class OfferedPaths : std::int16_t { kInsideFolder = 0, kAsOffered = 1 };

enum class Direction : std::int32_t { kReceive = 0, kTransmit = 1 };

// The number a value stands for.
template <typename E>
constexpr auto NumberOf(E value) {
    return static_cast<std::underlying_type_t<E>>(value);
}

// A value with the word the command spells it with (the window size is spelled as its number).
template <typename E>
struct ValueWord {
    E value;
    std::string_view word;
};

inline constexpr ValueWord<Protocol> kProtocolWords[] = {
    {Protocol::kZModem, "zmodem"}, {Protocol::kXModem, "xmodem"},
    {Protocol::kAckNak, "acknak"}, {Protocol::kXModem1K, "xmodem-1k"},
    {Protocol::kYModem, "ymodem"}, {Protocol::kKermit, "kermit"}};
inline constexpr ValueWord<FlowControl> kFlowControlWords[] = {{FlowControl::kNone, "none"},
                                                               {FlowControl::kXonXoff, "xonxoff"},
                                                               {FlowControl::kRtsCts, "rtscts"}};
inline constexpr ValueWord<CrashRecovery> kCrashRecoveryWords[] = {
    {CrashRecovery::kNever, "never"},
    {CrashRecovery::kFollowSender, "follow"},
    {CrashRecovery::kAlways, "always"}};
inline constexpr ValueWord<PathSwitch> kPathSwitchWords[] = {{PathSwitch::kStripPath, "strip"},
                                                             {PathSwitch::kSendPath, "send"},
                                                             {PathSwitch::kReceiverNames, "pairs"}};
inline constexpr ValueWord<OfferedPaths> kOfferedPathsWords[] = {
    {OfferedPaths::kInsideFolder, "inside"}, {OfferedPaths::kAsOffered, "as-offered"}};
inline constexpr ValueWord<Overwrite> kOverwriteWords[] = {
    {Overwrite::kNewerOrLonger, "newer-or-longer"},
    {Overwrite::kCrc, "crc"},
    {Overwrite::kAppend, "append"},
    {Overwrite::kAlways, "always"},
    {Overwrite::kNewer, "newer"},
    {Overwrite::kDiffer, "differ"},
    {Overwrite::kNever, "never"}};

} // namespace tollan
