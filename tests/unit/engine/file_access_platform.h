// The file object class of the platform the tests run on, and its path separator, so that one
// set of tests checks both implementations.
#pragma once

#ifdef _WIN32
#include "engine/win32_file_access.h"
namespace tollan::test {
using PlatformFileAccess = Win32FileAccess;
inline constexpr char kSep = '\\';
} // namespace tollan::test
#else
#include "engine/posix_file_access.h"
namespace tollan::test {
using PlatformFileAccess = PosixFileAccess;
inline constexpr char kSep = '/';
} // namespace tollan::test
#endif
