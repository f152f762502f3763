// The glue archive module: the reader, which opens a glue archive (by
// default the running program's own file), looks entries up and extracts
// them, and the writer, which builds a new glue archive. Both share one
// module state: the input archive and its directory, the output archive and
// its directory, the concatenation target, the failure latch and the hook
// slots. The record layout is in archive/format.h; the bytes move through
// the transfer engine (archive/transfer.h).
//
// Results are 1 for success and 0 for failure unless said otherwise; an
// operation that returns a file gives INVALID_HANDLE_VALUE for none. Lookups
// of a size give -1 for an absent entry.
//
// The failure latch. Errors are collected rather than passed back step by
// step: while the latch is armed, the first failure of a latching operation
// sets it, and from then on every latching operation does nothing and
// returns failure (0, or none for the operations that return a file) until
// EnableFailureLatch clears it. Each procedure below says whether it
// latches ("Latching"), what it does when it finds the latch set, and what
// counts as its failure. Operations marked "Not latching" neither test nor
// set the latch.
//
// Hook slots are single-use: a caller sets a slot directly before the
// operation that is to use it, and the operations named below empty it.
//
// Entry names are compared as NUL-terminated strings with the ASCII letters
// A to Z equal to a to z and every other byte exact. A stored name has at
// most 16 characters (a 16-character name fills its field without a NUL,
// longer names are cut to 16 when written), so a name is looked up through
// its first 16 characters and a lookup never reads past the 16-byte field.
//
// Single-threaded and not re-entrant: hooks called during an operation
// must not call archive operations. Nothing is allocated; all state is
// fixed module storage.
#pragma once

#include "archive/format.h"
#include "archive/transfer.h"
#include "platform/win32.h"

#include <cstdint>

// Kind filter of FindEntry, a bit set.
constexpr std::uint32_t FIND_ORDINARY = 1;  // stored or compressed records
constexpr std::uint32_t FIND_INLINE = 2;    // inline records

// Asked whether the existing file at path may be replaced; nonzero = replace.
using OverwriteQueryFn = int (*)(const char* path);
// Called before an entry's data moves, with the file outside the archive
// (the destination of an extraction, the source of an added file) and the
// byte count about to move.
using BeforeFileHookFn = void (*)(HANDLE file, std::int32_t bytes);
// Called after a successful move, with the file outside the archive.
using AfterFileHookFn = void (*)(HANDLE file);

// Used by CreateTargetFile when set; emptied by ExtractEntry,
// SetConcatTarget and CreateOutputArchive.
extern OverwriteQueryFn OverwriteQuery;
// Used by ExtractEntry and AddFileEntry when set; both empty them.
extern BeforeFileHookFn BeforeFileHook;
extern AfterFileHookFn AfterFileHook;

// ---- failure latch ------------------------------------------------------

// Clears the latch and arms it (armed nonzero) or disarms it (armed 0). A
// disarmed latch is never set. Calling it with armed nonzero is how a
// caller clears a set latch before a retry.
void EnableFailureLatch(int armed);

// 1 when the latch is set, else 0.
int ArchiveFailed();

// How far the last OpenInputArchive got:
//   0  the latch was set; nothing was tried
//   1  the file did not open (or the program's own path was not available)
//   2  the file opened, but its trailing records did not arrive in full
//   3  the trailing records were read and searched; the archive is open
//      when the directory was found, closed when it was not
int InputOpenStage();

// ---- files --------------------------------------------------------------

// Creates the file at path for writing, replacing an existing one. When
// OverwriteQuery is set, an existing file is replaced only if the query
// answers nonzero; answering 0 leaves the file untouched and gives none.
// Returns the open file, or none. Not latching; does not empty
// OverwriteQuery.
HANDLE CreateTargetFile(const char* path);

// Closes the input archive when given its file: the loaded directory and
// its count stay, so lookups keep answering from them. Given the output
// archive's file: when the output directory holds at least one record,
// scrambles it and writes it after the last data written, then closes the
// file; the output count stays. Given none or any other value: nothing.
// Does not test the latch. A directory write that comes up short sets the
// armed latch, so a caller sees that the file it made is not a sound
// archive; nothing else of it latches.
void CloseArchive(HANDLE file);

// ---- reader -------------------------------------------------------------

// Opens the glue archive at path, or the running program's own file when
// path is null. An open input archive is closed first. The directory and
// the input count are emptied at every attempt that gets past the latch,
// so a failed open never leaves another file's records answering lookups.
// Returns the input file, or none when the file does not open, its
// trailing bytes do not arrive in full, or no directory is found at its
// end (a damaged directory whose count exceeds the records found counts as
// none found). Latching: while the latch is set it closes an open input
// archive, sets stage 0 and returns none.
HANDLE OpenInputArchive(const char* path);

// The record of the loaded input directory whose name matches, searched
// from record 0 on: the first record of that name is returned if its kind
// passes the filter (FIND_ORDINARY, FIND_INLINE or both), otherwise none;
// a later record of the same name is never considered. Returns a read-only
// pointer to the record's 40 bytes in the input directory, or null. Works
// from the loaded directory alone, whether or not the input is open. Not
// latching.
const std::uint8_t* FindEntry(const char* name, std::uint32_t kinds);

// storedSize / originalSize of the ordinary entry of that name, or -1.
// Not latching.
std::int32_t EntryStoredSize(const char* name);
std::int32_t EntryOriginalSize(const char* name);

// 1 when both names are ordinary entries with equal dataOffset, else 0.
// Not latching.
int SameEntryData(const char* name1, const char* name2);

// The number of records of the loaded input directory (0 to 31), and
// record index's 40 bytes (null when index is out of range): for listing.
// Not latching.
std::int32_t InputEntryCount();
const std::uint8_t* InputEntryRecord(std::int32_t index);

// When the input archive is open and the first record of that name is
// inline: copies its data bytes (0 to 16; a length byte outside that range
// gives 0) into buffer, which has room for 16, and returns 1. Otherwise
// returns 0 with a length of 0. The length goes to *length when length is
// not null. Not latching.
int ReadInlineEntry(const char* name, std::uint8_t* buffer, std::int32_t* length);

// Writes the restored data of the first record of that name (ordinary or
// inline) to the concatenation target when one is open (path is then not
// used), else to a new file at path made by CreateTargetFile. A stored
// entry comes out with its XOR key removed, a compressed one decompressed.
// BeforeFileHook(destination, storedSize) runs before an ordinary entry's
// data moves; AfterFileHook(destination) after a successful extraction into
// a file created here, which is then closed. Fails when the input is closed,
// the name is not found, there is no destination, the record's data does
// not lie within the input file (negative sizes, offsets past the end), or
// the move fails; a failed extraction leaves what it wrote in the
// destination, for the caller to delete. Discards the pending patch source
// and empties all three hook slots when it ends. Latching: while the latch
// is set it empties the three hook slots and returns 0.
int ExtractEntry(const char* name, const char* path);

// With a path: closes a concatenation target that is still open, then
// opens a new one with CreateTargetFile; returns 0 when that fails, else 1.
// While the latch is set it opens nothing and returns 1. Without a path
// (null): closes the target, whatever the latch, and returns 1. Empties
// OverwriteQuery in every case. Latching with a path, not without.
int SetConcatTarget(const char* path);

// Restores the ordinary entry of that name into buffer, writing at most
// maxBytes bytes there: a stored entry is cut at maxBytes, and a compressed
// one is decompressed through a memory destination limited to maxBytes.
// The number of bytes delivered is not reported. Fails when the input is
// closed, there is no ordinary entry of that name, maxBytes is negative,
// the record's data does not lie within the input file, or the move fails.
// Discards the pending patch source. Latching: while the latch is set it
// returns 0.
int ExtractEntryToMemory(const char* name, std::uint8_t* buffer, std::int32_t maxBytes);

// ---- writer -------------------------------------------------------------

// Creates the file at path (CreateTargetFile) as an empty output archive
// and returns it. An open output archive is closed first (its directory is
// written); the output count and running data offset go back to 0 in any
// case. Empties OverwriteQuery. Latching: while the latch is set it still
// closes the previous output archive and empties the directory, then
// returns none; counts as failed when the file cannot be created.
HANDLE CreateOutputArchive(const char* path);

// Copies the ordinary input entry of that name into the output archive
// under the same name. Meaningful flags: XFER_COMPRESS, XFER_DECOMPRESS,
// XFER_UNXOR, XFER_PATCH; the key byte must be 0 (the key comes from the
// source record). A compressed source is decompressed with XFER_DECOMPRESS
// (stored, key 0), a stored one compressed with XFER_COMPRESS (its key
// removed while reading); otherwise the bytes are copied raw, XFER_UNXOR
// removing the source's key and XFER_PATCH letting the patch hook see the
// plain bytes. A raw copy of a compressed source with XFER_PATCH is refused
// before anything moves: patching would rewrite bytes of the compressed
// stream. The new record has storedSize = bytes written, originalSize from
// the source, dataOffset = the running data offset, and patchPosition where
// this copy's patch hook met the marker (with XFER_PATCH), else the
// source's.
// Every byte written advances the running data offset, also when the copy
// fails (the bytes stay in the file without a record). Discards the
// pending patch source when it ends. Latching: while the latch is set it
// returns 0; counts as failed when the input or output is closed, the
// directory is full, no ordinary entry of that name exists, its data does
// not lie within the input file, or the transfer fails.
int CopyEntry(const char* name, TransferFlags flags);

// Adds a record named newName that is a copy of the first output record
// named existingName (any kind): same data, no new bytes. Returns 0 when
// there is no such record or the directory is full. Latching only in that
// it returns 0 while the latch is set; it never sets it.
int AddAliasEntry(const char* newName, const char* existingName);

// Adds the contents of the file at path as a new entry. Meaningful flags:
// XFER_COMPRESS, XFER_PATCH and a key byte, which without XFER_COMPRESS
// stores the entry XOR-scrambled with that key (with XFER_COMPRESS the key
// is dropped). BeforeFileHook(source, size) runs before the data moves,
// AfterFileHook(source) after a successful move. The record's
// patchPosition is the patch hook's position count. Discards the pending
// patch source and empties both file hooks when it ends. Latching: while
// the latch is set it empties both file hooks and returns 0; counts as
// failed when the output is closed, the directory is full, the file does
// not open, is 2 GB or larger or would take the archive past 2 GB, or the
// transfer fails.
int AddFileEntry(const char* path, const char* name, TransferFlags flags);

// Adds size bytes at address as a new stored entry. Meaningful flags:
// XFER_PATCH and a key byte; codec bits are ignored, since the stream reads
// files only. Returns 0 without latching when the latch is set, no output
// archive is open or the directory is full. Discards the pending patch
// source after its transfer. Latching for the rest: counts as failed when
// size is negative or the transfer fails.
int AddMemoryEntry(const std::uint8_t* address, std::int32_t size, const char* name,
                   TransferFlags flags);

// Adds an inline entry holding length bytes (cut to 0..16) from bytes.
// Needs neither an open output archive nor a clear latch. Returns 0 when
// the directory is full, or when the entry would be record 0, whose first
// byte holds the count and has no room for an inline length. Not latching.
int AddInlineEntry(const char* name, const std::uint8_t* bytes, std::int32_t length);

// Copies the inline input entry of that name into the output archive.
// Latching: while the latch is set it returns 0; counts as failed when the
// input is closed, there is no inline entry of that name, or AddInlineEntry
// refuses it.
int CopyInlineEntry(const char* name);

// Renames the first output record named oldName to newName (16 bytes,
// NUL-filled). Returns 0 when there is none. Returns 0 while the latch is
// set; never sets it.
int RenameOutputEntry(const char* oldName, const char* newName);

// The number of records added to the output archive (0 to 31).
std::int32_t OutputEntryCount();

// ---- tests --------------------------------------------------------------

// Puts the whole module back to its initial state: closes the input and
// output archives and the concatenation target without writing anything,
// empties both directories, the counts, the running data offset, the stage
// and the hook slots, and clears and disarms the latch.
void ResetArchiveModule();
