// The XModem engine's receiver on any byte stream from the sender: plain XModem, XModem-1K or a
// YModem batch, as the first byte chooses, into memory. Whatever arrives, the run ends with one
// of the codes a damaged or cut-off line may give, never writes more than the blocks brought,
// and answers only with the bytes a receiver sends.
#include "engine/xmodem_engine.h"
#include "fuzz_engine.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tollan;
    using namespace tollan::fuzz;
    if (size == 0) {
        return 0;
    }
    static constexpr Protocol kProtocols[4] = {Protocol::kXModem, Protocol::kXModem1K,
                                               Protocol::kYModem, Protocol::kYModem};
    const Protocol protocol = kProtocols[data[0] & 3];
    FuzzLine line(data + 1, size - 1);
    MemoryFiles files;
    XModemEngine engine(&line.link, nullptr);
    engine.SetFileAccess(&files);
    engine.SetProtocol(protocol);
    engine.SetMaxErrors((data[0] >> 2) & 0x0F);
    engine.SetOverwrite(Overwrite::kAlways);
    char name[] = "received.bin";
    const int code = engine.Receive(protocol == Protocol::kYModem ? nullptr : name);
    Require(code == 0 || code == TE_REMOTE_CANCEL || code == TE_TOO_MANY_ERRORS ||
            code == LINK_NO_PORT || code == TE_NO_FILE || code == TE_FILE_SKIPPED);
    // Every stored byte came in a block of at most 1024 bytes of the input.
    Require(files.Data().size() <= size);
    for (const std::uint8_t byte : line.port.Written()) {
        Require(byte == 0x06 || byte == 0x15 || byte == 'C' || byte == 0x18 || byte == 0x08);
    }
    return 0;
}
