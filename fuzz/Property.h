// A property a fuzz target checks on every input: a broken one aborts the run, which libFuzzer
// reports as a crash and keeps the input of.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void check(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}
