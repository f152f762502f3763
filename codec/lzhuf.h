// LZHUF codec: LZSS matching against the last 4096 bytes, adaptive Huffman
// coding of literals and match lengths in one 314-symbol alphabet, and a fixed
// prefix code for the upper six bits of every match position.
//
// The codec knows neither files nor blocks. It takes bytes from a byte source
// and hands bytes to a byte sink, both owned by whoever runs the stream (the
// framed block stream, or the memory helpers at the end of this header).
//
// Code stream, as written to the sink and read from the source:
//   offset 0, 4 bytes: original size, unsigned 32-bit, least significant first
//   offset 4, rest:    code bits, most significant bit of each byte first; the
//                      last byte is filled up with 0 bits at its low end
// The code bits are one item per encoder step and no end mark:
//   literal b:  Huffman code of symbol b (0-255)
//   match:      Huffman code of symbol 253 + length (lengths 3-60), then the
//               position value v (0-4095, v = 0 copies the byte just written):
//               the position code of v >> 6, then the low six bits of v.
//
// All state is module-level and fixed in size; nothing is allocated. One
// stream at a time: ResetCodecState, then exactly one LzhufEncode or
// LzhufDecode. Single-threaded and not re-entrant.
#pragma once

#include <cstdint>

constexpr int RING_SIZE = 4096;                    // sliding window; ring positions modulo 4096
constexpr int MAX_MATCH = 60;                      // longest match and length of the look-ahead
constexpr int MATCH_THRESHOLD = 2;                 // a match must be longer than this
constexpr int RING_START = RING_SIZE - MAX_MATCH;  // 4036, first write position
constexpr int SYMBOL_COUNT = 314;                  // 0-255 literals, 256-313 match lengths 3-60
constexpr int NODE_COUNT = 2 * SYMBOL_COUNT - 1;   // 627 Huffman tree nodes
constexpr int ROOT_NODE = NODE_COUNT - 1;          // 626
constexpr std::uint32_t COUNT_LIMIT = 0x8000;      // root count that rebuilds the tree
constexpr int NO_NODE = RING_SIZE;                 // empty link in the match tree

// ---------------------------------------------------------------------------
// Byte source and sink.
//
// The codec moves most bytes through two windows that the owner of the
// stream points into its own buffers, and calls the four slots below only
// when a window is used up (and for the size bytes):
//
//   [CodecInNext, CodecInEnd)   bytes the codec may take as the next input
//                               bytes; taking one must mean exactly what a
//                               call of the read slot would have meant
//   [CodecOutNext, CodecOutEnd) room the codec may fill with its next output
//                               bytes, with the same understanding
//
// The codec advances CodecInNext and CodecOutNext as it uses the windows. The
// owner may move or empty both windows whenever one of its slots runs (for
// example to stop the input); the codec rereads them after every slot call.
// ResetCodecState empties both windows, so a source without windows simply
// serves every byte through its slots.
// ---------------------------------------------------------------------------

// Next input byte (0-255), or -1 when no more input comes; once it has
// answered -1 it keeps doing so.
using CodecByteReader = std::int16_t (*)();
// Appends the low 8 bits of its argument to the output.
using CodecByteWriter = void (*)(std::int32_t byte);
// Encoder: writes the declared original size as the four size bytes and
// returns it. The encoder never counts its input.
using CodecSizeWriter = std::uint32_t (*)();
// Decoder: reads the four size bytes and returns the size, or 0 when the
// source has failed by then.
using CodecSizeReader = std::uint32_t (*)();

// The slots; the framed block stream points them at ReadStreamByte,
// WriteStreamByte, WriteStreamSize and ReadStreamSize. They must be set
// before LzhufEncode (reader, writer, size writer) or LzhufDecode (reader,
// writer, size reader) runs.
extern CodecByteReader CodecReadByte;
extern CodecByteWriter CodecWriteByte;
extern CodecSizeWriter CodecWriteSize;
extern CodecSizeReader CodecReadSize;

extern const std::uint8_t* CodecInNext;
extern const std::uint8_t* CodecInEnd;
extern std::uint8_t* CodecOutNext;
extern std::uint8_t* CodecOutEnd;

// The original size the running decoder works towards. The owner of the
// source sets it to 0 while the decoder runs (a block failed its check, the
// stream was aborted); the decoder then stops after the item it is decoding.
extern std::uint32_t DecodeTarget;

// Clears both bit buffers, both bit counts and DecodeTarget, and empties
// both byte windows. Leaves the slots, the ring and the trees alone.
void ResetCodecState();

// Brings the whole module back to its state at process start: ring all
// zeros, trees and bit state cleared, slots empty, windows empty. For tests;
// a running system never needs it.
void ResetLzhufModule();

// Codes everything the byte source delivers, after writing the size through
// CodecWriteSize. A declared size of 0 gives the four size bytes only (no
// flush, the source is not read). Codes that the adaptive tree makes longer
// than 16 bits are written whole. No result.
void LzhufEncode();

// Decodes until DecodeTarget bytes are produced, DecodeTarget first being set
// from CodecReadSize. Trusts the bits: damaged data decode to wrong bytes, but
// never to more than the size read: a match that would run past it is cut
// there (its bytes still go into the ring, so the window is what it would
// have been). Past the end of the input it works on 0 bits. No result.
void LzhufDecode();

// ---------------------------------------------------------------------------
// The codec over memory (tests, benchmarks, tools). Each runs one whole
// stream: ResetCodecState, the slots and windows pointed at the buffers, one
// LzhufEncode or LzhufDecode. They overwrite the four slots.
// ---------------------------------------------------------------------------

// Encodes inCount bytes at in into the code stream (size bytes included) at
// out, which has room for outCapacity bytes. Returns the length of the whole
// code stream; when that exceeds outCapacity, the bytes beyond were dropped.
std::uint32_t LzhufEncodeMemory(const std::uint8_t* in, std::uint32_t inCount, std::uint8_t* out,
                                std::uint32_t outCapacity);

// Decodes the code stream of inCount bytes at in (size bytes first) into out,
// which has room for outCapacity bytes; never writes beyond it. Returns the
// number of bytes the stream decodes to (its size bytes, or 0 when fewer than
// four bytes are there); bytes beyond outCapacity were dropped.
std::uint32_t LzhufDecodeMemory(const std::uint8_t* in, std::uint32_t inCount, std::uint8_t* out,
                                std::uint32_t outCapacity);
