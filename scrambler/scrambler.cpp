#include "scrambler/scrambler.h"

#include "base/bytes.h"
#include "scrambler/pc1.h"

namespace {

Pc1State Scrambler{};

}  // namespace

void ScramblerReset(const char* key)
{
    Scrambler = Pc1Load(key != nullptr ? key : DEFAULT_KEY);
}

void ScrambleBytes(std::uint8_t* buffer, std::int32_t length, int direction)
{
    if (direction != UNSCRAMBLE) {
        for (std::int32_t i = 0; i < length; ++i)
            buffer[i] = Pc1Scramble(Scrambler, buffer[i]);
    } else {
        for (std::int32_t i = 0; i < length; ++i)
            buffer[i] = Pc1Unscramble(Scrambler, buffer[i]);
    }
}

int ReadParamBlock(std::uint8_t* block)
{
    for (int i = 0; i < 4; ++i) {
        if (block[i] != PARAM_BLOCK_MAGIC[i])
            return 0;
    }
    std::int32_t length = ReadLe32Signed(block + 4);
    if (length <= 0 || length > PARAM_BLOCK_MAX_LENGTH)
        return 0;
    ScramblerReset(nullptr);
    ScrambleBytes(block + PARAM_BLOCK_HEADER_SIZE, length, UNSCRAMBLE);
    return 1;
}
