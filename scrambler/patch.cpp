#include "scrambler/patch.h"

#include "archive/transfer.h"
#include "base/bytes.h"
#include "scrambler/scrambler.h"

#include <cstring>

namespace {

std::uint8_t* PatchSource = nullptr;
std::int32_t PatchRemaining = 0;
PatchOptions PatchFlags = 0;
bool PatchContinues = false;
std::int32_t PatchCount = 0;

void CopyPatchBytes(std::uint8_t* destination, std::int32_t count)
{
    std::memcpy(destination, PatchSource, static_cast<std::size_t>(count));
    if (PatchFlags & PATCH_SCRAMBLE)
        ScrambleBytes(destination, count, SCRAMBLE);
    PatchSource += count;
    PatchRemaining -= count;
}

}  // namespace

void SetPatchSource(std::uint8_t* source, std::int32_t length, int scramble, PatchOptions options)
{
    if (scramble != 0)
        options |= PATCH_SCRAMBLE;
    if (options & PATCH_SCRAMBLE)
        options &= ~PATCH_KEEP_MARKER;
    std::int32_t least = (options & PATCH_STORE_OFFSET) ? 4 : 1;
    PatchSource = source;
    PatchRemaining = (source != nullptr && length >= least) ? length : 0;
    PatchFlags = options;
    PatchCompleted = false;
}

// A chunk is scanned for the marker at every position that leaves at least
// one byte after the marker in the same chunk. The position count adds up
// the chunk lengths until the marker turns up, then holds its offset, which
// the archive writer records as the entry's patch position.
int PatchHook(std::uint8_t* chunk, std::int32_t n)
{
    if (!PatchActive)
        return 1;
    if (PatchContinues) {
        if (PatchRemaining <= 0)
            return 1;
        // Scrambling continues the payload's stream: no reset here.
        std::int32_t k = PatchRemaining < n ? PatchRemaining : n;
        CopyPatchBytes(chunk, k);
        if (PatchRemaining > 0)
            return 1;
        PatchContinues = false;
        PatchCompleted = true;
        return 0;
    }
    PatchCount += n;
    // Candidates are found by their first byte; memchr is much faster than
    // comparing the marker at every position.
    std::int32_t p = 0;
    for (;; ++p) {
        if (p > n - 9)
            return 1;
        const void* hit = std::memchr(chunk + p, PATCH_MARKER[0], static_cast<std::size_t>(n - 8 - p));
        if (hit == nullptr)
            return 1;
        p = static_cast<std::int32_t>(static_cast<const std::uint8_t*>(hit) - chunk);
        if (std::memcmp(chunk + p, PATCH_MARKER, PATCH_MARKER_SIZE) == 0)
            break;
    }
    std::int32_t marker = PatchCount - (n - p);
    PatchCount = marker;
    if (PatchRemaining <= 0)
        return 1;
    std::int32_t room = n - p - PATCH_MARKER_SIZE;
    if (PatchFlags & PATCH_STORE_OFFSET)
        WriteLe32(PatchSource, static_cast<std::uint32_t>(marker + PATCH_MARKER_SIZE));
    int result = 1;
    std::int32_t k = room;
    if (PatchRemaining <= room) {
        k = PatchRemaining;
        PatchCompleted = true;
        result = 0;
    } else {
        PatchContinues = true;
    }
    if (!(PatchFlags & PATCH_KEEP_MARKER)) {
        std::memcpy(chunk + p, PARAM_BLOCK_MAGIC, 4);
        WriteLe32(chunk + p + 4, static_cast<std::uint32_t>(PatchRemaining));
    }
    if (PatchFlags & PATCH_SCRAMBLE)
        ScramblerReset(nullptr);
    CopyPatchBytes(chunk + p + PATCH_MARKER_SIZE, k);
    return result;
}

void ResetPatchContinuation()
{
    PatchContinues = false;
    PatchCount = 0;
}

void DiscardPatchSource()
{
    PatchRemaining = 0;
}

std::int32_t PatchPosition()
{
    return PatchCount;
}
