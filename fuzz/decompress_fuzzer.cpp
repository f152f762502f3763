// DecompressStream over arbitrary bytes, once to a file and once to a small
// memory destination. Checks that the stream never writes past the room it
// has, that both destinations get the same bytes, that the count it reports
// is what arrived, and that a stream declaring more than its code holds is
// stopped instead of decoding on over zero bits.
#include "codec/stream.h"
#include "fuzz/fuzz_files.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string in = FuzzScratchPath("decompress-in");
    static const std::string out = FuzzScratchPath("decompress-out");

    HANDLE source = FuzzWriteAndOpen(in, data, size);
    HANDLE target = FuzzCreate(out);
    int toFile = DecompressStream(source, target);
    std::uint32_t fileBytes = StreamBytesWritten;
    CloseHandle(target);
    std::vector<std::uint8_t> written = FuzzReadBack(out);
    if (written.size() != fileBytes || (toFile != 0 && toFile != 1))
        std::abort();
    // Decoding runs at most one damaged item (60 bytes) past what the code
    // bits of the input can describe: no item is shorter than 3 bits.
    if (fileBytes > size * 8 / 3 * 60 + 60)
        std::abort();

    const std::uint32_t room = 1 + (size > 0 ? data[size / 2] * 37u : 0u);
    std::vector<std::uint8_t> memory(room + 32, 0x5C);
    SetFilePointer(source, 0, nullptr, FILE_BEGIN);
    StreamMemoryDestination = memory.data();
    StreamMemoryLimit = room;
    int toMemory = DecompressStream(source, nullptr);
    CloseHandle(source);
    if (toMemory != toFile || StreamMemoryDestination != nullptr || StreamMemoryLimit != 0)
        std::abort();
    std::uint32_t memoryBytes = StreamBytesWritten;
    if (memoryBytes > room || memoryBytes != (fileBytes < room ? fileBytes : room))
        std::abort();
    for (std::size_t i = room; i < memory.size(); ++i)
        if (memory[i] != 0x5C)
            std::abort();
    if (memoryBytes > 0 && std::memcmp(memory.data(), written.data(), memoryBytes) != 0)
        std::abort();
    return 0;
}
