// The glue archive on disk, shared by the reader and the writer.
//
// A glue archive is a set of named entries inside an ordinary file. The
// entries' data lie anywhere in the file (a writer puts them back to back
// from offset 0); a directory of N fixed 40-byte records closes the file.
// Record 0 is the last 40 bytes of the file, record k starts 40 * (k + 1)
// bytes before the end, so in file order the records run from N - 1 down
// to 0. The N * 40 directory bytes, in file order, are scrambled as one run
// under the key "KNOT" from a fresh reset; only record 0's magic tells a
// reader that it has found the directory.
//
// A record, as it reads once unscrambled (integers little-endian, the
// 32-bit fields signed):
//
//   0   1  countOrLength  record 0: the record count (low 5 bits count);
//                         inline record: its data length 0..16
//   1   1  kind           0 stored, 0xFF inline, anything else compressed
//   2   1  key            XOR key byte of the stored bytes, 0 = none
//   3  16  name           NUL-filled; a 16-character name has no NUL
//  19   4  dataOffset     absolute file position of the data
//  23   4  storedSize     bytes the data takes in the file
//  27   4  originalSize   bytes once restored
//  31   4  patchPosition  offset of the patch marker in the restored data,
//                         -1 for none
//  35   1  recordSize     40
//  36   4  magic          0x474C5545 ("EULG")
//
// An inline record carries up to 16 data bytes from offset 23 on, laid
// over the size, position, recordSize and magic fields.
//
// Records are always read and written field by field at these offsets:
// no structure is laid over the 40 bytes.
#pragma once

#include "base/bytes.h"

#include <cstdint>

constexpr std::int32_t ENTRY_RECORD_SIZE = 40;

constexpr std::int32_t RECORD_COUNT_OR_LENGTH = 0;
constexpr std::int32_t RECORD_KIND = 1;
constexpr std::int32_t RECORD_KEY = 2;
constexpr std::int32_t RECORD_NAME = 3;
constexpr std::int32_t RECORD_DATA_OFFSET = 19;
constexpr std::int32_t RECORD_STORED_SIZE = 23;
constexpr std::int32_t RECORD_ORIGINAL_SIZE = 27;
constexpr std::int32_t RECORD_PATCH_POSITION = 31;
constexpr std::int32_t RECORD_RECORD_SIZE = 35;
constexpr std::int32_t RECORD_MAGIC = 36;
constexpr std::int32_t RECORD_INLINE_DATA = 23;

constexpr std::int32_t ENTRY_NAME_SIZE = 16;
constexpr std::int32_t INLINE_MAX_LENGTH = 16;

constexpr std::uint32_t ENTRY_MAGIC = 0x474C5545;
inline constexpr char DIRECTORY_KEY[] = "KNOT";

constexpr std::uint8_t KIND_STORED = 0;
constexpr std::uint8_t KIND_COMPRESSED = 1;  // what a writer writes; any value but 0 and 0xFF reads so
constexpr std::uint8_t KIND_INLINE = 0xFF;

// Storage for a directory: 32 slots, record k in slot 31 - k, so that the
// slots in memory order are the directory in file order.
constexpr std::int32_t DIRECTORY_SLOTS = 32;
// Record 0 keeps the count in the low 5 bits of its first byte, so 32
// records would read back as none: a reader sees at most 31, and our
// writer stops there too.
constexpr std::uint8_t RECORD_COUNT_MASK = 0x1F;
constexpr std::int32_t MAX_RECORDS = 31;
constexpr std::int32_t DIRECTORY_BYTES = DIRECTORY_SLOTS * ENTRY_RECORD_SIZE;

constexpr std::int32_t NO_PATCH_POSITION = -1;

static_assert(RECORD_NAME + ENTRY_NAME_SIZE == RECORD_DATA_OFFSET);
static_assert(RECORD_DATA_OFFSET + 4 == RECORD_STORED_SIZE);
static_assert(RECORD_STORED_SIZE + 4 == RECORD_ORIGINAL_SIZE);
static_assert(RECORD_ORIGINAL_SIZE + 4 == RECORD_PATCH_POSITION);
static_assert(RECORD_PATCH_POSITION + 4 == RECORD_RECORD_SIZE);
static_assert(RECORD_RECORD_SIZE + 1 == RECORD_MAGIC);
static_assert(RECORD_MAGIC + 4 == ENTRY_RECORD_SIZE);
static_assert(RECORD_INLINE_DATA + INLINE_MAX_LENGTH <= ENTRY_RECORD_SIZE);
static_assert(MAX_RECORDS == RECORD_COUNT_MASK);
static_assert(MAX_RECORDS < DIRECTORY_SLOTS);

// Field access on a record's 40 bytes.
inline std::uint8_t RecordKind(const std::uint8_t* record)
{
    return record[RECORD_KIND];
}

inline std::uint8_t RecordKey(const std::uint8_t* record)
{
    return record[RECORD_KEY];
}

inline bool RecordIsInline(const std::uint8_t* record)
{
    return record[RECORD_KIND] == KIND_INLINE;
}

inline bool RecordIsCompressed(const std::uint8_t* record)
{
    return record[RECORD_KIND] != KIND_STORED && record[RECORD_KIND] != KIND_INLINE;
}

inline std::int32_t RecordDataOffset(const std::uint8_t* record)
{
    return ReadLe32Signed(record + RECORD_DATA_OFFSET);
}

inline std::int32_t RecordStoredSize(const std::uint8_t* record)
{
    return ReadLe32Signed(record + RECORD_STORED_SIZE);
}

inline std::int32_t RecordOriginalSize(const std::uint8_t* record)
{
    return ReadLe32Signed(record + RECORD_ORIGINAL_SIZE);
}

inline std::int32_t RecordPatchPosition(const std::uint8_t* record)
{
    return ReadLe32Signed(record + RECORD_PATCH_POSITION);
}

inline std::uint32_t RecordMagic(const std::uint8_t* record)
{
    return ReadLe32(record + RECORD_MAGIC);
}

// The data length of an inline record: its first byte read as a signed
// byte; a value outside 0..16 reads as 0, so no more than the 16 bytes of
// the record are ever taken.
inline std::int32_t RecordInlineLength(const std::uint8_t* record)
{
    auto n = static_cast<std::int32_t>(static_cast<std::int8_t>(record[RECORD_COUNT_OR_LENGTH]));
    return (n < 0 || n > INLINE_MAX_LENGTH) ? 0 : n;
}

// The length of the stored name: up to its first NUL, at most the 16
// bytes of the field, which a 16-character name fills without a NUL.
inline std::int32_t RecordNameLength(const std::uint8_t* record)
{
    std::int32_t n = 0;
    while (n < ENTRY_NAME_SIZE && record[RECORD_NAME + n] != 0)
        ++n;
    return n;
}
