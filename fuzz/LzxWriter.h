// Writes LZX streams for the fuzzing: a bit writer in LZX's order (16-bit little-endian words,
// most significant bit first) and a writer of one reset interval made of uncompressed blocks
// (with chosen repeated-offset registers R0-R2) and simple verbatim blocks (fixed trees: 128
// literals, matches of 2 to 8 bytes through the repeated offsets or offset 1). Frames are cut
// every 0x8000 bytes of output, realigned as the decoders expect, and their starts reported
// for the reset table.
#pragma once

#include <QByteArray>
#include <array>
#include <cstdint>
#include <vector>

namespace lzxfuzz {

class BitWriter {
public:
    void bits(uint32_t value, int count);
    // Zero bits up to the next word boundary.
    void align();
    bool aligned() const { return m_fill == 0; }
    void byte(uint8_t b) { m_out.append(static_cast<char>(b)); } // only when aligned
    uint64_t byteSize() const { return static_cast<uint64_t>(m_out.size()); }
    const QByteArray& data() const { return m_out; }

private:
    QByteArray m_out;
    uint32_t m_word = 0;
    int m_fill = 0;
};

// One item of a verbatim block: a literal (0..127), or a match of `length` (2..8) bytes at
// repeated offset R`slot` (slot 0..2) or at offset 1 (slot 3).
struct Item {
    bool match = false;
    uint8_t literal = 0;
    int slot = 0;
    int length = 2;
};

class IntervalWriter {
public:
    // `outputLength`: the bytes the interval decodes to; windowBits 15..21.
    IntervalWriter(int windowBits, uint64_t outputLength);

    uint64_t output() const { return m_output; }
    uint64_t left() const { return m_length - m_output; }
    // An uncompressed block of `size` bytes of `fill`, loading R0-R2.
    void uncompressed(uint32_t size, const std::array<uint32_t, 3>& r, uint8_t fill);
    // A verbatim block of the items (a match that would cross a frame becomes literals); its
    // size is what the items decode to.
    void verbatim(const std::vector<Item>& items);
    // A block header only, with any type and size (what follows is up to the caller).
    void header(int type, uint32_t size);
    BitWriter& bits() { return m_bits; }

    // The stream; `frameStarts` gets each frame's start (the first is 0).
    QByteArray finish(std::vector<uint64_t>* frameStarts);

private:
    void produced(uint64_t n, bool compressed);
    void lengths(const uint8_t* wanted, int first, int last, uint8_t* previous);

    BitWriter m_bits;
    uint64_t m_length;
    uint64_t m_output = 0;
    int m_mainElements;
    std::vector<uint64_t> m_frameStarts{0};
    std::array<uint8_t, 256 + 50 * 8> m_mainPrevious{};
    std::array<uint8_t, 249> m_lengthPrevious{};
};

} // namespace lzxfuzz
