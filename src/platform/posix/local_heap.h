// Test controls of the POSIX local heap. Not part of the library's interface: only tests and
// benchmarks that link the library's objects directly use them, to inject allocation failures,
// count blocks and measure the peak. Counting starts with the first call of any of them, so a
// host that never calls them pays nothing for it.
#pragma once

#include <cstdint>

namespace tovarine::local_heap {

// Makes the nth LocalAlloc from now on (1 = the next one) return null; 0 turns injection off.
void FailNthAllocation(int64_t nth);

// Makes every LocalAlloc from the nth one on return null (0 turns it off).
void FailFromNthAllocation(int64_t nth);

// Number of LocalAlloc calls made since the last ResetCounters, failed ones included.
int64_t Allocations();

// Blocks handed out and not yet released, over the life of the process.
int64_t LiveBlocks();

// Bytes handed out and not yet released, over the life of the process.
int64_t LiveBytes();

// Clears the allocation count and any injected failure.
void ResetCounters();

// The highest LiveBytes since the last ResetPeak (or since the start of the process).
int64_t PeakBytes();

// Starts a new peak from the current LiveBytes.
void ResetPeak();

}  // namespace tovarine::local_heap
