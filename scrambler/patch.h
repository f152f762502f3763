// In-stream parameter patching.
//
// Entry data may reserve room for parameters: the 8-byte patch marker
// "1ULG" "2ULG" followed by room for the parameter bytes. While the
// transfer engine copies such data with XFER_PATCH, PatchHook runs over
// every chunk, finds the first marker and writes a parameter block in its
// place: the marker becomes the header "3U3G" + the patch length, and the
// patch bytes follow it (scrambled under the default key on request). The
// data keeps its length.
//
// There is one pending patch at a time. It serves one transfer at most: the
// transfer engine and the archive operations discard it when they finish.
#pragma once

#include <cstdint>

inline constexpr std::uint8_t PATCH_MARKER[8] = {0x31, 0x55, 0x4C, 0x47, 0x32, 0x55, 0x4C, 0x47};
constexpr std::int32_t PATCH_MARKER_SIZE = 8;

using PatchOptions = std::uint32_t;
// Before the patch bytes are copied, the payload's offset in the data
// (marker offset + 8) is written little-endian over the first 4 patch bytes.
constexpr PatchOptions PATCH_STORE_OFFSET = 0x1;
// The payload is scrambled under the default key, as one stream even when
// it is written in pieces; implies the header (cancels PATCH_KEEP_MARKER).
constexpr PatchOptions PATCH_SCRAMBLE = 0x2;
// The marker stays and no header is written; the payload still begins 8
// bytes after the marker.
constexpr PatchOptions PATCH_KEEP_MARKER = 0x10000;

// Names the next patch: length bytes at source (read when the marker
// passes, not now), scramble nonzero adds PATCH_SCRAMBLE. Clears
// PatchCompleted. A length below 1, or below 4 with PATCH_STORE_OFFSET
// (whose offset would not fit), leaves no patch pending, so the transfer
// that was to patch fails instead of writing past the source.
void SetPatchSource(std::uint8_t* source, std::int32_t length, int scramble, PatchOptions options);

// The data hook of a transfer with XFER_PATCH: scans chunk (n bytes) for
// the marker while PatchActive is set and writes the pending patch there.
// Returns 0 once the whole patch has been written (PatchCompleted is then
// set), 1 to be called with the next chunk. A marker is found only when at
// least one byte follows it in its own chunk. A payload cut at a chunk's end
// continues at the start of the next chunk, and of as many chunks after it
// as it needs; it never writes past a chunk.
int PatchHook(std::uint8_t* chunk, std::int32_t n);

// Clears the continuation state: the continuation flag, and the position
// count to 0. The transfer engine does this at the start of every transfer.
void ResetPatchContinuation();

// Drops the pending patch (no bytes remain to be written).
void DiscardPatchSource();

// The position count: the total length of the chunks scanned in this
// transfer, or, once the marker was found, the marker's offset.
std::int32_t PatchPosition();
