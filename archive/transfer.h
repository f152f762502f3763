// The transfer engine: moves one run of bytes from a source to a
// destination (each a file or a memory block) as a raw copy in 16 KB
// chunks, as compression into a framed block stream, or as decompression
// out of one. On the way the bytes may be XORed with one key byte, and a
// data hook may inspect and rewrite them (the patch hook does so).
//
// Not re-entrant: one transfer at a time; DataHook must not start another.
#pragma once

#include "platform/win32.h"

#include <cstdint>

using TransferFlags = std::uint32_t;
constexpr TransferFlags XFER_KEY_MASK = 0xFF;              // XOR key byte; 0 = no XOR
constexpr TransferFlags XFER_COMPRESS = 0x100;             // compress into a framed block stream
constexpr TransferFlags XFER_DECOMPRESS = 0x200;           // decompress; wins over XFER_COMPRESS
constexpr TransferFlags XFER_PATCH = 0x1000;               // run the patch hook; fail unless it completes
constexpr TransferFlags XFER_UNXOR = 0x2000;               // raw: key before the hook, not after
constexpr TransferFlags XFER_TO_MEMORY = 0x1000000;        // raw: destination is a memory address
constexpr TransferFlags XFER_FROM_MEMORY = 0x2000000;      // raw: source is a memory address
constexpr TransferFlags XFER_XOR_AROUND_PATCH = 0x8000000; // raw: key before and after the hook

constexpr std::int32_t TRANSFER_CHUNK_SIZE = 16384;

// A data hook sees each chunk on its way to the destination, may rewrite
// its bytes in place (never its length) and returns nonzero to see later
// chunks, 0 when it is done.
using DataHookFn = int (*)(std::uint8_t* chunk, std::int32_t count);

// Set to PatchHook for the length of a transfer with XFER_PATCH; empty at
// all other times.
extern DataHookFn DataHook;
// Set at the start of a transfer exactly when XFER_PATCH is given; the raw
// copy clears it when DataHook returns 0. The patch hook scans only while set.
extern bool PatchActive;
// Clear at the start of a transfer with XFER_PATCH, set otherwise; set by
// the patch hook once the whole patch is written. A transfer that ends with
// it clear fails.
extern bool PatchCompleted;

// Moves size bytes from source to destination as flags say. source and
// destination are file handles, or memory addresses where
// XFER_FROM_MEMORY / XFER_TO_MEMORY allow (raw copies only; the stream
// writes to memory through StreamMemoryDestination). On return size holds
// the bytes written to the destination, also after a failure. Returns 1 for
// success; 0 when a read comes up short, a write takes fewer bytes than
// handed to it, the stream fails, or XFER_PATCH was given and no patch was
// completed. Discards the pending patch source.
int TransferData(void* source, void* destination, std::int32_t& size, TransferFlags flags);

// The raw copy alone, with the same arguments and results. size is taken
// as an unsigned count: from a file, -1 copies until a read comes up short.
int CopyRaw(void* source, void* destination, std::int32_t& size, TransferFlags flags);

// XORs count bytes at buffer with the low 8 bits of key; count <= 0 does nothing.
void XorBytes(std::uint8_t* buffer, std::int32_t count, std::uint32_t key);
