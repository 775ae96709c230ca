#include "LzxWriter.h"

#include <algorithm>

namespace lzxfuzz {

namespace {

constexpr uint64_t kFrame = 0x8000;

// The fixed main tree: literals 0..127 of 8 bits, the 32 match elements of position slots 0..3
// of 6 bits (a complete code). The length tree stays empty: matches use headers 0..6 only.
struct FixedMain {
    std::array<uint8_t, 256 + 50 * 8> lengths{};
    std::array<uint16_t, 256 + 50 * 8> codes{};
    FixedMain() {
        for (int s = 0; s < 128; ++s)
            lengths[static_cast<size_t>(s)] = 8;
        for (int s = 256; s < 256 + 32; ++s)
            lengths[static_cast<size_t>(s)] = 6;
        // Canonical codes: shorter first, by symbol within a length.
        uint32_t code = 0;
        for (int len = 1; len <= 16; ++len) {
            for (size_t s = 0; s < lengths.size(); ++s) {
                if (lengths[s] == len)
                    codes[s] = static_cast<uint16_t>(code++);
            }
            code <<= 1;
        }
    }
};

const FixedMain& fixedMain() {
    static const FixedMain m;
    return m;
}

} // namespace

void BitWriter::bits(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        m_word = (m_word << 1) | ((value >> i) & 1);
        if (++m_fill == 16) {
            m_out.append(static_cast<char>(m_word & 0xFF));
            m_out.append(static_cast<char>(m_word >> 8));
            m_word = 0;
            m_fill = 0;
        }
    }
}

void BitWriter::align() {
    if (m_fill)
        bits(0, 16 - m_fill);
}

IntervalWriter::IntervalWriter(int windowBits, uint64_t outputLength)
    : m_length(outputLength), m_mainElements(256 + 8 * (windowBits == 20   ? 42
                                                        : windowBits == 21 ? 50
                                                                           : windowBits * 2)) {
    m_bits.bits(0, 1); // no E8 translation
}

void IntervalWriter::produced(uint64_t n, bool compressed) {
    const uint64_t before = m_output;
    m_output += n;
    // Items never cross a frame: a boundary falls at most at the end of this output.
    if (m_output / kFrame != before / kFrame && m_output < m_length) {
        if (compressed)
            m_bits.align();
        m_frameStarts.push_back(m_bits.byteSize());
    }
}

void IntervalWriter::header(int type, uint32_t size) {
    m_bits.bits(static_cast<uint32_t>(type), 3);
    m_bits.bits(size >> 8, 16);
    m_bits.bits(size & 0xFF, 8);
}

void IntervalWriter::uncompressed(uint32_t size, const std::array<uint32_t, 3>& r, uint8_t fill) {
    header(3, size);
    // One to sixteen bits of padding.
    if (m_bits.aligned())
        m_bits.bits(0, 16);
    else
        m_bits.align();
    for (uint32_t v : r)
        for (int i = 0; i < 4; ++i)
            m_bits.byte(static_cast<uint8_t>(v >> (8 * i)));
    for (uint32_t i = 0; i < size; ++i) {
        m_bits.byte(fill);
        produced(1, false);
    }
    if (size & 1)
        m_bits.byte(0);
}

void IntervalWriter::lengths(const uint8_t* wanted, int first, int last, uint8_t* previous) {
    // Pretree: symbols 0..15 of four bits each, so the code of a delta is the delta itself.
    for (int s = 0; s < 20; ++s)
        m_bits.bits(s < 16 ? 4 : 0, 4);
    for (int x = first; x < last; ++x) {
        const int z = (previous[x] - wanted[x] + 17) % 17;
        m_bits.bits(static_cast<uint32_t>(z), 4);
        previous[x] = wanted[x];
    }
}

void IntervalWriter::verbatim(const std::vector<Item>& items) {
    // The size must be known before the items: cut matches at frame ends first.
    std::vector<Item> cut;
    uint64_t at = m_output, size = 0;
    for (Item item : items) {
        item.length = std::clamp(item.length, 2, 8);
        const uint64_t room = std::min(kFrame - at % kFrame, m_length - at);
        if (room == 0)
            break;
        if (item.match && static_cast<uint64_t>(item.length) > room) {
            item.match = false;
            item.literal = 0x2A;
        }
        const uint64_t n = item.match ? static_cast<uint64_t>(item.length) : 1;
        cut.push_back(item);
        at += n;
        size += n;
    }
    if (size == 0)
        return;
    header(1, static_cast<uint32_t>(size));
    const FixedMain& fixed = fixedMain();
    lengths(fixed.lengths.data(), 0, 256, m_mainPrevious.data());
    lengths(fixed.lengths.data(), 256, m_mainElements, m_mainPrevious.data());
    const std::array<uint8_t, 249> none{};
    lengths(none.data(), 0, 249, m_lengthPrevious.data());
    for (const Item& item : cut) {
        const size_t symbol = item.match
                                  ? static_cast<size_t>(256 + 8 * std::clamp(item.slot, 0, 3) +
                                                        (std::clamp(item.length, 2, 8) - 2))
                                  : static_cast<size_t>(item.literal & 0x7F);
        m_bits.bits(fixed.codes[symbol], fixed.lengths[symbol]);
        produced(item.match ? static_cast<uint64_t>(std::clamp(item.length, 2, 8)) : 1, true);
    }
}

QByteArray IntervalWriter::finish(std::vector<uint64_t>* frameStarts) {
    m_bits.align();
    if (frameStarts)
        *frameStarts = m_frameStarts;
    return m_bits.data();
}

} // namespace lzxfuzz
