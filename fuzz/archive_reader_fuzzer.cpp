// Opens arbitrary bytes as a glue archive, lists its records and restores
// every entry into memory, into a file and through a concatenation target,
// then copies the entries into a new archive. Any read or write outside a
// buffer, or a hang, is a fault; failures are expected and fine.
//
// Each input runs twice: as it is, and with its trailing records taken as
// a plain directory that is scrambled first (as many records as the count
// in the last record's first byte says). Mutations then reach the fields of
// records, which a scrambled directory hides behind its magic.
#include "archive/archive.h"
#include "scrambler/scrambler.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::string FileName(const char* what)
{
    return "archive_reader_fuzz_" + std::to_string(getpid()) + "_" + what;
}

void Exercise(const std::uint8_t* data, std::size_t size)
{
    std::string input = FileName("input");
    std::string output = FileName("output");
    std::string concat = FileName("concat");
    std::string copy = FileName("copy");
    if (std::FILE* f = std::fopen(input.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }

    ResetArchiveModule();
    EnableFailureLatch(0);
    HANDLE archive = OpenInputArchive(input.c_str());
    (void)InputOpenStage();
    std::int32_t count = InputEntryCount();
    // Guard bytes after the room given: an overrun shows as a changed byte.
    std::uint8_t memory[4096 + 64];
    SetConcatTarget(concat.c_str());
    HANDLE out = CreateOutputArchive(copy.c_str());
    for (std::int32_t k = 0; k < count; ++k) {
        const std::uint8_t* record = InputEntryRecord(k);
        char name[ENTRY_NAME_SIZE + 1] = {};
        std::memcpy(name, record + RECORD_NAME, ENTRY_NAME_SIZE);
        (void)EntryStoredSize(name);
        (void)EntryOriginalSize(name);
        (void)SameEntryData(name, reinterpret_cast<const char*>(InputEntryRecord(0) + RECORD_NAME));
        std::uint8_t inlineBytes[INLINE_MAX_LENGTH];
        std::int32_t length = -1;
        ReadInlineEntry(name, inlineBytes, &length);
        if (length < 0 || length > INLINE_MAX_LENGTH)
            __builtin_trap();

        std::memset(memory, 0xA5, sizeof memory);
        ExtractEntryToMemory(name, memory, 4096);
        for (std::size_t i = 4096; i < sizeof memory; ++i) {
            if (memory[i] != 0xA5)
                __builtin_trap();
        }
        ExtractEntry(name, nullptr);  // into the concatenation target
        SetConcatTarget(nullptr);
        ExtractEntry(name, output.c_str());
        SetConcatTarget(concat.c_str());
        CopyEntry(name, XFER_DECOMPRESS | XFER_UNXOR);
        CopyInlineEntry(name);
        AddAliasEntry("alias", name);
    }
    CloseArchive(out);
    SetConcatTarget(nullptr);
    CloseArchive(archive);
    ResetArchiveModule();
    std::remove(input.c_str());
    std::remove(output.c_str());
    std::remove(concat.c_str());
    std::remove(copy.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Exercise(data, size);
    if (size < static_cast<std::size_t>(ENTRY_RECORD_SIZE))
        return 0;
    std::vector<std::uint8_t> scrambled(data, data + size);
    std::size_t count = scrambled[size - ENTRY_RECORD_SIZE] & RECORD_COUNT_MASK;
    std::size_t bytes = count * ENTRY_RECORD_SIZE;
    if (count == 0 || bytes > size)
        return 0;
    ScramblerReset(DIRECTORY_KEY);
    ScrambleBytes(scrambled.data() + size - bytes, static_cast<std::int32_t>(bytes), SCRAMBLE);
    Exercise(scrambled.data(), scrambled.size());
    return 0;
}
