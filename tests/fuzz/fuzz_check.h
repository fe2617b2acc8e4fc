#pragma once

#include <cstdio>
#include <cstdlib>

// A failed check aborts, which libFuzzer reports as a crash and saves the input for.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? void(0) : virellock::fuzz::checkFailed(#condition, __FILE__, __LINE__))

namespace virellock::fuzz {

[[noreturn]] inline void checkFailed(const char* condition, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
    std::abort();
}

} // namespace virellock::fuzz
