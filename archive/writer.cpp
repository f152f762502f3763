// The writing half of the archive module.
//
// A new archive grows in one direction: each entry's data goes to the
// running data offset, which starts at 0 and advances by every byte
// written, the bytes of failed transfers included (they stay in the file
// without a record, and later entries carry their true offsets after
// them). The directory is built in fixed storage and, on closing, written
// scrambled after the last data byte with one write.
#include "archive/module.h"

#include "scrambler/patch.h"
#include "scrambler/scrambler.h"

#include <climits>
#include <cstring>

HANDLE OutputArchiveFile = INVALID_HANDLE_VALUE;
std::uint8_t OutputDirectory[DIRECTORY_BYTES] = {};
std::int32_t OutputCount = 0;
std::int32_t RunningDataOffset = 0;

namespace {

// The flags that mean something to each adding operation; other bits are
// dropped before the transfer, so that a stray memory or codec bit cannot
// send a transfer to the wrong place or make a record lie about its data.
constexpr TransferFlags COPY_FLAGS = XFER_COMPRESS | XFER_DECOMPRESS | XFER_UNXOR | XFER_PATCH;
constexpr TransferFlags FILE_FLAGS = XFER_KEY_MASK | XFER_COMPRESS | XFER_PATCH;
constexpr TransferFlags MEMORY_FLAGS = XFER_KEY_MASK | XFER_PATCH;

// An inline entry copied from the input on its way to the output.
std::uint8_t InlineCopyBuffer[INLINE_MAX_LENGTH];

bool DirectoryFull()
{
    return OutputCount >= MAX_RECORDS;
}

void UpdateRecordCount()
{
    DirectoryRecord(OutputDirectory, 0)[RECORD_COUNT_OR_LENGTH] =
        static_cast<std::uint8_t>(OutputCount);
}

// Fills the next free slot. The slot is cleared first, so that no byte of
// an earlier archive survives in it (the first byte of records other than
// record 0 has no meaning, but the archive's bytes stay reproducible). A
// patch position of 0 or one outside the restored data is stored as none.
void AppendOutputRecord(const char* name, TransferFlags flags, std::int32_t storedSize,
                        std::int32_t originalSize, std::int32_t dataOffset,
                        std::int32_t patchPosition)
{
    if (DirectoryFull())
        return;
    std::uint8_t* record = DirectoryRecord(OutputDirectory, OutputCount);
    std::memset(record, 0, ENTRY_RECORD_SIZE);
    PutRecordName(record, name);
    WriteLe32(record + RECORD_MAGIC, ENTRY_MAGIC);
    record[RECORD_KIND] = (flags & XFER_COMPRESS) ? KIND_COMPRESSED : KIND_STORED;
    record[RECORD_KEY] = static_cast<std::uint8_t>(flags & XFER_KEY_MASK);
    WriteLe32(record + RECORD_DATA_OFFSET, static_cast<std::uint32_t>(dataOffset));
    WriteLe32(record + RECORD_STORED_SIZE, static_cast<std::uint32_t>(storedSize));
    WriteLe32(record + RECORD_ORIGINAL_SIZE, static_cast<std::uint32_t>(originalSize));
    bool inside = patchPosition > 0 && patchPosition < originalSize;
    WriteLe32(record + RECORD_PATCH_POSITION,
              static_cast<std::uint32_t>(inside ? patchPosition : NO_PATCH_POSITION));
    record[RECORD_RECORD_SIZE] = static_cast<std::uint8_t>(ENTRY_RECORD_SIZE);
    ++OutputCount;
    UpdateRecordCount();
}

// The output record of that name, searched from record 0 on, or null.
std::uint8_t* FindOutputRecord(const char* name)
{
    for (std::int32_t k = 0; k < OutputCount; ++k) {
        std::uint8_t* record = DirectoryRecord(OutputDirectory, k);
        if (NameMatches(record, name))
            return record;
    }
    return nullptr;
}

// How CopyEntry moves a source record's data. Returns the flags for the
// transfer; *recordFlags receives the flags that describe the copy.
TransferFlags CopyTransferFlags(const std::uint8_t* source, TransferFlags flags,
                                TransferFlags* recordFlags)
{
    bool compressed = RecordIsCompressed(source);
    TransferFlags key = RecordKey(source);
    flags &= compressed ? ~XFER_COMPRESS : ~XFER_DECOMPRESS;
    if (flags & XFER_DECOMPRESS) {
        // The stream ignores the key of a compressed source.
        *recordFlags = 0;
        return flags & ~XFER_UNXOR;
    }
    if (flags & XFER_COMPRESS) {
        // The stream removes the key from the source bytes as it reads them.
        *recordFlags = XFER_COMPRESS;
        return (flags & ~XFER_UNXOR) | key;
    }
    TransferFlags kind = compressed ? XFER_COMPRESS : 0;
    if (key == 0) {
        *recordFlags = kind;
        return flags;
    }
    if (flags & XFER_UNXOR) {
        *recordFlags = kind;
        return flags | key;
    }
    *recordFlags = kind | key;
    // With the patch hook the key comes off before it and goes back on
    // after it, so the hook sees plain bytes and the copy stays scrambled;
    // without it the bytes go across exactly as stored.
    return (flags & XFER_PATCH) ? flags | key | XFER_XOR_AROUND_PATCH : flags;
}

}  // namespace

void CloseOutputArchive()
{
    if (OutputCount > 0) {
        std::uint8_t* run = DirectoryRecord(OutputDirectory, OutputCount - 1);
        std::int32_t length = OutputCount * ENTRY_RECORD_SIZE;
        ScramblerReset(DIRECTORY_KEY);
        ScrambleBytes(run, length, SCRAMBLE);
        DWORD put = 0;
        bool written = WriteFile(OutputArchiveFile, run, static_cast<DWORD>(length), &put,
                                 nullptr) &&
                       put == static_cast<DWORD>(length);
        SettleLatch(written);
    }
    CloseFile(OutputArchiveFile);
}

HANDLE CreateOutputArchive(const char* path)
{
    if (OutputArchiveFile != INVALID_HANDLE_VALUE)
        CloseOutputArchive();
    OutputCount = 0;
    RunningDataOffset = 0;
    if (!LatchSet) {
        OutputArchiveFile = CreateTargetFile(path);
        SettleLatch(OutputArchiveFile != INVALID_HANDLE_VALUE);
    }
    OverwriteQuery = nullptr;
    return OutputArchiveFile;
}

int CopyEntry(const char* name, TransferFlags flags)
{
    if (LatchSet)
        return 0;
    int result = 0;
    const std::uint8_t* source = nullptr;
    if (InputArchiveFile != INVALID_HANDLE_VALUE && OutputArchiveFile != INVALID_HANDLE_VALUE &&
        !DirectoryFull())
        source = FindEntry(name, FIND_ORDINARY);
    if (source != nullptr) {
        TransferFlags recordFlags = 0;
        TransferFlags transfer = CopyTransferFlags(source, flags & COPY_FLAGS, &recordFlags);
        bool patchesStream = RecordIsCompressed(source) && (transfer & XFER_PATCH) &&
                             !(transfer & XFER_DECOMPRESS);
        if (!patchesStream && SeekToEntryData(source)) {
            std::int32_t start = RunningDataOffset;
            std::int32_t n = RecordStoredSize(source);
            result = TransferData(InputArchiveFile, OutputArchiveFile, n, transfer);
            RunningDataOffset += n;
            // A patched copy records where its own patch hook met the
            // marker; the source's value may predate any patching.
            std::int32_t position =
                (transfer & XFER_PATCH) ? PatchPosition() : RecordPatchPosition(source);
            if (result)
                AppendOutputRecord(name, recordFlags, n, RecordOriginalSize(source), start, position);
        }
    }
    DiscardPatchSource();
    return SettleLatch(result);
}

int AddAliasEntry(const char* newName, const char* existingName)
{
    if (LatchSet)
        return 0;
    const std::uint8_t* existing = FindOutputRecord(existingName);
    if (existing == nullptr || DirectoryFull())
        return 0;
    std::uint8_t* record = DirectoryRecord(OutputDirectory, OutputCount);
    std::memcpy(record, existing, ENTRY_RECORD_SIZE);
    PutRecordName(record, newName);
    ++OutputCount;
    UpdateRecordCount();
    return 1;
}

int AddFileEntry(const char* path, const char* name, TransferFlags flags)
{
    if (LatchSet) {
        BeforeFileHook = nullptr;
        AfterFileHook = nullptr;
        return 0;
    }
    int result = 0;
    HANDLE source = INVALID_HANDLE_VALUE;
    if (OutputArchiveFile != INVALID_HANDLE_VALUE && !DirectoryFull() && path != nullptr)
        source = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source != INVALID_HANDLE_VALUE) {
        DWORD high = 0;
        DWORD low = GetFileSize(source, &high);
        bool sizeKnown = !(low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR);
        // Offsets and sizes are signed 32-bit: the whole archive stays below 2 GB.
        bool fits = sizeKnown && high == 0 && low <= static_cast<DWORD>(INT_MAX) &&
                    low <= static_cast<DWORD>(INT_MAX - RunningDataOffset);
        if (fits) {
            std::int32_t start = RunningDataOffset;
            auto size = static_cast<std::int32_t>(low);
            std::int32_t original = size;
            if (BeforeFileHook != nullptr)
                BeforeFileHook(source, size);
            flags &= FILE_FLAGS;
            if (flags & XFER_COMPRESS)
                flags &= ~XFER_KEY_MASK;
            result = TransferData(source, OutputArchiveFile, size, flags);
            RunningDataOffset += size;
            if (result && AfterFileHook != nullptr)
                AfterFileHook(source);
            if (result)
                AppendOutputRecord(name, flags, size, original, start, PatchPosition());
        }
        CloseHandle(source);
    }
    DiscardPatchSource();
    SettleLatch(result);
    BeforeFileHook = nullptr;
    AfterFileHook = nullptr;
    return result;
}

int AddMemoryEntry(const std::uint8_t* address, std::int32_t size, const char* name,
                   TransferFlags flags)
{
    if (LatchSet || OutputArchiveFile == INVALID_HANDLE_VALUE || DirectoryFull())
        return 0;
    int result = 0;
    if (size >= 0 && size <= INT_MAX - RunningDataOffset && (address != nullptr || size == 0)) {
        std::int32_t start = RunningDataOffset;
        std::int32_t n = size;
        flags &= MEMORY_FLAGS;
        result = TransferData(const_cast<std::uint8_t*>(address), OutputArchiveFile, n,
                              flags | XFER_FROM_MEMORY);
        RunningDataOffset += n;
        if (result)
            AppendOutputRecord(name, flags, n, size, start, PatchPosition());
    }
    DiscardPatchSource();
    return SettleLatch(result);
}

int AddInlineEntry(const char* name, const std::uint8_t* bytes, std::int32_t length)
{
    // Record 0's first byte holds the count, so it has no room for an
    // inline length.
    if (DirectoryFull() || OutputCount == 0)
        return 0;
    AppendOutputRecord(name, 0, 0, 0, 0, 0);
    if (length > INLINE_MAX_LENGTH)
        length = INLINE_MAX_LENGTH;
    if (length < 0 || bytes == nullptr)
        length = 0;
    std::uint8_t* record = DirectoryRecord(OutputDirectory, OutputCount - 1);
    record[RECORD_COUNT_OR_LENGTH] = static_cast<std::uint8_t>(length);
    if (length > 0)
        std::memcpy(record + RECORD_INLINE_DATA, bytes, static_cast<std::size_t>(length));
    record[RECORD_KIND] = KIND_INLINE;
    return 1;
}

int CopyInlineEntry(const char* name)
{
    if (LatchSet)
        return 0;
    std::int32_t length = 0;
    int result = ReadInlineEntry(name, InlineCopyBuffer, &length);
    if (result)
        result = AddInlineEntry(name, InlineCopyBuffer, length);
    return SettleLatch(result);
}

int RenameOutputEntry(const char* oldName, const char* newName)
{
    if (LatchSet)
        return 0;
    std::uint8_t* record = FindOutputRecord(oldName);
    if (record == nullptr)
        return 0;
    PutRecordName(record, newName);
    return 1;
}

std::int32_t OutputEntryCount()
{
    return OutputCount;
}
