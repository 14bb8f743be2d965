// Whole-file reads and writes and made-up content for the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tollan::test {

using Bytes = std::vector<std::uint8_t>;

// The file's bytes; empty when it cannot be read.
Bytes ReadFile(const std::string& path);
// The file's content as text; empty when it cannot be read.
std::string ReadText(const std::string& path);
// Creates or empties the file and writes `data`.
void WriteFile(const std::string& path, const Bytes& data);
// `size` bytes of seeded noise: the same seed gives the same bytes.
Bytes Pattern(std::size_t size, unsigned seed = 7);
Bytes Text(const std::string& s);
bool Contains(const Bytes& haystack, const Bytes& needle);

} // namespace tollan::test
