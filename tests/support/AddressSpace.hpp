#pragma once

#include <cstdint>

// A test that shows what a reader does when memory runs out limits the address space of a child
// process (a death test's) to what it uses already and a little more. That takes Linux, and a build
// without AddressSanitizer, whose shadow memory reserves terabytes of address space up front.
#if defined(__SANITIZE_ADDRESS__)
#define ZARN_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZARN_TEST_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(__linux__) && !defined(ZARN_TEST_ADDRESS_SANITIZER)
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace zarn::test {

#if defined(__linux__) && !defined(ZARN_TEST_ADDRESS_SANITIZER)
inline constexpr bool canLimitAddressSpace = true;
#else
inline constexpr bool canLimitAddressSpace = false;
#endif

inline constexpr const char* addressSpaceSkip =
    "the address space of a process is limited on Linux alone, and not under AddressSanitizer";

// Limits this process to the address space it uses now and `extra` bytes more; false where it cannot.
inline bool limitAddressSpace(std::uint64_t extra) {
#if defined(__linux__) && !defined(ZARN_TEST_ADDRESS_SANITIZER)
    unsigned long long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr)
        return false;
    const bool read = std::fscanf(statm, "%llu", &pages) == 1;
    std::fclose(statm);
    if (!read)
        return false;
    const auto used = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(used + extra);
    return setrlimit(RLIMIT_AS, &limit) == 0;
#else
    (void)extra;
    return false;
#endif
}

} // namespace zarn::test
