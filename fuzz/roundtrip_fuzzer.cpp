// Compress, then decompress: the input comes back, from a file and into
// memory. The first byte, when odd, also sets an XOR key that the source
// carries and compression takes off.
#include "archive/transfer.h"
#include "codec/stream.h"
#include "fuzz/fuzz_files.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string plain = FuzzScratchPath("roundtrip-plain");
    static const std::string packed = FuzzScratchPath("roundtrip-packed");
    static const std::string back = FuzzScratchPath("roundtrip-back");

    std::uint8_t key = (size > 0 && (data[0] & 1)) ? data[0] : 0;
    std::vector<std::uint8_t> source(data, data + size);
    for (auto& b : source)
        b ^= key;
    HANDLE in = FuzzWriteAndOpen(plain, source.data(), source.size());
    HANDLE out = FuzzCreate(packed);
    auto moved = static_cast<std::int32_t>(size);
    if (TransferData(in, out, moved, XFER_COMPRESS | key) != 1)
        std::abort();
    CloseHandle(in);
    CloseHandle(out);
    if (static_cast<std::uint32_t>(moved) != StreamBytesWritten || StreamBytesWritten != StreamBytesOffered)
        std::abort();

    std::vector<std::uint8_t> stream = FuzzReadBack(packed);
    in = FuzzWriteAndOpen(packed, stream.data(), stream.size());
    out = FuzzCreate(back);
    moved = 0;
    if (TransferData(in, out, moved, XFER_DECOMPRESS) != 1 || static_cast<std::size_t>(moved) != size)
        std::abort();
    CloseHandle(out);
    std::vector<std::uint8_t> result = FuzzReadBack(back);
    if (result.size() != size || (size > 0 && std::memcmp(result.data(), data, size) != 0))
        std::abort();

    std::vector<std::uint8_t> memory(size + 16, 0xA3);
    SetFilePointer(in, 0, nullptr, FILE_BEGIN);
    StreamMemoryDestination = memory.data();
    StreamMemoryLimit = static_cast<std::uint32_t>(size);
    if (DecompressStream(in, nullptr) != 1 || StreamBytesWritten != size)
        std::abort();
    CloseHandle(in);
    if ((size > 0 && std::memcmp(memory.data(), data, size) != 0) || memory[size] != 0xA3)
        std::abort();
    return 0;
}
