// Throughput of the LZHUF codec alone, over memory: encoding and decoding
// the fixed inputs of bench/bench_inputs.h. Bytes per second count the plain
// bytes in both directions.
#include "bench/bench_inputs.h"
#include "codec/lzhuf.h"

#include <benchmark/benchmark.h>

namespace {

void Encode(benchmark::State& state, BenchInput which)
{
    const std::vector<std::uint8_t>& input = BenchData(which);
    std::vector<std::uint8_t> out(input.size() * 3 + 16);
    std::uint32_t n = 0;
    for (auto _ : state) {
        n = LzhufEncodeMemory(input.data(), static_cast<std::uint32_t>(input.size()), out.data(),
                              static_cast<std::uint32_t>(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
    state.counters["ratio"] = static_cast<double>(n) / static_cast<double>(input.size());
}

void Decode(benchmark::State& state, BenchInput which)
{
    const std::vector<std::uint8_t>& input = BenchData(which);
    std::vector<std::uint8_t> code(input.size() * 3 + 16);
    code.resize(LzhufEncodeMemory(input.data(), static_cast<std::uint32_t>(input.size()), code.data(),
                                  static_cast<std::uint32_t>(code.size())));
    std::vector<std::uint8_t> out(input.size());
    for (auto _ : state) {
        LzhufDecodeMemory(code.data(), static_cast<std::uint32_t>(code.size()), out.data(),
                          static_cast<std::uint32_t>(out.size()));
        benchmark::DoNotOptimize(out.data());
    }
    if (out != input)
        state.SkipWithError("decoded bytes differ");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
}

}  // namespace

BENCHMARK_CAPTURE(Encode, text_1MiB, BenchInput::Text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, code_2MiB, BenchInput::Code)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, random_1MiB, BenchInput::Random)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, text_1MiB, BenchInput::Text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, code_2MiB, BenchInput::Code)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, random_1MiB, BenchInput::Random)->Unit(benchmark::kMillisecond);
