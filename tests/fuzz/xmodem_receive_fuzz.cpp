// The XModem receiver on any byte stream (XModem, XModem-1K or a YModem batch, as the first byte
// chooses), into memory: it ends with a code a damaged or cut-off line may give, stores no more
// than arrived, and answers only with the bytes a receiver sends.
#include "engine/xmodem_engine.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tollan;
    if (size == 0) {
        return 0;
    }
    const Protocol protocol = (data[0] & 2) != 0   ? Protocol::kYModem
                              : (data[0] & 1) != 0 ? Protocol::kXModem1K
                                                   : Protocol::kXModem;
    FuzzLine line(data + 1, size - 1);
    MemoryFiles files;
    XModemEngine engine(&line.link, nullptr);
    engine.SetFileAccess(&files);
    engine.SetProtocol(protocol);
    engine.SetMaxErrors((data[0] >> 2) & 0x0F);
    engine.SetOverwrite(Overwrite::kAlways);
    char name[] = "received.bin";
    const int code = engine.Receive(protocol == Protocol::kYModem ? nullptr : name);
    Require(RunCode(code) || code == TE_NO_FILE || code == TE_FILE_SKIPPED);
    Require(files.Data().size() <= size);
    for (const std::uint8_t byte : line.port.Written()) {
        Require(byte == 0x06 || byte == 0x15 || byte == 'C' || byte == 0x18 || byte == 0x08);
    }
    return 0;
}
