#include "link/memory_modem_source.h"

#include <algorithm>

namespace tollan {

namespace {

class MemoryModemKey : public ModemKey {
public:
    MemoryModemKey(const std::map<std::string, MemoryModemSource::Values>& keys, std::string path)
        : keys_(keys), path_(std::move(path)) {}

    bool ReadText(const char* name, std::size_t limit, std::string& text) const override {
        const auto& values = keys_.at(path_);
        auto found = std::find_if(values.begin(), values.end(),
                                  [name](const auto& value) { return value.first == name; });
        if (found == values.end() || found->second.size() + 1 > limit) {
            return false;
        }
        text = found->second;
        return true;
    }

    std::unique_ptr<ModemKey> OpenSubkey(const char* name) const override {
        std::string path = path_ + "\\" + name;
        if (keys_.find(path) == keys_.end()) {
            return nullptr;
        }
        return std::make_unique<MemoryModemKey>(keys_, path);
    }

    bool ValueInfo(std::uint32_t& count, std::uint32_t& longestData) const override {
        const auto& values = keys_.at(path_);
        count = static_cast<std::uint32_t>(values.size());
        longestData = 0;
        for (const auto& value : values) {
            longestData =
                std::max(longestData, static_cast<std::uint32_t>(value.second.size() + 1));
        }
        return true;
    }

private:
    const std::map<std::string, MemoryModemSource::Values>& keys_;
    std::string path_;
};

} // namespace

void MemoryModemSource::AddKey(const std::string& path) {
    keys_[path];
}

void MemoryModemSource::SetValue(const std::string& path, const std::string& name,
                                 const std::string& text) {
    Values& values = keys_[path];
    for (auto& value : values) {
        if (value.first == name) {
            value.second = text;
            return;
        }
    }
    values.emplace_back(name, text);
}

void MemoryModemSource::RemoveKey(const std::string& path) {
    keys_.erase(path);
}

std::unique_ptr<ModemKey> MemoryModemSource::OpenKey(const std::string& path) const {
    if (keys_.find(path) == keys_.end()) {
        return nullptr;
    }
    return std::make_unique<MemoryModemKey>(keys_, path);
}

bool MemoryModemSource::DefaultConfig(const std::string&, const std::string&,
                                      ModemDefaults& defaults) const {
    if (!defaults_) {
        return false;
    }
    defaults = *defaults_;
    return true;
}

} // namespace tollan
