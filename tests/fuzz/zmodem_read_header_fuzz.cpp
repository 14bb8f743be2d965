// ReadHeader on any byte stream, once per header or with repeated searches and an error limit
// taken from the first byte: a frame type (one byte) with its format, or a counted error.
#include "fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tollan;
    if (size == 0) {
        return 0;
    }
    const auto onBad = (data[0] & 1) != 0 ? ZModemEngine::OnBadHeader::kReturnCode
                                          : ZModemEngine::OnBadHeader::kSearchOn;
    FuzzEngine engine(data + 1, size - 1);
    engine.SetMaxErrors((data[0] >> 1) & 0x0F); // 0: no limit
    const TransferStatus& status = *engine.Status();
    for (int reads = 0; engine.Code() == 0; ++reads) {
        Require(reads <= static_cast<int>(size));
        const int errorsBefore = status.errorCount_;
        const int type = engine.ReadHeader(onBad);
        if (type >= 0) {
            Require(type <= 0xFF);
            const int format = engine.HeaderFormat();
            Require(format == ZBIN || format == ZHEX || format == ZBIN32);
        } else if (engine.Code() == 0) {
            Require(onBad == ZModemEngine::OnBadHeader::kReturnCode);
            Require(type == TE_BAD_HEADER || type == TE_BAD_CRC16 || type == TE_BAD_CRC32);
            Require(status.errorCount_ == errorsBefore + 1);
        } else {
            Require(type == engine.Code());
        }
        Require(status.consecutiveErrors_ <= status.errorCount_);
        Require(status.consecutiveErrors_ <= static_cast<std::int64_t>(engine.MaxErrors()) + 1);
    }
    Require(RunCode(engine.Code()));
    return 0;
}
