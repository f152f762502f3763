// The framed block stream: the file side of compression. CompressStream
// reads a source file, runs the LZHUF encoder over it and writes the code
// stream cut into checksummed "RC" blocks; DecompressStream reads and checks
// RC blocks, decodes them and writes the plain bytes to a file or memory.
//
// One stream at a time, not re-entrant. Hooks run inside the stream; a hook
// may call AbortStream but must not start another stream or archive
// operation.
#pragma once

#include "platform/win32.h"

#include <cstdint>

using ProgressHookFn = void (*)(std::int32_t bytes);
using YieldHookFn = void (*)();
using BlockReadHookFn = void (*)(std::int32_t bytes);

// Called after every block write with the bytes written.
extern ProgressHookFn ProgressHook;
// Called after every 1024 counted byte transfers, after every block check
// and before every block write.
extern YieldHookFn YieldHook;
// Called after every read with the bytes obtained.
extern BlockReadHookFn BlockReadHook;

// When compressing and not 0, every chunk read is XORed with this key
// before anything else sees it. Set by the transfer engine; 0 after a stream.
extern std::uint8_t StreamXorKey;
// When set, output goes to this address (which advances) instead of to the
// destination file. Empty after a stream.
extern std::uint8_t* StreamMemoryDestination;
// The room at StreamMemoryDestination: at most this many bytes are written
// there; decoded bytes beyond it are dropped (decoding may stop once it is
// reached) and do not by themselves fail the stream. A memory destination
// is thus never written past its end. 0 after a stream.
extern std::uint32_t StreamMemoryLimit;
// Pass each chunk read (compressing) / each output block (decompressing) to
// DataHook; a switch turns off for the rest of the stream when the hook
// returns 0. Both are off after a stream.
extern bool DataHookOnInput;
extern bool DataHookOnOutput;
// Bytes written to the destination by the running or last stream.
extern std::uint32_t StreamBytesWritten;

// Compresses size bytes of source into a framed block stream at
// destination. Returns 1, or 0 when the stream was aborted.
int CompressStream(HANDLE source, void* destination, std::int32_t size);

// Decompresses the framed block stream that starts at source's current
// position. Returns 1, or 0 when a block failed its check or the stream was
// aborted.
int DecompressStream(HANDLE source, void* destination);

// Stops the running stream and makes it fail.
void AbortStream();
