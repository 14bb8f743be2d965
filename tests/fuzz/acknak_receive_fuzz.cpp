// The ACK/NAK receiver on any byte stream, into memory: it ends with a code a damaged or cut-off
// line may give and stores no more than arrived.
#include "engine/acknak_engine.h"
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tollan;
    if (size == 0) {
        return 0;
    }
    FuzzLine line(data + 1, size - 1);
    MemoryFiles files;
    AckNakEngine engine(&line.link, nullptr);
    engine.SetFileAccess(&files);
    engine.SetMaxErrors(data[0] & 0x0F);
    engine.SetOverwrite((data[0] & 0x10) != 0 ? Overwrite::kAppend : Overwrite::kAlways);
    char name[] = "received.txt";
    Require(engine.Receive(name) <= 0);
    Require(files.Data().size() <= size);
    return 0;
}
