#include "support/scratch_folder.h"

#include <atomic>
#include <random>
#include <system_error>

namespace tollan::test {

ScratchFolder::ScratchFolder(Mode mode) {
    static std::atomic<unsigned> counter{0};
    root_ = std::filesystem::temp_directory_path() /
            ("tollan-test-" + std::to_string(std::random_device{}()) + "-" +
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
