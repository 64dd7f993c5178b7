// Hostile request texts at growing sizes through each reader. Time per byte and the local heap's
// peak per byte of text should both stay flat from 1 KB to 16 MB. The shapes are in corpus.h;
// tovarine_host_bench times the same texts through the URL libraries ("peers/").
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "corpus.h"
#include "platform/posix/local_heap.h"
#include "tovarine.h"

namespace {

using tovarine::corpus::Build;
using tovarine::corpus::Shape;

// Each input is built once per size, outside the timed loop.
const std::string &Input(Shape shape, size_t size) {
    static std::map<std::pair<Shape, size_t>, std::string> inputs;
    auto [it, added] = inputs.try_emplace({shape, size});
    if (added) it->second = Build(shape, size);
    return it->second;
}

// Minor page faults of the process so far: first touches of memory the C heap had to map.
long PageFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

struct Outputs {
    int32_t number[10] = {};
    double decimal = 0;
    char text[7][1024] = {};
    MediaRequest record = {};
};
using Reader = void (*)(const char *, Outputs &);

void Live(const char *t, Outputs &o) {
    int32_t *n = o.number;
    f3121538644(t, &n[0], &n[1], &o.decimal, &n[2], &n[3], &n[4], &n[5], &n[6], &n[7], &n[8]);
}
void Stream(const char *t, Outputs &o) {
    int32_t *n = o.number;
    f373279(t, &n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6], &n[7]);
}
void Camera(const char *t, Outputs &o) {
    f3221538674(t, o.text[0], o.text[1], o.text[2], o.text[3], o.text[4], o.text[5], o.text[6]);
}
void Clip(const char *t, Outputs &o) { f39260000417E(t, &o.record); }

void Run(benchmark::State &state, Shape shape, Reader reader, size_t size) {
    namespace heap = tovarine::local_heap;
    const std::string &text = Input(shape, size);
    auto outputs = std::make_unique<Outputs>();
    const int64_t base = heap::LiveBytes();
    heap::ResetPeak();
    const long faults = PageFaults();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        reader(text.c_str(), *outputs);
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::nano> elapsed =
        std::chrono::steady_clock::now() - start;
    const auto bytes = static_cast<double>(text.size());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    // Wall time of the loop, as in the Time column, per byte read.
    state.counters["ns_per_byte"] =
        elapsed.count() / (static_cast<double>(state.iterations()) * bytes);
    const auto peak = static_cast<double>(heap::PeakBytes() - base);
    state.counters["peak_bytes"] = peak;
    state.counters["peak_ratio"] = peak / bytes;
    state.counters["faults"] = benchmark::Counter(static_cast<double>(PageFaults() - faults),
                                                  benchmark::Counter::kAvgIterations);
}

[[maybe_unused]] const bool registered = [] {
    const std::pair<const char *, Shape> shapes[] = {{"params", Shape::kParams},
                                                     {"equals", Shape::kEquals},
                                                     {"ampersands", Shape::kAmpersands},
                                                     {"headers", Shape::kHeaders}};
    const std::pair<const char *, Reader> readers[] = {
        {"live", Live}, {"stream", Stream}, {"camera", Camera}, {"clip", Clip}};
    for (const auto &[shape_name, shape] : shapes) {
        for (const auto &[reader_name, reader] : readers) {
            for (const size_t size : {1u << 10, 16u << 10, 256u << 10, 1u << 20, 16u << 20}) {
                const std::string name = std::string("hostile/") + shape_name + '/' + reader_name +
                                         '/' + std::to_string(size);
                auto *b = benchmark::RegisterBenchmark(name.c_str(), Run, shape, reader, size);
                b->Unit(benchmark::kMicrosecond);
                // At least 0.2 s of calls at every size: a few 16 MB calls alone are too noisy
                // on a shared machine.
                b->MinTime(0.2);
            }
        }
    }
    return true;
}();

}  // namespace
