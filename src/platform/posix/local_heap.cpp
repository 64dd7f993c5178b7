// The local heap stand-in: zero-filled blocks from the C heap, null when none can be had, with
// counters and failure injection for the library's tests.
#include "local_heap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "win32.h"

namespace tovarine::local_heap {
namespace {

std::atomic<int64_t> g_allocations{0};
std::atomic<int64_t> g_fail_at{0};    // 0: no single failure injected
std::atomic<int64_t> g_fail_from{0};  // 0: no lasting failure injected
std::atomic<int64_t> g_live_blocks{0};
std::atomic<int64_t> g_live_bytes{0};
std::atomic<int64_t> g_peak_bytes{0};

// Counting costs a few atomic read-modify-writes a block, which a host should not pay on every
// request: it starts with the first use of a test control, and from then on each block records
// whether it was counted, so blocks made before that are never uncounted.
std::atomic<bool> g_tracking{false};

void StartTracking() { g_tracking.store(true, std::memory_order_relaxed); }

// Each block carries its size and whether it was counted in front of it.
struct BlockHeader {
    size_t bytes;
    bool tracked;
};
constexpr size_t kHeader = alignof(std::max_align_t) > sizeof(BlockHeader)
                               ? alignof(std::max_align_t)
                               : 2 * sizeof(size_t);
static_assert(sizeof(BlockHeader) <= kHeader);

bool InjectedFailure() {
    const int64_t n = g_allocations.fetch_add(1, std::memory_order_relaxed) + 1;
    const int64_t at = g_fail_at.load(std::memory_order_relaxed);
    const int64_t from = g_fail_from.load(std::memory_order_relaxed);
    return (at != 0 && n == at) || (from != 0 && n >= from);
}

}  // namespace

void FailNthAllocation(int64_t nth) {
    StartTracking();
    g_fail_at.store(nth <= 0 ? 0 : g_allocations.load() + nth);
}

void FailFromNthAllocation(int64_t nth) {
    StartTracking();
    g_fail_from.store(nth <= 0 ? 0 : g_allocations.load() + nth);
}

int64_t Allocations() {
    StartTracking();
    return g_allocations.load();
}
int64_t LiveBlocks() {
    StartTracking();
    return g_live_blocks.load();
}
int64_t LiveBytes() {
    StartTracking();
    return g_live_bytes.load();
}
int64_t PeakBytes() {
    StartTracking();
    return g_peak_bytes.load();
}
void ResetPeak() {
    StartTracking();
    g_peak_bytes.store(g_live_bytes.load());
}

void ResetCounters() {
    StartTracking();
    g_fail_at.store(0);
    g_fail_from.store(0);
    g_allocations.store(0);
}

}  // namespace tovarine::local_heap

using namespace tovarine::local_heap;

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    const bool tracked = g_tracking.load(std::memory_order_relaxed);
    if (tracked && InjectedFailure()) return nullptr;
    if (bytes > SIZE_MAX - kHeader) return nullptr;
    // The C heap may hand out null for a zero-byte request; the local heap never does.
    const size_t total = kHeader + (bytes == 0 ? 1 : bytes);
    auto *raw = static_cast<unsigned char *>((flags & LMEM_ZEROINIT) ? std::calloc(1, total)
                                                                     : std::malloc(total));
    if (raw == nullptr) return nullptr;
    const BlockHeader header{bytes, tracked};
    std::memcpy(raw, &header, sizeof header);
    if (!tracked) return raw + kHeader;
    g_live_blocks.fetch_add(1, std::memory_order_relaxed);
    const int64_t live =
        g_live_bytes.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed) +
        static_cast<int64_t>(bytes);
    // Raise the peak only when this block takes the count past it: one load in the usual case.
    int64_t peak = g_peak_bytes.load(std::memory_order_relaxed);
    while (live > peak &&
           !g_peak_bytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
    }
    return raw + kHeader;
}

HLOCAL LocalFree(HLOCAL block) {
    if (block == nullptr) return nullptr;
    unsigned char *raw = static_cast<unsigned char *>(block) - kHeader;
    BlockHeader header;
    std::memcpy(&header, raw, sizeof header);
    if (header.tracked) {
        g_live_blocks.fetch_sub(1, std::memory_order_relaxed);
        g_live_bytes.fetch_sub(static_cast<int64_t>(header.bytes), std::memory_order_relaxed);
    }
    std::free(raw);
    return nullptr;
}
