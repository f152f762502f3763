// The patch hook over arbitrary data: the first bytes choose the patch
// length and options, the rest is the data copied with XFER_PATCH. Checks
// that the copy keeps the data's length, never writes outside the output
// or the patch source, and that a completed patch sits where the hook says.
#include "archive/transfer.h"
#include "scrambler/patch.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    std::int32_t length = data[0] | ((data[1] & 0x7F) << 8);
    std::uint8_t mode = data[2];
    PatchOptions options = ((mode & 1) ? PATCH_STORE_OFFSET : 0) | ((mode & 2) ? PATCH_KEEP_MARKER : 0);
    int scramble = (mode & 4) ? 1 : 0;
    std::vector<std::uint8_t> input(data + 3, data + size);
    if (mode & 8)  // make long inputs that cross chunk boundaries
        input.resize(input.size() * 97);

    std::vector<std::uint8_t> patch(static_cast<std::size_t>(length) + 16, 0xA5);
    std::vector<std::uint8_t> out(input.size() + 16, 0xEE);
    SetPatchSource(patch.data(), length, scramble, options);
    auto moved = static_cast<std::int32_t>(input.size());
    int result = TransferData(input.data(), out.data(), moved, XFER_PATCH | XFER_FROM_MEMORY | XFER_TO_MEMORY);
    if (moved != static_cast<std::int32_t>(input.size()))
        std::abort();
    for (std::size_t i = input.size(); i < out.size(); ++i)
        if (out[i] != 0xEE)
            std::abort();
    for (std::size_t i = static_cast<std::size_t>(length); i < patch.size(); ++i)
        if (patch[i] != 0xA5)
            std::abort();
    if (result) {
        auto at = static_cast<std::size_t>(PatchPosition());
        if (at + 8 + static_cast<std::size_t>(length) > input.size())
            std::abort();
        if (!scramble && std::memcmp(out.data() + at + 8, patch.data(), static_cast<std::size_t>(length)) != 0)
            std::abort();
    }
    return 0;
}
