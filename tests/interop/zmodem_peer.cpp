// The ZModem engine on a terminal device, for the interoperability tests with lrzsz's sz and rz
// (zmodem_interop.py runs it on one end of a pseudo-terminal pair and sz or rz on the other).
//
//   zmodem_peer send DEVICE [options] FILE...
//   zmodem_peer receive DEVICE [options] [NAME...]
//
// Options (the engine's setters): --window N, --recovery N, --overwrite N, --max-errors N,
// --path-mode N; --cancel-at N gives up (as a user would) once N bytes of a file have passed;
// --time-limit S ends the run with the inactivity code after S seconds without progress.
//
// Prints one line per file ("file NAME CODE POSITION ERRORS", CODE -804 for a file that went well)
// and a last line "result CODE"; exits 0 when CODE is 0, else 1 (2 for a usage or port error).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "comm_link.h"
#include "engine_codes.h"
#include "posix_serial_port.h"
#include "tick_count.h"
#include "transfer_status.h"
#include "zmodem_engine.h"

namespace {

using namespace tollan;

volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) {
    interrupted = 1;
}

class PeerStatus : public TransferStatus {
public:
    int Update(int code) override {
        if ((code == TE_DONE || code < 0) &&
            (code != lastCode_ || std::strcmp(fileName_, lastName_.c_str()) != 0)) {
            std::printf("file %s %d %d %d\n", fileName_, code, position_, errorCount_);
            std::fflush(stdout);
            lastCode_ = code;
            lastName_ = fileName_;
        }
        return 0;
    }

    int CheckAbort() override {
        if (interrupted || (cancelAt_ >= 0 && position_ >= cancelAt_)) {
            return TE_USER_CANCEL;
        }
        // The inactivity time-out: no progress in the file for that long.
        const std::uint32_t now = TickCount();
        if (position_ != lastPosition_) {
            lastPosition_ = position_;
            lastProgress_ = now;
        } else if (now - lastProgress_ >= limitMs_) {
            return TE_TIMEOUT;
        }
        return 0;
    }

    std::int32_t cancelAt_ = -1;
    std::uint32_t limitMs_ = 60000;

private:
    std::int32_t lastPosition_ = 0;
    std::uint32_t lastProgress_ = TickCount();
    int lastCode_ = 0;
    std::string lastName_;
};

int Usage() {
    std::fprintf(stderr, "usage: zmodem_peer send|receive DEVICE [options] [FILE...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::string mode = argv[1];
    if (mode != "send" && mode != "receive") {
        return Usage();
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    PosixSerialPort port(argv[2]);
    CommLink link(port);
    std::uint16_t flags = 0;
    if (const int code = link.CheckLine(flags); code != 0) {
        std::fprintf(stderr, "zmodem_peer: cannot open %s (%d)\n", argv[2], code);
        return 2;
    }
    PeerStatus status;
    ZModemEngine engine(&link, &status);
    std::string list;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) == 0) {
            if (i + 1 >= argc) {
                return Usage();
            }
            const int value = std::atoi(argv[++i]);
            if (arg == "--window") {
                engine.SetWindowSize(value);
            } else if (arg == "--recovery") {
                engine.SetCrashRecovery(value);
            } else if (arg == "--overwrite") {
                engine.SetOverwrite(value);
            } else if (arg == "--max-errors") {
                engine.SetMaxErrors(value);
            } else if (arg == "--path-mode") {
                engine.SetPathSwitch(value);
            } else if (arg == "--cancel-at") {
                status.cancelAt_ = value;
            } else if (arg == "--time-limit") {
                status.limitMs_ = static_cast<std::uint32_t>(value) * 1000;
            } else {
                return Usage();
            }
        } else {
            list += (list.empty() ? "" : ";") + arg;
        }
    }

    std::vector<char> text(list.begin(), list.end());
    text.push_back('\0');
    const int result = mode == "send" ? engine.Send(text.data())
                                      : engine.Receive(list.empty() ? nullptr : text.data());
    // Closing the port discards what it still holds: let the last bytes leave first.
    const std::uint32_t deadline = TickCount() + 2000;
    while (link.OutputCount() > 0 && !TickReached(TickCount(), deadline)) {
        link.Idle();
    }
    link.Delay(100);
    std::printf("result %d\n", result);
    return result == 0 ? 0 : 1;
}
