// The keyed scrambler and parameter blocks.
//
// One process-wide scrambler state serves every user in turn: a user
// resets it with its key, then processes one stream of bytes in one or more
// ScrambleBytes calls in the same direction. A stream cut into several
// calls gives the same bytes as the whole stream in one call. Nothing else
// may touch the scrambler between the calls that make up one stream.
//
// A parameter block frames a block of settings: the magic "3U3G", a signed
// 32-bit little-endian payload length L (1 to 2047 when valid), then L
// payload bytes, scrambled under the default key from a fresh reset.
#pragma once

#include <cstdint>

inline constexpr char DEFAULT_KEY[] = "MoonPike";
inline constexpr std::uint8_t PARAM_BLOCK_MAGIC[4] = {0x33, 0x55, 0x33, 0x47};
constexpr std::int32_t PARAM_BLOCK_HEADER_SIZE = 8;
constexpr std::int32_t PARAM_BLOCK_MAX_LENGTH = 2047;

constexpr int SCRAMBLE = 1;
constexpr int UNSCRAMBLE = 0;

// Loads the running key from key (its first 10 characters, the rest of the
// 10 bytes zero) and clears both state words. A null key loads the default
// key "MoonPike"; an empty string loads ten zero bytes.
void ScramblerReset(const char* key);

// Scrambles (direction nonzero) or unscrambles (direction 0) length bytes
// at buffer in place, continuing the current stream. length <= 0 changes
// neither the buffer nor the state.
void ScrambleBytes(std::uint8_t* buffer, std::int32_t length, int direction);

// Reads the parameter block at block (any alignment): when its magic is
// "3U3G" and its length L satisfies 1 <= L <= 2047, resets the scrambler
// with the default key, unscrambles the L payload bytes in place and
// returns 1. Otherwise returns 0 and leaves the block untouched. The block
// is not marked: a second call would unscramble the plain payload again.
int ReadParamBlock(std::uint8_t* block);
