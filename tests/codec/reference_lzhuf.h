// A plain, slow LZHUF encoder and decoder for tests only, written step by step
// from the algorithm's steps with 16-bit state words and one byte at a
// time, as the classic implementation does. The production codec must give
// exactly its bytes. It keeps its own state (its own ring, not reset between
// streams at positions 4036 and up, as the production codec does).
//
// Two points where the plain steps cannot be followed literally, decided the
// same way as in the production codec:
// - a symbol code longer than 16 bits is written whole (the plain 16-bit
//   code word would lose its deepest bits);
// - Decode returns the whole item stream; a caller that wants the production
//   codec's cut at the size compares the first `size` bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace reference {

// Code stream (size bytes included) for input.
std::vector<std::uint8_t> Encode(const std::vector<std::uint8_t>& input);

// Decoded bytes of a code stream; past the end of its input it reads 0 bits.
// A damaged stream may give up to 59 bytes more than its size (the last
// match is copied whole).
std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& stream);

// The codec over byte functions, as the framed block stream drives it: read
// answers the next byte or -1, write takes one byte. EncodeWith codes the
// input of the declared size (the caller has written the size bytes);
// DecodeWith decodes towards size, rereading *target (when given) before
// every item so that the caller can stop it by setting it to 0.
void EncodeWith(std::function<int()> read, std::function<void(int)> write, std::uint32_t size);
void DecodeWith(std::function<int()> read, std::function<void(int)> write, std::uint32_t size,
                std::uint32_t* target);

// The items of the last Encode, in order: a literal byte, or a match with
// its length (3-60) and position value (0-4095).
struct Item {
    bool match;
    int value;     // the literal byte, or the match length
    int position;  // matches only
    bool operator==(const Item&) const = default;
};
std::vector<Item> LastItems();

// Longest symbol code written by the last Encode, in bits.
int LastMaxCodeLength();

// Back to the state of a fresh process (ring zeros).
void ResetAll();

}  // namespace reference
