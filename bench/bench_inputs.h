// The fixed inputs of the codec and stream benchmarks, the same bytes on
// every run (see tests/codec/sample_inputs.h for how they are made):
// 1 MiB of English-like text, 2 MiB of synthetic 32-bit x86 machine code,
// 1 MiB of random bytes.
#pragma once

#include "tests/codec/sample_inputs.h"

#include <cstdint>
#include <vector>

enum class BenchInput { Text, Code, Random };

inline const std::vector<std::uint8_t>& BenchData(BenchInput which)
{
    static const std::vector<std::uint8_t> text = samples::EnglishText(1 << 20);
    static const std::vector<std::uint8_t> code = samples::MachineCode(2 << 20);
    static const std::vector<std::uint8_t> random = samples::RandomBytes(1 << 20);
    switch (which) {
    case BenchInput::Text:
        return text;
    case BenchInput::Code:
        return code;
    default:
        return random;
    }
}
