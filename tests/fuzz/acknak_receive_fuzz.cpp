// The ACK/NAK receiver on any byte stream from the sender, into memory: the run ends with one of
// the codes a damaged or cut-off line may give and stores no more than arrived.
#include "engine/acknak_engine.h"
#include "fuzz_engine.h"
#include "fuzz_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tollan;
    using namespace tollan::fuzz;
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
    const int code = engine.Receive(name);
    Require(code <= 0);
    Require(files.Data().size() <= size);
    return 0;
}
