#include "cli/command_line.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string_view>
#include <system_error>

#include "engine/file_access.h"
#include "engine/received_name.h"
#include "link/line_speeds.h"
#include "link/modem_profile.h"
#include "settings/settings_block.h"
#include "transfer/ansi_text.h"
#include "transfer/file_list_check.h"
#include "transfer/transfer_request.h"

namespace tollan {

const char* const kUsageText =
    "tollan send    [options] FILE...\n"
    "tollan receive [options] [FILE...]\n"
    "  -l, --line DEV            serial device: /dev/ttyUSB0, /dev/pts/3, COM3; '-' for standard\n"
    "                            input and output (the default when standard input is no "
    "terminal)\n"
    "  -p, --protocol P          zmodem (default), xmodem, xmodem-1k, ymodem, kermit, acknak\n"
    "                            (any case)\n"
    "  -b, --baud N              default 115200; 230400, 460800, 921600 and the other speeds "
    "the\n"
    "                            serial interface offers; others snap down, and say so\n"
    "      --flow F              none (default), xonxoff, rtscts\n"
    "      --window W            streaming (default), 1024, 2048, 4096\n"
    "      --recover R           crash recovery (ZModem): resume a file the receiver holds part "
    "of,\n"
    "                            from where it ends, whatever --overwrite says. never "
    "(default);\n"
    "                            follow: the receiver resumes when the sender asks (sz -r) and "
    "takes\n"
    "                            the sender's overwrite choice; always: resume every partial "
    "file\n"
    "      --overwrite O         what a receiver does with a file it has already (not resumed):\n"
    "                            never (default: keep it, \"File already exists.\"), always,\n"
    "                            newer, newer-or-longer, differ (size or time), crc (contents),\n"
    "                            append; a file kept is skipped and the batch goes on\n"
    "      --paths P             strip (default), send, pairs (FILE operands alternate sender\n"
    "                            path and receiver name)\n"
    "      --max-errors N        0 (no limit) to 50\n"
    "      --block-check N       kermit: the block check offered, 1, 2 or 3 (default 3)\n"
    "      --seven-bit           kermit: the line carries 7 bits (or parity): prefix the 8th\n"
    "      --packet-length N     kermit: longest packet, 20 to 9024 (default); above 94 long\n"
    "                            packets, where the other side takes them\n"
    "      --timeout S           seconds without progress before giving up; 0 = never (default "
    "60)\n"
    "      --offered-paths P     inside (default): received names stay in the folder; "
    "as-offered\n"
    "      --host                receive one sender after another until interrupted (ZModem)\n"
    "      --dir DIR             folder that received files go into (default: the current "
    "folder)\n"
    "      --log FILE            write the transfer log; --append-log to append\n"
    "      --dial NUMBER         send through a Hayes modem on the line: dial NUMBER first\n"
    "      --answer              receive through a Hayes modem on the line: answer a call first\n"
    "      --modem-init CMD      init command line, instead of AT&F&C1&D2 (may be repeated)\n"
    "      --modem-command CMD   one more command before dialling or answering (no AT)\n"
    "      --dial-prefix P       what goes between AT and NUMBER (default DT: tone)\n"
    "      --hangup CMD          hang-up command line (default ATH0)\n"
    "      --no-carrier-detect   the line has no carrier wire: CONNECT alone connects\n"
    "  -q, --quiet               no progress display\n"
    "  -h, --help, --version\n"
    "A FILE that exists is that file, whatever characters its name holds.\n"
    "Exit status: 0 every file went well (a host run: ended by the user after every file\n"
    "arrived); 1 to 4 settings that do not go together (1 xonxoff or 2 --host without\n"
    "zmodem, 3 no FILE, 4 --paths pairs with a name missing); 5 time-out; 6 interrupted;\n"
    "7 out of memory; 8 no files sent; 9 bad CRC; 10 line too long; 11 a file could not be "
    "opened;\n"
    "12 written (a full disk); 13 read; 14 a file exists already; 15 communications error,\n"
    "also the line lost (a device gone, the end of standard input); 16 cancelled by the other\n"
    "side; 17 too many errors; 18 the line could not be opened; 19 unknown error; 20 the\n"
    "modem did not connect; 21 the modem could not be initialised; 23 the sender asked to run a\n"
    "command (never run); 64 usage error. A file a\n"
    "receiver declines, or one that cannot be opened, is skipped with its reason; the batch\n"
    "goes on and the status is its.\n";

namespace {

// The word for a value, in the value tables of the settings' vocabulary, in any case.
template <typename E, std::size_t N>
bool LookUp(const ValueWord<E> (&words)[N], std::string_view text, E& value) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const ValueWord<E>& word : words) {
        if (word.word == lower) {
            value = word.value;
            return true;
        }
    }
    return false;
}

// A decimal number; out-of-range values are held at the limits of a long long, which the
// callers bring into their field's range.
bool ParseNumber(std::string_view text, long long& value) {
    if (text.empty()) {
        return false;
    }
    std::string copy(text);
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(copy.c_str(), &end, 10);
    return end != nullptr && *end == '\0';
}

template <typename T>
T Saturate(long long value) {
    if (value < std::numeric_limits<T>::min()) {
        return std::numeric_limits<T>::min();
    }
    if (value > std::numeric_limits<T>::max()) {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(value);
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

class Parser {
public:
    Parser(int argc, char** argv, CommandLine& command, SettingsBlock& block, std::string& error,
           bool stdinIsTerminal)
        : argc_(argc), argv_(argv), command_(command), block_(block), error_(error),
          stdinIsTerminal_(stdinIsTerminal) {}

    bool Run();
    // What the settings block cannot hold: the protocols and speeds only the command has, and
    // the offered-paths choice.
    void Apply(RunSettings& run);

private:
    // The arguments in order: the command word, the options and the FILEs.
    bool ReadArguments();
    // What no single option can check: the options that go together and the FILEs' count.
    bool CheckArguments();
    // The settings block from what was read and checked.
    void FillBlock();
    // The option's value: the rest of "--name=value", the rest of "-xVALUE", or the next
    // argument.
    bool TakeValue(std::string_view name, std::string_view& value);
    bool Option(std::string_view name);
    bool Fail(std::string message) {
        error_ = std::move(message);
        return false;
    }
    // The option's value as one of `words`; the block's setter then takes its number.
    template <typename E, std::size_t N>
    bool Choice(std::string_view name, const ValueWord<E> (&words)[N], std::int16_t& value) {
        std::string_view text;
        if (!TakeValue(name, text)) {
            return false;
        }
        E chosen{};
        if (!LookUp(words, text, chosen)) {
            return Fail("invalid value '" + std::string(text) + "' for " + std::string(name));
        }
        value = NumberOf(chosen);
        return true;
    }
    bool Number(std::string_view name, long long& value) {
        std::string_view text;
        if (!TakeValue(name, text)) {
            return false;
        }
        if (!ParseNumber(text, value)) {
            return Fail("invalid number '" + std::string(text) + "' for " + std::string(name));
        }
        return true;
    }

    int argc_;
    char** argv_;
    CommandLine& command_;
    SettingsBlock& block_;
    std::string& error_;
    bool stdinIsTerminal_;
    int next_ = 1;
    std::string_view inlineValue_;
    bool hasInlineValue_ = false;
    std::string dir_;
    std::string log_;
    Protocol protocol_ = Protocol::kZModem;
    long long speed_ = 0;
    OfferedPaths offeredPaths_ = OfferedPaths::kInsideFolder;
    int kermitCheck_ = 3;
    bool sevenBit_ = false;
    int packetLength_ = 9024;
    bool appendLog_ = false;
    bool dial_ = false;
    bool answer_ = false;
};

bool Parser::TakeValue(std::string_view name, std::string_view& value) {
    if (hasInlineValue_) {
        value = inlineValue_;
        hasInlineValue_ = false;
        return true;
    }
    if (next_ >= argc_) {
        return Fail(std::string(name) + " needs a value");
    }
    value = argv_[next_++];
    return true;
}

bool Parser::Run() {
    if (!ReadArguments()) {
        return false;
    }
    if (command_.help || command_.version) {
        return true;
    }
    if (!CheckArguments()) {
        return false;
    }
    FillBlock();
    return true;
}

bool Parser::ReadArguments() {
    bool operandsOnly = false;
    while (next_ < argc_) {
        std::string_view argument = argv_[next_++];
        if (operandsOnly || argument == "-" || argument.empty() || argument[0] != '-') {
            if (command_.mode == CommandMode::kNone && !operandsOnly) {
                if (argument == "send") {
                    command_.mode = CommandMode::kSend;
                } else if (argument == "receive") {
                    command_.mode = CommandMode::kReceive;
                } else {
                    return Fail("unknown command '" + std::string(argument) + "'");
                }
                continue;
            }
            command_.files.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            operandsOnly = true;
            continue;
        }
        hasInlineValue_ = false;
        std::string_view name = argument;
        if (argument.starts_with("--")) {
            std::size_t equals = argument.find('=');
            if (equals != std::string_view::npos) {
                name = argument.substr(0, equals);
                inlineValue_ = argument.substr(equals + 1);
                hasInlineValue_ = true;
            }
        } else if (argument.size() > 2) {
            name = argument.substr(0, 2);
            inlineValue_ = argument.substr(2);
            hasInlineValue_ = true;
        }
        if (!Option(name)) {
            return false;
        }
        if (hasInlineValue_) {
            return Fail(std::string(name) + " takes no value");
        }
    }
    return true;
}

bool Parser::CheckArguments() {
    if (command_.mode == CommandMode::kNone) {
        return Fail("say 'send' or 'receive'");
    }
    if (command_.line.empty()) {
        // Run inside a remote shell or a terminal program, like sz and rz.
        if (stdinIsTerminal_) {
            return Fail("--line is required (or '-l -' for standard input and output)");
        }
        command_.line = std::string(kStdioLine);
    }
    if (appendLog_ && log_.empty()) {
        return Fail("--append-log needs --log");
    }
    if (dial_ && command_.mode != CommandMode::kSend) {
        return Fail("--dial goes with send; a receiver answers (--answer)");
    }
    if (answer_ && command_.mode != CommandMode::kReceive) {
        return Fail("--answer goes with receive; a sender dials (--dial NUMBER)");
    }
    const std::size_t longest = kModemCommandLimit - 1; // room for the carriage return
    for (const std::string& init : command_.modem.init) {
        if (init.size() > longest) {
            return Fail("--modem-init: a command line of at most " + std::to_string(longest) +
                        " characters");
        }
    }
    if (command_.modem.hangUp.size() > longest) {
        return Fail("--hangup: a command line of at most " + std::to_string(longest) +
                    " characters");
    }
    for (const std::string& file : command_.files) {
        if (file.find(';') != std::string::npos) {
            return Fail("a FILE may not contain ';': " + file);
        }
    }
    if (command_.mode == CommandMode::kReceive && protocol_ != Protocol::kZModem &&
        protocol_ != Protocol::kYModem && protocol_ != Protocol::kKermit &&
        command_.files.size() > 1) {
        return Fail("xmodem, xmodem-1k and acknak receive exactly one FILE");
    }
    return true;
}

void Parser::FillBlock() {
    block_.Transfer = command_.mode == CommandMode::kSend ? 1 : 0;
    block_.DefaultDir.Assign(Absolute(dir_.empty() ? std::string(".") : dir_));
    if (!log_.empty()) {
        block_.LogToFile = 1;
        block_.LogFilename.Assign(Absolute(log_));
        block_.AppendToLog = appendLog_ ? 1 : 0;
    }
    std::string list;
    for (std::size_t i = 0; i < command_.files.size(); ++i) {
        list += (i == 0 ? "" : ";") + command_.files[i];
    }
    block_.SetFileList(WidenText(list));
    command_.pairs = block_.PathSwitch == PathSwitch::kReceiverNames;
}

// Kept whole: one branch per option, in the order of the usage text, each beside its checks.
bool Parser::Option(std::string_view name) {
    std::string_view text;
    long long number = 0;
    std::int16_t value = 0;
    if (name == "-l" || name == "--line") {
        if (!TakeValue(name, text)) {
            return false;
        }
        command_.line = text;
    } else if (name == "-p" || name == "--protocol") {
        if (!Choice(name, kProtocolWords, value)) {
            return false;
        }
        protocol_ = static_cast<Protocol>(value);
        // The block knows XModem's relatives, and Kermit, as XModem: its rules for them are
        // XModem's.
        const bool relative = protocol_ == Protocol::kXModem1K || protocol_ == Protocol::kYModem ||
                              protocol_ == Protocol::kKermit;
        block_.SetProtocol(relative ? NumberOf(Protocol::kXModem) : value);
    } else if (name == "-b" || name == "--baud") {
        if (!Number(name, number)) {
            return false;
        }
        speed_ = number;
        block_.SetBaudRate(Saturate<int32_t>(number));
    } else if (name == "--flow") {
        if (!Choice(name, kFlowControlWords, value)) {
            return false;
        }
        block_.SetFlowControl(value);
    } else if (name == "--window") {
        if (!TakeValue(name, text)) {
            return false;
        }
        if (text == "streaming") {
            number = 0;
        } else if (!ParseNumber(text, number)) {
            return Fail("invalid value '" + std::string(text) + "' for --window");
        }
        block_.SetWindowSize(Saturate<int16_t>(number));
    } else if (name == "--recover") {
        if (!Choice(name, kCrashRecoveryWords, value)) {
            return false;
        }
        block_.SetCrashRecovery(value);
    } else if (name == "--overwrite") {
        if (!Choice(name, kOverwriteWords, value)) {
            return false;
        }
        block_.SetOverwrite(value);
    } else if (name == "--paths") {
        if (!Choice(name, kPathSwitchWords, value)) {
            return false;
        }
        block_.SetPathSwitch(value);
    } else if (name == "--max-errors") {
        if (!Number(name, number)) {
            return false;
        }
        block_.SetMaxErrors(Saturate<int16_t>(number));
    } else if (name == "--block-check") {
        if (!Number(name, number)) {
            return false;
        }
        if (number < 1 || number > 3) {
            return Fail("--block-check takes 1, 2 or 3");
        }
        kermitCheck_ = static_cast<int>(number);
    } else if (name == "--seven-bit") {
        sevenBit_ = true;
    } else if (name == "--packet-length") {
        if (!Number(name, number)) {
            return false;
        }
        if (number < 20 || number > 9024) {
            return Fail("--packet-length takes 20 to 9024");
        }
        packetLength_ = static_cast<int>(number);
    } else if (name == "--timeout") {
        if (!Number(name, number)) {
            return false;
        }
        if (number < 0) {
            return Fail("--timeout takes 0 or more seconds");
        }
        block_.SendTimeout = Saturate<int32_t>(number);
        block_.RecvTimeout = block_.SendTimeout;
    } else if (name == "--offered-paths") {
        if (!Choice(name, kOfferedPathsWords, value)) {
            return false;
        }
        offeredPaths_ = static_cast<OfferedPaths>(value);
    } else if (name == "--host") {
        block_.HostMode = 1;
    } else if (name == "--dir") {
        if (!TakeValue(name, text)) {
            return false;
        }
        dir_ = text;
    } else if (name == "--log") {
        if (!TakeValue(name, text)) {
            return false;
        }
        log_ = text;
    } else if (name == "--append-log") {
        appendLog_ = true;
    } else if (name == "--dial") {
        if (!TakeValue(name, text)) {
            return false;
        }
        command_.modem.used = true;
        dial_ = true;
        block_.Telephone.Assign(text);
    } else if (name == "--answer") {
        command_.modem.used = true;
        answer_ = true;
    } else if (name == "--modem-init") {
        if (!TakeValue(name, text)) {
            return false;
        }
        command_.modem.init.emplace_back(text);
    } else if (name == "--modem-command") {
        if (!TakeValue(name, text)) {
            return false;
        }
        block_.ModemCmd.Assign(text);
    } else if (name == "--dial-prefix") {
        if (!TakeValue(name, text)) {
            return false;
        }
        command_.modem.dialPrefix = text;
    } else if (name == "--hangup") {
        if (!TakeValue(name, text)) {
            return false;
        }
        command_.modem.hangUp = text;
    } else if (name == "--no-carrier-detect") {
        command_.modem.carrierWire = false;
    } else if (name == "-q" || name == "--quiet") {
        command_.quiet = true;
    } else if (name == "-h" || name == "--help") {
        command_.help = true;
    } else if (name == "--version") {
        command_.version = true;
    } else {
        return Fail("unknown option '" + std::string(name) + "'");
    }
    return true;
}

void Parser::Apply(RunSettings& run) {
    run.protocol = protocol_;
    run.kermitCheck = kermitCheck_;
    run.sevenBit = sevenBit_;
    run.packetLength = packetLength_;
    if (speed_ > 0 && speed_ <= 0xFFFFFFFFLL &&
        LineSpeedOffered(static_cast<std::uint32_t>(speed_))) {
        run.baudRate = static_cast<std::int32_t>(speed_);
    }
    if (speed_ != 0 && run.baudRate != speed_) {
        command_.notice = "tollan: " + std::to_string(speed_) +
                          " bit/s is no speed the line offers; running at " +
                          std::to_string(run.baudRate) + " bit/s\n";
    }
    run.offeredPaths = offeredPaths_;
    if (command_.modem.used) {
        run.useModem = true;
        run.modemName = kCommandModemName;
        run.modemKey = kCommandModemKey;
        run.carrierWire = command_.modem.carrierWire;
    }
}

} // namespace

bool ParseCommandLine(int argc, char** argv, CommandLine& command, std::string& error,
                      bool stdinIsTerminal) {
    SettingsBlock& block = ProcessSettings();
    // The command's defaults: ZModem at 115200 bits per second, no flow control, streaming,
    // never recover, never overwrite, strip paths, a minute without progress.
    block.Reset("", 1);
    block.SetProtocol(NumberOf(Protocol::kZModem));
    block.SetBaudRate(115200);
    command = CommandLine{};
    Parser parser(argc, argv, command, block, error, stdinIsTerminal);
    if (!parser.Run()) {
        return false;
    }
    command.block = &block;
    command.run = ReadRunSettings(block);
    command.run.answerAtOnce = true;
    command.run.literalNames = true;
    command.run.skipDeclined = true;
    command.run.resumeFirst = true;
    command.run.peerConventions = true;
    parser.Apply(command.run);
    // A relative line is found from where the command started, not inside --dir (where a
    // receiver moves before it opens the line). COM names stay names.
    if (command.line != kStdioLine && HostNameRules() == NameRules::kPosix) {
        command.line = Absolute(command.line);
    }
    return true;
}

int CheckCombination(const CommandLine& command) {
    const RunSettings& run = command.run;
    const TransferRequest request = RequestOf(run);
    if (std::int32_t refused = CheckCombination(request); refused != 0) {
        return refused;
    }
    // The command's YModem and Kermit are batches too: their receivers may keep the sender's
    // names.
    const bool batch = run.protocol == Protocol::kZModem || run.protocol == Protocol::kYModem ||
                       run.protocol == Protocol::kKermit;
    if (command.files.empty()) {
        return batch && !run.Transmitting() ? 0 : 3;
    }
    std::uint16_t attempted = 0;
    return CountAttempted(request, static_cast<int>(command.files.size()), attempted);
}

std::string RefusedFile(const CommandLine& command) {
    if (command.mode != CommandMode::kSend) {
        return {};
    }
    std::unique_ptr<FileAccess> file(CreateFileAccess());
    if (file != nullptr) {
        file->SetLiteralNames(true);
    }
    const auto reason = [](int error) { return std::generic_category().message(error); };
    // With receiver names, every second operand is a name for the other side.
    std::size_t step = command.pairs && command.run.protocol == Protocol::kZModem ? 2 : 1;
    for (std::size_t i = 0; i < command.files.size(); i += step) {
        const std::string& operand = command.files[i];
        if (operand.empty()) {
            return "'': " + reason(ENOENT);
        }
        std::error_code error;
        const std::filesystem::file_status status = std::filesystem::status(operand, error);
        if (std::filesystem::is_directory(status)) {
            return operand + ": " + reason(EISDIR);
        }
        if (std::filesystem::exists(status)) {
            if (!std::filesystem::is_regular_file(status)) {
                return operand + ": not a regular file";
            }
            std::FILE* readable = std::fopen(operand.c_str(), "rb");
            if (readable == nullptr) {
                return operand + ": " + reason(errno);
            }
            std::fclose(readable);
            continue;
        }
        std::string list = operand;
        if (HostNameRules() != NameRules::kWin32 || file == nullptr ||
            file->Init(list.data(), 0) != 0 || !file->NextFile(true)) {
            return operand + ": " + reason(ENOENT);
        }
    }
    return {};
}

std::string FirstTooLargeFile(const CommandLine& command) {
    if (command.mode != CommandMode::kSend) {
        return {};
    }
    std::vector<std::string> lists;
    std::size_t step = command.pairs && command.run.protocol == Protocol::kZModem ? 2 : 1;
    for (std::size_t i = 0; i < command.files.size(); i += step) {
        lists.push_back(command.files[i]);
    }
    return FirstTooLargeFile(lists, true);
}

} // namespace tollan
