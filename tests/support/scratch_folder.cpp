#include "support/scratch_folder.h"

#include <atomic>
#include <cstdint>
#include <random>
#include <system_error>

namespace tollan::test {
namespace {

// Where the folders go: a memory file system where there is one with room, else the system's
// temporary folder (always so under Windows, where "/dev/shm" is no absolute path). A received
// file is synced to its disk before its answer goes out; on a disk busy with other writers that
// sync can take longer than a protocol's time-out takes on the fast clock, and a clean line
// would then show errors.
std::filesystem::path ScratchBase() {
    constexpr std::uintmax_t kRoom = 512u << 20;
    std::error_code failed;
    const std::filesystem::path memory = "/dev/shm";
    const std::filesystem::space_info space = std::filesystem::space(memory, failed);
    if (memory.is_absolute() && !failed && space.available >= kRoom &&
        std::filesystem::is_directory(memory, failed)) {
        return memory;
    }
    return std::filesystem::temp_directory_path();
}

} // namespace

ScratchFolder::ScratchFolder(Mode mode) {
    static std::atomic<unsigned> counter{0};
    static const std::filesystem::path base = ScratchBase();
    root_ = base / ("tollan-test-" + std::to_string(std::random_device{}()) + "-" +
                    std::to_string(counter.fetch_add(1)));
    std::filesystem::create_directories(root_);
    if (mode == kEnter) {
        saved_ = std::filesystem::current_path();
        std::filesystem::current_path(root_);
    }
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    if (!saved_.empty()) {
        std::filesystem::current_path(saved_, ignored);
    }
    std::filesystem::remove_all(root_, ignored);
}

} // namespace tollan::test
