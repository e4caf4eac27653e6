// A failed invariant ends the run the way a sanitizer would, so both drivers report it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define KV_FUZZ_CHECK(condition)                                                                             \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition);           \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)
