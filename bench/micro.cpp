// Micro-benchmarks through the library, in memory: the operand lexer (operand-heavy
// lines) and the listing writer (one short statement a line, so the listing dominates).
#include <benchmark/benchmark.h>

#include <string>

#include "korvane/korvane.h"

namespace {

std::string repeatLines(const std::string& line, int n) {
    std::string s;
    s.reserve(line.size() * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) s += line;
    return s;
}

void run(benchmark::State& state, const std::string& source, int lines) {
    for (auto _ : state) {
        korvane::MemorySource in(source);
        korvane::MemorySink bin, log;
        korvane::NoIncludes none;
        korvane::Result r = korvane::assemble(in, bin, log, none);
        if (!r.ok) state.SkipWithError(r.diagnostic.text.c_str());
        benchmark::DoNotOptimize(bin.bytes().data());
    }
    state.SetItemsProcessed(state.iterations() * lines);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(source.size()));
}

void BM_Lexer(benchmark::State& state) {
    const int n = 10000;
    run(state, "LABEL: " + repeatLines("  DC.L $12345678,-1,0x7F,LABEL,1000000 ; data\n", n), n);
}
BENCHMARK(BM_Lexer);

void BM_AddressingModes(benchmark::State& state) {
    const int n = 10000;
    run(state,
        repeatLines("  MOV.L @(8,R4),R5\n  MOV.B R0,@(R0,R3)\n  ADD #-4,R15\n  MOV.L @R15+,R1\n",
                    n),
        4 * n);
}
BENCHMARK(BM_AddressingModes);

void BM_Listing(benchmark::State& state) {
    const int n = 100000;
    run(state, repeatLines("NOP\n", n), n);
}
BENCHMARK(BM_Listing);

}  // namespace

BENCHMARK_MAIN();
