#include "support/counting_allocator.h"

#include <cstdlib>
#include <new>

namespace tollan::test {
namespace {

thread_local std::uint64_t countdown = 0; // allocations to the armed one; 0: not armed
thread_local bool failed = false;

} // namespace

bool FailAllocation(std::uint64_t n) {
    const bool happened = failed;
    failed = false;
    countdown = n;
    return happened;
}

// Null or std::bad_alloc (`orNull`) for the armed allocation and when memory is out.
void* Allocate(std::size_t size, bool orNull) {
    void* block = nullptr;
    if (countdown != 0 && --countdown == 0) {
        failed = true;
    } else {
        block = std::malloc(size != 0 ? size : 1);
    }
    if (block == nullptr && !orNull) {
        throw std::bad_alloc();
    }
    return block;
}

} // namespace tollan::test

// Every form a program here calls (the nothrow deletes only follow a constructor that threw in a
// nothrow new, which none does).
void* operator new(std::size_t size) {
    return tollan::test::Allocate(size, false);
}
void* operator new[](std::size_t size) {
    return tollan::test::Allocate(size, false);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return tollan::test::Allocate(size, true);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return tollan::test::Allocate(size, true);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
