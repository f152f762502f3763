#include "archive/transfer.h"

#include "codec/stream.h"
#include "scrambler/patch.h"

#include <cstring>

DataHookFn DataHook = nullptr;
bool PatchActive = false;
bool PatchCompleted = false;

namespace {

std::uint8_t ChunkBuffer[TRANSFER_CHUNK_SIZE];

}  // namespace

int TransferData(void* source, void* destination, std::int32_t& size, TransferFlags flags)
{
    bool patch = (flags & XFER_PATCH) != 0;
    PatchActive = patch;
    PatchCompleted = !patch;
    ResetPatchContinuation();
    DataHookOnInput = patch;
    DataHookOnOutput = patch;
    if (patch)
        DataHook = PatchHook;

    int result = 0;
    // The stream does not notice a destination file that takes fewer bytes
    // than it hands over; a full memory destination is a cut by design.
    bool toFile = StreamMemoryDestination == nullptr;
    if (flags & (XFER_DECOMPRESS | XFER_COMPRESS)) {
        if (flags & XFER_DECOMPRESS) {
            result = DecompressStream(static_cast<HANDLE>(source), destination);
        } else {
            StreamXorKey = static_cast<std::uint8_t>(flags & XFER_KEY_MASK);
            result = CompressStream(static_cast<HANDLE>(source), destination, size);
        }
        size = static_cast<std::int32_t>(StreamBytesWritten);
        if (toFile && StreamBytesWritten != StreamBytesOffered)
            result = 0;
    } else {
        result = CopyRaw(source, destination, size, flags);
    }
    if (!PatchCompleted)
        result = 0;
    DataHook = nullptr;
    DiscardPatchSource();
    return result;
}

// The key goes on before the hook for XFER_UNXOR and XFER_XOR_AROUND_PATCH,
// and after it unless XFER_UNXOR, so the hook always sees the bytes that
// the caller means: plain when the source is scrambled and the copy either
// unscrambles it or puts the key back afterwards.
int CopyRaw(void* source, void* destination, std::int32_t& size, TransferFlags flags)
{
    auto remaining = static_cast<std::uint32_t>(size);
    std::uint32_t key = flags & XFER_KEY_MASK;
    auto* from = static_cast<const std::uint8_t*>(source);
    auto* to = static_cast<std::uint8_t*>(destination);
    size = 0;
    int result = 1;
    PatchCompleted = !PatchActive;
    while (remaining != 0) {
        std::uint32_t chunk = remaining < TRANSFER_CHUNK_SIZE ? remaining : TRANSFER_CHUNK_SIZE;
        remaining -= chunk;
        if (flags & XFER_FROM_MEMORY) {
            std::memcpy(ChunkBuffer, from, chunk);
            from += chunk;
        } else {
            DWORD got = 0;
            if (!ReadFile(static_cast<HANDLE>(source), ChunkBuffer, chunk, &got, nullptr))
                got = 0;
            if (got != chunk) {
                result = 0;
                break;
            }
        }
        auto count = static_cast<std::int32_t>(chunk);
        if (flags & (XFER_UNXOR | XFER_XOR_AROUND_PATCH))
            XorBytes(ChunkBuffer, count, key);
        if (DataHook != nullptr && DataHook(ChunkBuffer, count) == 0)
            PatchActive = false;
        if (key != 0 && !(flags & XFER_UNXOR))
            XorBytes(ChunkBuffer, count, key);
        if (flags & XFER_TO_MEMORY) {
            std::memcpy(to, ChunkBuffer, chunk);
            to += chunk;
            size += count;
        } else {
            DWORD put = 0;
            if (!WriteFile(static_cast<HANDLE>(destination), ChunkBuffer, chunk, &put, nullptr) &&
                put > chunk)
                put = 0;
            size += static_cast<std::int32_t>(put);
            if (put != chunk) {
                result = 0;
                break;
            }
        }
    }
    DiscardPatchSource();
    if (!PatchCompleted)
        result = 0;
    return result;
}

void XorBytes(std::uint8_t* buffer, std::int32_t count, std::uint32_t key)
{
    auto k = static_cast<std::uint8_t>(key);
    for (std::int32_t i = 0; i < count; ++i)
        buffer[i] ^= k;
}
