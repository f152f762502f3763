// An independent reader and writer of glue archives for tests, written
// from the file format alone: its own PC1 scrambler, its own record
// layout, nothing shared with archive/ or scrambler/. Tests use it to check
// that what the system writes is the format, and that the system reads
// what the format allows, so that a fault shared by the system's reader
// and writer cannot hide.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace glue_reference {

using Bytes = std::vector<std::uint8_t>;
using RawRecord = std::array<std::uint8_t, 40>;

// PC1 with an 80-bit key: a keystream word per byte from the running key
// and two 16-bit state words; the running key is then mixed with the
// plain byte.
class Pc1 {
public:
    explicit Pc1(const std::string& key)
    {
        for (std::size_t j = 0; j < 10; ++j)
            k_[j] = j < key.size() ? static_cast<std::uint8_t>(key[j]) : 0;
    }

    std::uint8_t Scramble(std::uint8_t plain)
    {
        std::uint8_t m = Mask();
        Feed(plain);
        return plain ^ m;
    }

    std::uint8_t Unscramble(std::uint8_t cipher)
    {
        std::uint8_t plain = cipher ^ Mask();
        Feed(plain);
        return plain;
    }

private:
    std::uint8_t Mask()
    {
        std::uint16_t a = 0, w = 0, t = t_;
        for (std::uint16_t i = 0; i < 5; ++i) {
            a ^= static_cast<std::uint16_t>(k_[2 * i] << 8 | k_[2 * i + 1]);
            t = static_cast<std::uint16_t>(t + i);
            auto u = static_cast<std::uint16_t>(s_ + 20021u * t + 346u * a);
            s_ = static_cast<std::uint16_t>(346u * a);
            a = static_cast<std::uint16_t>(20021u * a + 1u);
            t = u;
            w = static_cast<std::uint16_t>(w ^ t ^ a);
        }
        t_ = t;
        return static_cast<std::uint8_t>((w >> 8) ^ (w & 0xFF));
    }

    void Feed(std::uint8_t plain)
    {
        for (std::uint8_t& k : k_)
            k ^= plain;
    }

    std::uint8_t k_[10];
    std::uint16_t s_ = 0;
    std::uint16_t t_ = 0;
};

inline Bytes ScrambleRun(Bytes data, const std::string& key, bool scramble)
{
    Pc1 pc1(key);
    for (std::uint8_t& b : data)
        b = scramble ? pc1.Scramble(b) : pc1.Unscramble(b);
    return data;
}

inline std::int32_t GetI32(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                     static_cast<std::uint32_t>(p[2]) << 16 |
                                     static_cast<std::uint32_t>(p[3]) << 24);
}

inline void PutI32(std::uint8_t* p, std::int64_t v)
{
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

constexpr std::uint32_t MAGIC = 0x474C5545;

// One record's fields as the format defines them.
struct Record {
    RawRecord raw{};
    std::uint8_t countOrLength() const { return raw[0]; }
    std::uint8_t kind() const { return raw[1]; }
    std::uint8_t key() const { return raw[2]; }
    std::string name() const
    {
        std::string n;
        for (int i = 3; i < 19 && raw[i] != 0; ++i)
            n += static_cast<char>(raw[i]);
        return n;
    }
    std::int32_t dataOffset() const { return GetI32(&raw[19]); }
    std::int32_t storedSize() const { return GetI32(&raw[23]); }
    std::int32_t originalSize() const { return GetI32(&raw[27]); }
    std::int32_t patchPosition() const { return GetI32(&raw[31]); }
    std::uint8_t recordSize() const { return raw[35]; }
    std::uint32_t magic() const { return static_cast<std::uint32_t>(GetI32(&raw[36])); }
    bool isInline() const { return kind() == 0xFF; }
    bool isCompressed() const { return kind() != 0 && kind() != 0xFF; }
};

// The directory of a file: the N records, record 0 first, for the N whose
// last N * 40 bytes unscramble under "KNOT" to a record 0 with the magic
// and the count N; none when there is no such N.
inline std::optional<std::vector<Record>> ReadDirectory(const Bytes& file)
{
    std::size_t most = file.size() / 40;
    if (most > 31)
        most = 31;
    for (std::size_t n = 1; n <= most; ++n) {
        Bytes run(file.end() - static_cast<std::ptrdiff_t>(n * 40), file.end());
        Bytes plain = ScrambleRun(run, "KNOT", false);
        Record zero;
        std::copy(plain.end() - 40, plain.end(), zero.raw.begin());
        if (zero.magic() != MAGIC || (zero.countOrLength() & 0x1F) != n)
            continue;
        std::vector<Record> records(n);
        for (std::size_t k = 0; k < n; ++k) {
            auto at = plain.end() - static_cast<std::ptrdiff_t>(40 * (k + 1));
            std::copy(at, at + 40, records[k].raw.begin());
        }
        return records;
    }
    return std::nullopt;
}

// The restored bytes of a stored or inline record; none for a compressed
// one (this reader has no decompressor) or data outside the file.
inline std::optional<Bytes> EntryData(const Bytes& file, const Record& record)
{
    if (record.isInline()) {
        int n = static_cast<std::int8_t>(record.countOrLength());
        if (n < 0 || n > 16)
            n = 0;
        return Bytes(record.raw.begin() + 23, record.raw.begin() + 23 + n);
    }
    if (record.isCompressed())
        return std::nullopt;
    std::int64_t offset = record.dataOffset(), size = record.storedSize();
    if (offset < 0 || size < 0 || offset + size > static_cast<std::int64_t>(file.size()))
        return std::nullopt;
    Bytes data(file.begin() + offset, file.begin() + offset + size);
    for (std::uint8_t& b : data)
        b ^= record.key();
    return data;
}

// A record as a writer lays it out.
inline RawRecord MakeRecord(const std::string& name, std::uint8_t kind, std::uint8_t key,
                            std::int64_t dataOffset, std::int64_t storedSize,
                            std::int64_t originalSize, std::int64_t patchPosition = -1)
{
    RawRecord r{};
    r[1] = kind;
    r[2] = key;
    for (std::size_t i = 0; i < name.size() && i < 16; ++i)
        r[3 + i] = static_cast<std::uint8_t>(name[i]);
    PutI32(&r[19], dataOffset);
    PutI32(&r[23], storedSize);
    PutI32(&r[27], originalSize);
    PutI32(&r[31], patchPosition);
    r[35] = 40;
    PutI32(&r[36], MAGIC);
    return r;
}

inline RawRecord MakeInlineRecord(const std::string& name, const Bytes& bytes)
{
    RawRecord r = MakeRecord(name, 0xFF, 0, 0, 0, 0, -1);
    r[0] = static_cast<std::uint8_t>(bytes.size());
    for (std::size_t i = 0; i < bytes.size() && i < 16; ++i)
        r[23 + i] = bytes[i];
    return r;
}

// data followed by the scrambled directory of records (record 0 first in
// the vector). Record 0's first byte is set to the count unless
// keepCountByte.
inline Bytes WithDirectory(Bytes data, std::vector<RawRecord> records, bool keepCountByte = false)
{
    if (!keepCountByte && !records.empty())
        records[0][0] = static_cast<std::uint8_t>(records.size());
    Bytes run;
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        run.insert(run.end(), it->begin(), it->end());
    Bytes scrambled = ScrambleRun(run, "KNOT", true);
    data.insert(data.end(), scrambled.begin(), scrambled.end());
    return data;
}

// An entry for BuildArchive: plain bytes stored as they are or XORed with
// key, an inline entry, or an alias of an earlier entry.
struct NewEntry {
    std::string name;
    Bytes data;
    std::uint8_t key = 0;
    bool isInline = false;
    int aliasOf = -1;
};

inline Bytes BuildArchive(const std::vector<NewEntry>& entries)
{
    Bytes file;
    std::vector<RawRecord> records;
    for (const NewEntry& e : entries) {
        if (e.aliasOf >= 0) {
            RawRecord r = records.at(static_cast<std::size_t>(e.aliasOf));
            std::fill(r.begin() + 3, r.begin() + 19, 0);
            for (std::size_t i = 0; i < e.name.size() && i < 16; ++i)
                r[3 + i] = static_cast<std::uint8_t>(e.name[i]);
            records.push_back(r);
        } else if (e.isInline) {
            records.push_back(MakeInlineRecord(e.name, e.data));
        } else {
            auto offset = static_cast<std::int64_t>(file.size());
            for (std::uint8_t b : e.data)
                file.push_back(b ^ e.key);
            auto size = static_cast<std::int64_t>(e.data.size());
            records.push_back(MakeRecord(e.name, 0, e.key, offset, size, size));
        }
    }
    return WithDirectory(file, records);
}

}  // namespace glue_reference
