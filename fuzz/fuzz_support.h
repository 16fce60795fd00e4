// What the libFuzzer targets share. The reader promises to report every
// fault of a file as kbd::Error, so only kbd::Error is tolerated: any other
// exception, a crash or a sanitizer report is a finding.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "kbd/image/error.h"

namespace fuzz {

// Keeps results alive so the optimiser cannot drop the work that made them.
inline volatile size_t gSink = 0;
inline void sink(size_t v) { gSink = gSink + v; }

[[noreturn]] inline void finding(const char* where, const char* what) {
    std::fprintf(stderr, "FINDING: %s: %s\n", where, what);
    std::fflush(stderr);
    std::abort();
}

// Runs f and swallows kbd::Error only.
template <class F>
void tolerate(F&& f) {
    try {
        f();
    } catch (const kbd::Error&) {
    }
}

// Runs f; any std::exception escaping it is a finding. (Anything that is not
// a std::exception leaves the target and ends the run, which libFuzzer
// reports as a crash.)
template <class F>
int guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        finding("an exception other than kbd::Error escaped", e.what());
    }
    return 0;
}

}  // namespace fuzz
