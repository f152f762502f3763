// Throughput of the framed block stream: CompressStream and DecompressStream
// from a file to a file and to memory, on the fixed inputs of
// bench/bench_inputs.h. Bytes per second count the plain bytes.
#include "bench/bench_inputs.h"
#include "codec/stream.h"
#include "platform/win32.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string ScratchPath(const char* name)
{
    return "/tmp/saverpack-bench-" + std::to_string(getpid()) + "-" + name;
}

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& data)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

HANDLE OpenIn(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreateOut(const std::string& path)
{
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

void Compress(benchmark::State& state, BenchInput which, bool toMemory)
{
    const std::vector<std::uint8_t>& input = BenchData(which);
    const std::string in = ScratchPath("plain"), out = ScratchPath("packed");
    WriteAll(in, input);
    std::vector<std::uint8_t> memory(input.size() * 2 + 64);
    for (auto _ : state) {
        HANDLE from = OpenIn(in);
        HANDLE to = toMemory ? INVALID_HANDLE_VALUE : CreateOut(out);
        if (toMemory) {
            StreamMemoryDestination = memory.data();
            StreamMemoryLimit = static_cast<std::uint32_t>(memory.size());
        }
        CompressStream(from, to, static_cast<std::int32_t>(input.size()));
        CloseHandle(from);
        if (!toMemory)
            CloseHandle(to);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
    std::remove(in.c_str());
    std::remove(out.c_str());
}

void Decompress(benchmark::State& state, BenchInput which, bool toMemory)
{
    const std::vector<std::uint8_t>& input = BenchData(which);
    const std::string in = ScratchPath("plain"), packed = ScratchPath("packed"), out = ScratchPath("back");
    WriteAll(in, input);
    {
        HANDLE from = OpenIn(in);
        HANDLE to = CreateOut(packed);
        CompressStream(from, to, static_cast<std::int32_t>(input.size()));
        CloseHandle(from);
        CloseHandle(to);
    }
    std::vector<std::uint8_t> memory(input.size());
    for (auto _ : state) {
        HANDLE from = OpenIn(packed);
        HANDLE to = toMemory ? INVALID_HANDLE_VALUE : CreateOut(out);
        if (toMemory) {
            StreamMemoryDestination = memory.data();
            StreamMemoryLimit = static_cast<std::uint32_t>(memory.size());
        }
        DecompressStream(from, to);
        CloseHandle(from);
        if (!toMemory)
            CloseHandle(to);
    }
    if (toMemory && memory != input)
        state.SkipWithError("decoded bytes differ");
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input.size()));
    std::remove(in.c_str());
    std::remove(packed.c_str());
    std::remove(out.c_str());
}

}  // namespace

BENCHMARK_CAPTURE(Compress, file_text_1MiB, BenchInput::Text, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, file_code_2MiB, BenchInput::Code, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, file_random_1MiB, BenchInput::Random, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, memory_text_1MiB, BenchInput::Text, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, memory_code_2MiB, BenchInput::Code, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Compress, memory_random_1MiB, BenchInput::Random, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decompress, file_text_1MiB, BenchInput::Text, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decompress, file_code_2MiB, BenchInput::Code, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decompress, file_random_1MiB, BenchInput::Random, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decompress, memory_text_1MiB, BenchInput::Text, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decompress, memory_code_2MiB, BenchInput::Code, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decompress, memory_random_1MiB, BenchInput::Random, true)->Unit(benchmark::kMillisecond);
