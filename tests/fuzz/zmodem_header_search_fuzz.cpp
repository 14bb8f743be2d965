// The header search on any byte stream: each result is a format byte (0 to 127, the top bit
// dropped), LINK_NO_DATA (garbage limit or silence), or the run's code.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tollan;
    FuzzEngine engine(data, size);
    for (int searches = 0; engine.Code() == 0; ++searches) {
        Require(searches <= static_cast<int>(size)); // every search uses up input
        const int format = engine.SearchHeader();
        Require(format <= 0x7F);
        Require(format >= 0 || format == LINK_NO_DATA || format == engine.Code());
    }
    Require(RunCode(engine.Code()));
    return 0;
}
