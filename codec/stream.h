// The framed block stream: the file side of compression. CompressStream
// reads a source file, runs the LZHUF encoder over it and writes the code
// stream cut into checksummed "RC" blocks; DecompressStream reads and checks
// RC blocks, decodes them and writes the plain bytes to a file or memory.
//
// RC block, little-endian: magic 0x4352 ("RC"), checksum (0x68A5 plus the
// payload bytes, modulo 65536), length of the whole block (6 + payload),
// payload. A stream is a 10-byte size block (the four size bytes of the code
// stream), data blocks of exactly 10240 bytes, and a shorter last block
// (only its header when the code bytes filled the block before it or there
// are none). Readers take the size block with a 10-byte read and every later
// block with a 10240-byte read.
//
// One stream at a time, not re-entrant. Hooks run inside the stream; a hook
// may call AbortStream but must not start another stream or archive
// operation.
#pragma once

#include "platform/win32.h"

#include <cstdint>

constexpr std::uint16_t RC_MAGIC = 0x4352;
constexpr std::uint16_t CHECKSUM_SEED = 0x68A5;
constexpr std::int32_t BLOCK_HEADER_SIZE = 6;
constexpr std::int32_t SIZE_BLOCK_SIZE = 10;
constexpr std::int32_t BLOCK_SIZE = 10240;
constexpr std::int32_t YIELD_INTERVAL = 1024;

using ProgressHookFn = void (*)(std::int32_t bytes);
using YieldHookFn = void (*)();
using BlockReadHookFn = void (*)(std::int32_t bytes);

// Called after every block write with the bytes written.
extern ProgressHookFn ProgressHook;
// Called after every 1024 counted byte transfers (byte reads and writes
// that start no block read or write share one count), after every block
// check and before every block write.
extern YieldHookFn YieldHook;
// Called after every read with the bytes obtained.
extern BlockReadHookFn BlockReadHook;

// When not 0, every chunk read is XORed with this key before anything else
// sees it. Set by the transfer engine when compressing; 0 after a stream.
extern std::uint8_t StreamXorKey;
// When set, output goes to this address (which advances) instead of to the
// destination file. Empty after a stream.
extern std::uint8_t* StreamMemoryDestination;
// The room at StreamMemoryDestination: at most this many bytes are written
// there; bytes beyond it are dropped like those of a short write (they are
// not counted in StreamBytesWritten) and do not by themselves fail the
// stream, which decodes on to its end. A memory destination is thus never
// written past its end; without a limit it takes nothing. 0 after a stream.
extern std::uint32_t StreamMemoryLimit;
// Pass each chunk read (compressing) / each output block (decompressing) to
// DataHook; a switch turns off for the rest of the stream when the hook
// returns 0. CompressStream turns DataHookOnOutput off at its start and
// DecompressStream DataHookOnInput, so the hook only sees plain data. Both
// are off after a stream.
extern bool DataHookOnInput;
extern bool DataHookOnOutput;
// Bytes that reached the destination in the running or last stream: the
// framed stream's length when compressing, the decoded bytes when
// decompressing. Kept until the next stream starts.
extern std::uint32_t StreamBytesWritten;
// Bytes handed to the destination in the running or last stream; more than
// StreamBytesWritten exactly when a write came up short (or the memory
// destination was full).
extern std::uint32_t StreamBytesOffered;

// Compresses size bytes of source into a framed block stream at
// destination (a file handle, unless StreamMemoryDestination is set). size
// is written into the stream before any source byte is read; a source that
// ends early or fails to read simply ends the input. Returns 1, or 0 when
// the stream was aborted. Write errors are not detected here: compare
// StreamBytesWritten with StreamBytesOffered.
int CompressStream(HANDLE source, void* destination, std::int32_t size);

// Decompresses the framed block stream that starts at source's current
// position into destination (a file handle, unless StreamMemoryDestination
// is set). Returns 1, or 0 when a block failed its check (bad magic, length
// below 6 or beyond the bytes read, checksum, a read that brings fewer than
// 6 bytes), when the code bits ran out before the declared size (the decoder
// asked for more than two bytes past the last block), or when the stream
// was aborted; the bytes decoded until then, those of the item being
// decoded included, are still written. After the size block, a block
// shorter than 10240 bytes is the last one; bytes after it are never read
// into the output and never fail the stream.
int DecompressStream(HANDLE source, void* destination);

// Called while a stream runs (from one of its hooks): stops it and makes it
// fail. A decoder stops after its current item; an encoder sees the end of
// its input and codes the look-ahead it holds; either stream then writes
// what it holds and returns 0.
void AbortStream();
