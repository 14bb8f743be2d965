// A fresh folder for one test (in memory where there is room, else under the system's temporary
// folder), removed with its content at the end. With Enter, the test runs inside it and the working
// directory it had comes back when the folder goes, whatever the test did in between.
#pragma once

#include <filesystem>
#include <string>

namespace tollan::test {

class ScratchFolder {
public:
    enum Mode { kStayOutside, kEnter };
    explicit ScratchFolder(Mode mode = kStayOutside);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& Root() const { return root_; }
    // The full path of `name` in the folder, as single-byte text for the engines.
    std::string Path(const std::string& name) const { return (root_ / name).string(); }

private:
    std::filesystem::path root_;
    std::filesystem::path saved_; // the working directory to come back to; empty: not entered
};

} // namespace tollan::test
