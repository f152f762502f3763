// Inside the archive module: the state and helpers that the reader
// (archive/reader.cpp) and the writer (archive/writer.cpp) share. Nothing
// outside archive/ includes this header; the module's users see
// archive/archive.h.
#pragma once

#include "archive/archive.h"

#include <cstdint>

// The input archive: its file (none when closed), its directory (record k
// in slot 31 - k) and the number of valid records.
extern HANDLE InputArchiveFile;
extern std::uint8_t InputDirectory[DIRECTORY_BYTES];
extern std::int32_t InputCount;

// The output archive: its file, its directory (record k in slot 31 - k),
// the number of records added and the file position for the next entry's
// data.
extern HANDLE OutputArchiveFile;
extern std::uint8_t OutputDirectory[DIRECTORY_BYTES];
extern std::int32_t OutputCount;
extern std::int32_t RunningDataOffset;

// The failure latch and whether it is armed.
extern bool LatchSet;
extern bool LatchArmed;

// Every failure of a latching operation passes through here: sets the
// latch when armed and result is 0. Returns result.
int SettleLatch(int result);

// The 40 bytes of record index in a directory of slots.
inline std::uint8_t* DirectoryRecord(std::uint8_t* directory, std::int32_t index)
{
    return directory + (DIRECTORY_SLOTS - 1 - index) * ENTRY_RECORD_SIZE;
}

// 1 when name, cut to 16 characters, equals the record's stored name,
// ASCII letters compared without regard to case. Never reads past the
// record's name field.
int NameMatches(const std::uint8_t* record, const char* name);

// Writes name into the record's name field: at most 16 characters, the
// rest of the field NUL-filled.
void PutRecordName(std::uint8_t* record, const char* name);

// Positions the input file at the record's data after checking that the
// data lies within the input file: dataOffset and storedSize not negative
// and their sum not past the end. Returns 1, or 0 when the record is not
// sound or the file cannot be positioned.
int SeekToEntryData(const std::uint8_t* record);

// Writes the output directory and closes the output file (CloseArchive of
// the output archive).
void CloseOutputArchive();

// Closes a file when it is open and marks it none.
void CloseFile(HANDLE& file);
