// Placeholder until the LZHUF codec lands: every stream fails cleanly and
// writes nothing.
#include "codec/stream.h"

ProgressHookFn ProgressHook = nullptr;
YieldHookFn YieldHook = nullptr;
BlockReadHookFn BlockReadHook = nullptr;
std::uint8_t StreamXorKey = 0;
std::uint8_t* StreamMemoryDestination = nullptr;
std::uint32_t StreamMemoryLimit = 0;
bool DataHookOnInput = false;
bool DataHookOnOutput = false;
std::uint32_t StreamBytesWritten = 0;

namespace {

void EndStream()
{
    DataHookOnInput = false;
    DataHookOnOutput = false;
    StreamXorKey = 0;
    StreamMemoryDestination = nullptr;
    StreamMemoryLimit = 0;
}

}  // namespace

int CompressStream(HANDLE, void*, std::int32_t)
{
    StreamBytesWritten = 0;
    EndStream();
    return 0;
}

int DecompressStream(HANDLE, void*)
{
    StreamBytesWritten = 0;
    EndStream();
    return 0;
}

void AbortStream() {}
