// The reading half of the archive module, and the module state that reader
// and writer share.
#include "archive/module.h"

#include "codec/stream.h"
#include "scrambler/patch.h"
#include "scrambler/scrambler.h"

#include <cstring>

OverwriteQueryFn OverwriteQuery = nullptr;
BeforeFileHookFn BeforeFileHook = nullptr;
AfterFileHookFn AfterFileHook = nullptr;

HANDLE InputArchiveFile = INVALID_HANDLE_VALUE;
std::uint8_t InputDirectory[DIRECTORY_BYTES] = {};
std::int32_t InputCount = 0;
bool LatchSet = false;
bool LatchArmed = false;

namespace {

int OpenStage = 0;
HANDLE ConcatTarget = INVALID_HANDLE_VALUE;
// GetModuleFileNameA's buffer for the program's own path.
char OwnPath[256];
// An inline entry's bytes on their way to the destination.
std::uint8_t InlineBuffer[INLINE_MAX_LENGTH];

constexpr DWORD SHARE_READ_WRITE = FILE_SHARE_READ | FILE_SHARE_WRITE;

char FoldAscii(std::uint8_t c)
{
    return static_cast<char>((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
}

HANDLE CreateForWriting(const char* path, DWORD disposition)
{
    return CreateFileA(path, GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

void EmptyHookSlots()
{
    BeforeFileHook = nullptr;
    AfterFileHook = nullptr;
    OverwriteQuery = nullptr;
}

// Looks for the directory in the last n slots, which hold the file's last
// n * 40 bytes as read. The directory's length cannot be known before
// record 0 is unscrambled, and its run can only be unscrambled from its
// first byte, so every possible start is tried, shortest first: attempt t
// unscrambles the last t slots as one run and looks at record 0's magic.
// A wrong start leaves garbage, which is scrambled again from a fresh reset
// to put the bytes back exactly as read. Returns the number of records
// found, or -1 when no attempt shows the magic or the count in record 0
// claims more records than the run that unscrambled it (a damaged
// directory, whose further records would be bytes never unscrambled).
std::int32_t SearchDirectory(std::int32_t n)
{
    std::uint8_t* record0 = DirectoryRecord(InputDirectory, 0);
    for (std::int32_t t = 1; t <= n; ++t) {
        std::uint8_t* run = DirectoryRecord(InputDirectory, t - 1);
        std::int32_t length = t * ENTRY_RECORD_SIZE;
        ScramblerReset(DIRECTORY_KEY);
        ScrambleBytes(run, length, UNSCRAMBLE);
        if (RecordMagic(record0) == ENTRY_MAGIC) {
            std::int32_t count = record0[RECORD_COUNT_OR_LENGTH] & RECORD_COUNT_MASK;
            return count <= t ? count : -1;
        }
        ScramblerReset(DIRECTORY_KEY);
        ScrambleBytes(run, length, SCRAMBLE);
    }
    return -1;
}

}  // namespace

int SettleLatch(int result)
{
    if (result == 0 && LatchArmed)
        LatchSet = true;
    return result;
}

void CloseFile(HANDLE& file)
{
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
    }
}

int NameMatches(const std::uint8_t* record, const char* name)
{
    if (name == nullptr)
        return 0;
    const std::uint8_t* stored = record + RECORD_NAME;
    for (std::int32_t i = 0; i < ENTRY_NAME_SIZE; ++i) {
        auto c = static_cast<std::uint8_t>(name[i]);
        if (FoldAscii(c) != FoldAscii(stored[i]))
            return 0;
        if (c == 0)
            return 1;
    }
    return 1;
}

void PutRecordName(std::uint8_t* record, const char* name)
{
    std::uint8_t* field = record + RECORD_NAME;
    std::memset(field, 0, ENTRY_NAME_SIZE);
    for (std::int32_t i = 0; name != nullptr && i < ENTRY_NAME_SIZE && name[i] != '\0'; ++i)
        field[i] = static_cast<std::uint8_t>(name[i]);
}

int SeekToEntryData(const std::uint8_t* record)
{
    std::int32_t offset = RecordDataOffset(record);
    std::int32_t size = RecordStoredSize(record);
    if (offset < 0 || size < 0)
        return 0;
    DWORD high = 0;
    DWORD low = GetFileSize(InputArchiveFile, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return 0;
    auto fileSize = (static_cast<std::uint64_t>(high) << 32) | low;
    if (static_cast<std::uint64_t>(offset) + static_cast<std::uint64_t>(size) > fileSize)
        return 0;
    return SetFilePointer(InputArchiveFile, offset, nullptr, FILE_BEGIN) ==
           static_cast<DWORD>(offset);
}

void EnableFailureLatch(int armed)
{
    LatchSet = false;
    LatchArmed = armed != 0;
}

int ArchiveFailed()
{
    return LatchSet ? 1 : 0;
}

int InputOpenStage()
{
    return OpenStage;
}

HANDLE CreateTargetFile(const char* path)
{
    if (OverwriteQuery != nullptr) {
        HANDLE file = CreateForWriting(path, CREATE_NEW);
        if (file != INVALID_HANDLE_VALUE)
            return file;
        if (GetLastError() != ERROR_FILE_EXISTS || OverwriteQuery(path) == 0)
            return INVALID_HANDLE_VALUE;
    }
    return CreateForWriting(path, CREATE_ALWAYS);
}

void CloseArchive(HANDLE file)
{
    if (file == INVALID_HANDLE_VALUE)
        return;
    if (file == InputArchiveFile)
        CloseFile(InputArchiveFile);
    else if (file == OutputArchiveFile)
        CloseOutputArchive();
}

HANDLE OpenInputArchive(const char* path)
{
    CloseFile(InputArchiveFile);
    OpenStage = 0;
    if (LatchSet)
        return INVALID_HANDLE_VALUE;
    std::memset(InputDirectory, 0, sizeof InputDirectory);
    InputCount = 0;

    if (path == nullptr) {
        DWORD length = GetModuleFileNameA(nullptr, OwnPath, sizeof OwnPath);
        // A cut path would name some other file.
        path = (length == 0 || length >= sizeof OwnPath) ? nullptr : OwnPath;
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    if (path != nullptr)
        file = CreateFileA(path, GENERIC_READ, SHARE_READ_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    OpenStage = 1;
    if (file != INVALID_HANDLE_VALUE) {
        DWORD high = 0;
        DWORD size = GetFileSize(file, &high);
        if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
            size = 0;
        std::uint64_t whole = (static_cast<std::uint64_t>(high) << 32) | size;
        std::int32_t n = whole / ENTRY_RECORD_SIZE >= DIRECTORY_SLOTS
                             ? DIRECTORY_SLOTS
                             : static_cast<std::int32_t>(whole / ENTRY_RECORD_SIZE);
        std::int32_t bytes = n * ENTRY_RECORD_SIZE;
        DWORD got = 0;
        bool read = true;
        if (n > 0) {
            std::uint8_t* first = DirectoryRecord(InputDirectory, n - 1);
            read = SetFilePointer(file, -bytes, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                   ReadFile(file, first, static_cast<DWORD>(bytes), &got, nullptr) &&
                   got == static_cast<DWORD>(bytes);
        }
        OpenStage = 2;
        if (!read) {
            CloseHandle(file);
        } else {
            OpenStage = 3;
            std::int32_t count = SearchDirectory(n);
            if (count < 0) {
                // The slots keep the file's bytes as read; the count stays
                // 0, so none of them answers a lookup.
                CloseHandle(file);
            } else {
                InputCount = count;
                InputArchiveFile = file;
            }
        }
    }
    SettleLatch(InputArchiveFile != INVALID_HANDLE_VALUE);
    return InputArchiveFile;
}

const std::uint8_t* FindEntry(const char* name, std::uint32_t kinds)
{
    for (std::int32_t k = 0; k < InputCount; ++k) {
        const std::uint8_t* record = DirectoryRecord(InputDirectory, k);
        if (!NameMatches(record, name))
            continue;
        bool isInline = RecordIsInline(record);
        if (((kinds & FIND_ORDINARY) && !isInline) || ((kinds & FIND_INLINE) && isInline))
            return record;
        return nullptr;
    }
    return nullptr;
}

std::int32_t EntryStoredSize(const char* name)
{
    const std::uint8_t* record = FindEntry(name, FIND_ORDINARY);
    return record != nullptr ? RecordStoredSize(record) : -1;
}

std::int32_t EntryOriginalSize(const char* name)
{
    const std::uint8_t* record = FindEntry(name, FIND_ORDINARY);
    return record != nullptr ? RecordOriginalSize(record) : -1;
}

int SameEntryData(const char* name1, const char* name2)
{
    const std::uint8_t* a = FindEntry(name1, FIND_ORDINARY);
    const std::uint8_t* b = FindEntry(name2, FIND_ORDINARY);
    return (a != nullptr && b != nullptr && RecordDataOffset(a) == RecordDataOffset(b)) ? 1 : 0;
}

std::int32_t InputEntryCount()
{
    return InputCount;
}

const std::uint8_t* InputEntryRecord(std::int32_t index)
{
    if (index < 0 || index >= InputCount)
        return nullptr;
    return DirectoryRecord(InputDirectory, index);
}

int ReadInlineEntry(const char* name, std::uint8_t* buffer, std::int32_t* length)
{
    std::int32_t n = 0;
    int result = 0;
    const std::uint8_t* record = nullptr;
    if (InputArchiveFile != INVALID_HANDLE_VALUE)
        record = FindEntry(name, FIND_INLINE);
    if (record != nullptr) {
        n = RecordInlineLength(record);
        std::memcpy(buffer, record + RECORD_INLINE_DATA, static_cast<std::size_t>(n));
        result = 1;
    }
    if (length != nullptr)
        *length = n;
    return result;
}

int ExtractEntry(const char* name, const char* path)
{
    if (LatchSet) {
        EmptyHookSlots();
        return 0;
    }
    int result = 0;
    const std::uint8_t* record = nullptr;
    if (InputArchiveFile != INVALID_HANDLE_VALUE)
        record = FindEntry(name, FIND_ORDINARY | FIND_INLINE);
    HANDLE destination = INVALID_HANDLE_VALUE;
    bool created = false;
    if (record != nullptr) {
        if (ConcatTarget != INVALID_HANDLE_VALUE) {
            destination = ConcatTarget;
        } else if (path != nullptr) {
            destination = CreateTargetFile(path);
            created = destination != INVALID_HANDLE_VALUE;
        }
    }
    if (destination != INVALID_HANDLE_VALUE) {
        if (RecordIsInline(record)) {
            std::int32_t n = 0;
            ReadInlineEntry(name, InlineBuffer, &n);
            DWORD put = 0;
            result = n == 0 || (WriteFile(destination, InlineBuffer, static_cast<DWORD>(n), &put,
                                          nullptr) &&
                                put == static_cast<DWORD>(n));
        } else if (SeekToEntryData(record)) {
            std::int32_t size = RecordStoredSize(record);
            if (BeforeFileHook != nullptr)
                BeforeFileHook(destination, size);
            TransferFlags flags = RecordIsCompressed(record) ? XFER_DECOMPRESS : RecordKey(record);
            result = TransferData(InputArchiveFile, destination, size, flags);
        }
        if (created) {
            if (result && AfterFileHook != nullptr)
                AfterFileHook(destination);
            CloseHandle(destination);
        }
    }
    DiscardPatchSource();
    SettleLatch(result);
    EmptyHookSlots();
    return result;
}

int SetConcatTarget(const char* path)
{
    int result = 1;
    if (path == nullptr) {
        CloseFile(ConcatTarget);
    } else if (!LatchSet) {
        // A target still open is closed before its slot is reused, so no
        // handle is lost.
        CloseFile(ConcatTarget);
        ConcatTarget = CreateTargetFile(path);
        result = SettleLatch(ConcatTarget != INVALID_HANDLE_VALUE);
    }
    OverwriteQuery = nullptr;
    return result;
}

int ExtractEntryToMemory(const char* name, std::uint8_t* buffer, std::int32_t maxBytes)
{
    if (LatchSet)
        return 0;
    int result = 0;
    const std::uint8_t* record = nullptr;
    if (InputArchiveFile != INVALID_HANDLE_VALUE && maxBytes >= 0)
        record = FindEntry(name, FIND_ORDINARY);
    if (record != nullptr && SeekToEntryData(record)) {
        TransferFlags flags = RecordIsCompressed(record) ? XFER_DECOMPRESS : RecordKey(record);
        std::int32_t size = RecordStoredSize(record);
        std::int32_t count = size < maxBytes ? size : maxBytes;
        // The stream writes decompressed bytes to its memory destination,
        // never more than the limit, so the buffer holds even an entry whose
        // originalSize is larger than maxBytes.
        StreamMemoryDestination = buffer;
        StreamMemoryLimit = static_cast<std::uint32_t>(maxBytes);
        result = TransferData(InputArchiveFile, buffer, count, flags | XFER_TO_MEMORY);
        StreamMemoryDestination = nullptr;
        StreamMemoryLimit = 0;
    }
    DiscardPatchSource();
    return SettleLatch(result);
}

void ResetArchiveModule()
{
    CloseFile(InputArchiveFile);
    CloseFile(OutputArchiveFile);
    CloseFile(ConcatTarget);
    std::memset(InputDirectory, 0, sizeof InputDirectory);
    std::memset(OutputDirectory, 0, sizeof OutputDirectory);
    InputCount = 0;
    OutputCount = 0;
    RunningDataOffset = 0;
    OpenStage = 0;
    LatchSet = false;
    LatchArmed = false;
    EmptyHookSlots();
}
