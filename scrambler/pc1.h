// The keystream of the scrambler: the PC1 stream cipher with an 80-bit key.
// Kept constexpr so that a block can be scrambled at compile time (the
// installer's embedded settings start as a scrambled empty record).
//
// The state is a 10-byte running key and two 16-bit words S and T. Before
// each byte a keystream word W is derived in five rounds, one per 16-bit
// pair of the running key (read big-endian); the mask byte is the XOR of
// W's two halves. The running key is then XORed with the plain byte, so
// every mask depends on all plain bytes before it.
#pragma once

#include <cstdint>

struct Pc1State {
    std::uint8_t key[10];
    std::uint16_t s;
    std::uint16_t t;
};

constexpr Pc1State Pc1Load(const char* key)
{
    Pc1State state{};
    for (int j = 0; j < 10 && key[j] != '\0'; ++j)
        state.key[j] = static_cast<std::uint8_t>(key[j]);
    return state;
}

constexpr std::uint8_t Pc1Mask(Pc1State& state)
{
    std::uint16_t a = 0;
    std::uint16_t w = 0;
    std::uint16_t t = state.t;
    for (int i = 0; i < 5; ++i) {
        a ^= static_cast<std::uint16_t>((state.key[2 * i] << 8) | state.key[2 * i + 1]);
        t = static_cast<std::uint16_t>(t + i);
        auto u = static_cast<std::uint16_t>(state.s + 20021u * t + 346u * a);
        state.s = static_cast<std::uint16_t>(346u * a);
        a = static_cast<std::uint16_t>(20021u * a + 1u);
        t = u;
        w = static_cast<std::uint16_t>(w ^ t ^ a);
    }
    state.t = t;
    return static_cast<std::uint8_t>((w >> 8) ^ (w & 0xFF));
}

constexpr void Pc1Feed(Pc1State& state, std::uint8_t plain)
{
    for (std::uint8_t& k : state.key)
        k ^= plain;
}

constexpr std::uint8_t Pc1Scramble(Pc1State& state, std::uint8_t plain)
{
    std::uint8_t mask = Pc1Mask(state);
    Pc1Feed(state, plain);
    return static_cast<std::uint8_t>(plain ^ mask);
}

constexpr std::uint8_t Pc1Unscramble(Pc1State& state, std::uint8_t scrambled)
{
    auto plain = static_cast<std::uint8_t>(scrambled ^ Pc1Mask(state));
    Pc1Feed(state, plain);
    return plain;
}
