// The settings tool's .reg import before it touches the store: a file of one instance key with
// n string values read (ReadRegFile), merged (MergeKeys) and planned against the key as the
// store holds it (ChangeTo), for a new key and for a key that holds every value already, half
// of them with another text. Each step finds values by name through an index, so the time per
// value stays flat as n grows: the complexity fitted is O(n).
//
// The file is the form the registry's tools write: UTF-16LE, CR LF line ends, about 50
// characters a value (bench/make_reg_file.py writes the same file, for timing the tool itself).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "reg_file.h"

namespace {

using tovarine_tool::RegFile;
using tovarine_tool::RegKey;

// The text of value `i`; `round` tells the texts of the file from those the store holds.
std::string TextOf(size_t i, int round) {
    char text[64];
    std::snprintf(text, sizeof text, "text of value %07zu, long enough%s", i,
                  round != 0 && i % 2 == 0 ? " (old)" : "");
    return text;
}

std::string NameOf(size_t i) {
    char name[32];
    std::snprintf(name, sizeof name, "value%07zu", i);
    return name;
}

// The .reg file of one key with n values, in the Unicode form.
std::string RegFileOf(size_t n) {
    std::vector<RegKey> keys{{"Bench Server 0", {}, 0}};
    keys[0].values.reserve(n);
    for (size_t i = 0; i < n; ++i) keys[0].values.push_back({NameOf(i), TextOf(i, 0), 0});
    return tovarine_tool::WriteRegFile(keys);
}

void Plan(benchmark::State &state, bool held) {
    const size_t n = static_cast<size_t>(state.range(0));
    const std::string bytes = RegFileOf(n);
    std::optional<RegKey> current;
    if (held) {
        current = RegKey{"bench server 0", {}, 0};
        // In another order than the file's, as a store may give them.
        for (size_t i = n; i-- > 0;) current->values.push_back({NameOf(i), TextOf(i, 1), 0});
    }
    size_t changed = 0;
    for (auto _ : state) {
        RegFile file = tovarine_tool::ReadRegFile(bytes);
        if (!file.refusals.empty()) {
            state.SkipWithError(file.refusals[0].c_str());
            return;
        }
        std::vector<RegKey> merged = tovarine_tool::MergeKeys(std::move(file.keys));
        const tovarine_tool::KeyChange change =
            tovarine_tool::ChangeTo(current, std::move(merged.at(0)));
        changed = change.values.size();
        benchmark::DoNotOptimize(changed);
    }
    if (changed != (held ? (n + 1) / 2 : n)) state.SkipWithError("the plan changes too much");
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_NewKey(benchmark::State &state) { Plan(state, false); }
void BM_HeldKey(benchmark::State &state) { Plan(state, true); }

void Sizes(benchmark::internal::Benchmark *b) {
    b->Arg(10000)->Arg(40000)->Arg(160000)->Unit(benchmark::kMillisecond);
    b->Complexity(benchmark::oN);
}

}  // namespace

BENCHMARK(BM_NewKey)->Name("RegImportPlan/new_key")->Apply(Sizes);
BENCHMARK(BM_HeldKey)->Name("RegImportPlan/held_key")->Apply(Sizes);
