// Throughput of the transfer engine's raw copy: memory to memory and file
// to file, plain, XOR-scrambled, and through the patch hook (which scans
// every byte for the marker). Reports bytes per second.
#include "archive/transfer.h"
#include "platform/win32.h"
#include "scrambler/patch.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::int32_t SIZE = 4 << 20;

std::vector<std::uint8_t> Source()
{
    std::vector<std::uint8_t> data(SIZE);
    std::uint32_t x = 12345;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    // One marker at the very end, so the hook scans everything first.
    const char marker[] = "1ULG2ULG";
    std::copy(marker, marker + 8, data.end() - 100);
    return data;
}

void MemoryCopy(benchmark::State& state, TransferFlags flags)
{
    std::vector<std::uint8_t> source = Source();
    std::vector<std::uint8_t> destination(SIZE);
    std::uint8_t patch[20] = {};
    for (auto _ : state) {
        if (flags & XFER_PATCH)
            SetPatchSource(patch, sizeof patch, 0, 0);
        std::int32_t size = SIZE;
        TransferData(source.data(), destination.data(), size, flags | XFER_FROM_MEMORY | XFER_TO_MEMORY);
        benchmark::DoNotOptimize(destination.data());
    }
    state.SetBytesProcessed(state.iterations() * SIZE);
}

void FileCopy(benchmark::State& state, TransferFlags flags)
{
    std::string in = "/tmp/saverpack-bench-" + std::to_string(getpid()) + ".in";
    std::string out = in + ".out";
    std::vector<std::uint8_t> source = Source();
    std::FILE* f = std::fopen(in.c_str(), "wb");
    std::fwrite(source.data(), 1, source.size(), f);
    std::fclose(f);
    std::uint8_t patch[20] = {};
    for (auto _ : state) {
        HANDLE from = CreateFileA(in.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        HANDLE to = CreateFileA(out.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
        if (flags & XFER_PATCH)
            SetPatchSource(patch, sizeof patch, 0, 0);
        std::int32_t size = SIZE;
        TransferData(from, to, size, flags);
        CloseHandle(to);
        CloseHandle(from);
    }
    state.SetBytesProcessed(state.iterations() * SIZE);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

}  // namespace

BENCHMARK_CAPTURE(MemoryCopy, plain, 0);
BENCHMARK_CAPTURE(MemoryCopy, xor, 0x5A);
BENCHMARK_CAPTURE(MemoryCopy, patch, XFER_PATCH);
BENCHMARK_CAPTURE(MemoryCopy, unxor_patch, 0x5A | XFER_UNXOR | XFER_PATCH);
BENCHMARK_CAPTURE(FileCopy, plain, 0);
BENCHMARK_CAPTURE(FileCopy, xor_patch, 0x5A | XFER_XOR_AROUND_PATCH | XFER_PATCH);
