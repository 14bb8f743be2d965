// A program that links tollan_counting_allocator gets a global operator new and new[] (and their
// deletes) that count every allocation per thread and can make one of them fail: the thread that
// arms it has its Nth allocation from then on throw std::bad_alloc (the nothrow forms answer null).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tollan::test {

// Arms the calling thread: its `n`th allocation from now fails (1: the next one), once; 0
// disarms. Returns whether the failure armed before has happened since.
bool FailAllocation(std::uint64_t n);

// The allocation behind them: the armed one fails, as does one the system refuses.
void* Allocate(std::size_t size, bool orNull);

} // namespace tollan::test
