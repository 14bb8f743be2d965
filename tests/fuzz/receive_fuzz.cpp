// A receiver on any byte stream, into memory, as the first byte chooses: the ACK/NAK one, or the
// XModem one (XModem, XModem-1K or a YModem batch). It ends with a code a damaged or cut-off line
// may give and stores no more than arrived; the XModem receiver answers only with the bytes a
// receiver sends.
#include "engine/acknak_engine.h"
#include "engine/xmodem_engine.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tollan;
    if (size == 0) {
        return 0;
    }
    FuzzLine line(data + 1, size - 1);
    MemoryFiles files;
    char name[] = "received";
    if ((data[0] & 0x80) != 0) {
        AckNakEngine engine(&line.link, nullptr);
        engine.SetFileAccess(&files);
        engine.SetMaxErrors(data[0] & 0x0F);
        engine.SetOverwrite((data[0] & 0x10) != 0 ? Overwrite::kAppend : Overwrite::kAlways);
        Require(engine.Receive(name) <= 0);
    } else {
        const Protocol protocol = (data[0] & 2) != 0   ? Protocol::kYModem
                                  : (data[0] & 1) != 0 ? Protocol::kXModem1K
                                                       : Protocol::kXModem;
        XModemEngine engine(&line.link, nullptr);
        engine.SetFileAccess(&files);
        engine.SetProtocol(protocol);
        engine.SetMaxErrors((data[0] >> 2) & 0x0F);
        engine.SetOverwrite(Overwrite::kAlways);
        const int code = engine.Receive(protocol == Protocol::kYModem ? nullptr : name);
        Require(RunCode(code) || code == TE_NO_FILE || code == TE_FILE_SKIPPED);
        for (const std::uint8_t byte : line.port.Written()) {
            Require(byte == 0x06 || byte == 0x15 || byte == 'C' || byte == 0x18 || byte == 0x08);
        }
    }
    Require(files.Data().size() <= size);
    return 0;
}
