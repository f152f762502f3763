#include "installer/settings.h"

#include "scrambler/pc1.h"
#include "scrambler/scrambler.h"

namespace {

constexpr SettingsParamBlock EmptySettingsBlock()
{
    SettingsParamBlock block{};
    for (int i = 0; i < 4; ++i)
        block.magic[i] = PARAM_BLOCK_MAGIC[i];
    block.length[0] = SETTINGS_SIZE & 0xFF;
    block.length[1] = (SETTINGS_SIZE >> 8) & 0xFF;
    Pc1State state = Pc1Load(DEFAULT_KEY);
    for (std::uint8_t& b : block.payload.bytes)
        b = Pc1Scramble(state, 0);
    return block;
}

}  // namespace

SettingsParamBlock EmbeddedSettings = EmptySettingsBlock();
