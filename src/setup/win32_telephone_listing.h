// The telephone listing: ten numbered entries, each a description and a number, kept as the
// values "0.Desc", "0.Phone" ... "9.Desc", "9.Phone" of one key under the current user.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>

namespace tollan {

struct TelephoneEntry {
    std::string description;
    std::string number;
};

inline constexpr std::size_t kTelephoneEntries = 10;
// Texts longer than this read as empty.
inline constexpr std::size_t kTelephoneTextLimit = 80;

using TelephoneListing = std::array<TelephoneEntry, kTelephoneEntries>;

// The name of entry `entry`'s value: "3.Phone" for the number of entry 3.
std::string TelephoneValueName(std::size_t entry, const char* kind);

// Reads the listing from `path` under `root`; a key that cannot be opened gives empty entries.
TelephoneListing ReadTelephoneListing(HKEY root, const char* path);

// Replaces the key `path` under `root` by one holding the non-empty texts of `listing`. When the
// key cannot be made again, nothing is stored (and the old listing is gone).
void WriteTelephoneListing(HKEY root, const char* path, const TelephoneListing& listing);

} // namespace tollan
