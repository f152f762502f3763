// Small helpers shared by the codec and stream tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/lzhuf.h"

namespace codectest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes FromHex(const std::string& hex)
{
    Bytes out;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            continue;
        }
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const Bytes& bytes)
{
    std::string out;
    char buf[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        out += buf;
    }
    return out;
}

inline Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// The production codec over memory, with room enough for any code stream:
// no code is longer than 21 bits, so 3 bytes per input byte always do.
inline Bytes Encode(const Bytes& input)
{
    Bytes out(input.size() * 3 + 16);
    const std::uint32_t n = LzhufEncodeMemory(input.data(), static_cast<std::uint32_t>(input.size()),
                                              out.data(), static_cast<std::uint32_t>(out.size()));
    out.resize(n);
    return out;
}

inline Bytes Decode(const Bytes& stream, std::uint32_t capacity)
{
    Bytes out(capacity);
    const std::uint32_t n =
        LzhufDecodeMemory(stream.data(), static_cast<std::uint32_t>(stream.size()), out.data(), capacity);
    out.resize(n < capacity ? n : capacity);
    return out;
}

// The size the code stream declares.
inline std::uint32_t DeclaredSize(const Bytes& stream)
{
    if (stream.size() < 4)
        return 0;
    return stream[0] | (stream[1] << 8) | (stream[2] << 16) | (static_cast<std::uint32_t>(stream[3]) << 24);
}

}  // namespace codectest
