// The codec against the plain step-by-step reference: the same code stream
// for every input, the same bytes when that stream is decoded, and the same
// bytes when the input itself is decoded as a (most likely damaged) code
// stream. Each run starts both from a fresh state, so that runs do not
// depend on each other.
#include "codec/lzhuf.h"
#include "tests/codec/reference_lzhuf.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// The production decoder's bytes for stream, cut at its declared size;
// memory beyond the room it is given must stay untouched.
std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& stream, std::uint32_t room)
{
    std::vector<std::uint8_t> out(room + 16, 0x5C);
    const std::uint32_t size = LzhufDecodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()),
                                                 out.data(), room);
    for (std::size_t i = room; i < out.size(); ++i)
        if (out[i] != 0x5C)
            std::abort();
    out.resize(std::min(size, room));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::uint8_t> input(data, data + size);

    ResetLzhufModule();
    reference::ResetAll();
    std::vector<std::uint8_t> code(size * 2 + 64);
    code.resize(LzhufEncodeMemory(input.data(), static_cast<std::uint32_t>(size), code.data(),
                                  static_cast<std::uint32_t>(code.size())));
    if (code != reference::Encode(input))
        std::abort();
    if (Decode(code, static_cast<std::uint32_t>(size)) != input)
        std::abort();

    // The input as a code stream: its first four bytes declare a size that
    // may be anything, so only sizes up to a bound are decoded, by both.
    constexpr std::uint32_t ROOM = 1 << 16;
    std::uint32_t declared = 0;
    if (size >= 4)
        std::memcpy(&declared, data, 4);
    if (declared > ROOM)
        return 0;
    ResetLzhufModule();
    reference::ResetAll();
    const std::vector<std::uint8_t> decoded = Decode(input, ROOM);
    std::vector<std::uint8_t> expected;
    if (size >= 4) {
        expected = reference::Decode(input);
        expected.resize(std::min<std::size_t>(expected.size(), declared));
    }
    if (decoded != expected)
        std::abort();
    return 0;
}
