#include "LzxFrameCheck.h"

#include <array>
#include <cstdint>
#include <memory>

namespace {

constexpr int kFrameSize = 0x8000;
constexpr int kChars = 256;
constexpr int kMainSymbols = kChars + 50 * 8;
constexpr int kLengthSymbols = 250;
constexpr int kSecondaryLengths = 249;
constexpr int kPretreeSymbols = 20;
constexpr int kAlignedSymbols = 8;
constexpr int kTableSafety = 64; // runs of code lengths may write this far past their end

constexpr std::array<uint8_t, 51> kExtraBits = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,
                                                5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10, 11, 11,
                                                12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 17,
                                                17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17};

enum Block { Invalid = 0, Verbatim = 1, Aligned = 2, Uncompressed = 3 };

struct Failed {}; // the decoder would stop here, or read beyond the frame

// A canonical prefix code as the decoder builds it from code lengths (at most 16 bits).
class Code {
public:
    // False where the decoder refuses the lengths: over-full, or incomplete but not empty.
    bool build(const uint8_t* lengths, int symbols) {
        m_count.fill(0);
        m_symbols.clear();
        uint64_t kraft = 0;
        for (int s = 0; s < symbols; ++s) {
            if (lengths[s] > 16)
                return false;
            if (lengths[s]) {
                ++m_count[lengths[s]];
                kraft += uint64_t(1) << (16 - lengths[s]);
            }
        }
        m_empty = kraft == 0;
        if (!m_empty && kraft != (uint64_t(1) << 16))
            return false;
        for (int len = 1; len <= 16; ++len) {
            for (int s = 0; s < symbols; ++s) {
                if (lengths[s] == len)
                    m_symbols.push_back(static_cast<uint16_t>(s));
            }
        }
        return true;
    }
    bool empty() const { return m_empty; }
    // Decodes from the top bits of `peek` (16 bits); answers the symbol and sets its length.
    int decode(uint32_t peek, int* length) const {
        uint32_t code = 0, first = 0, index = 0;
        for (int len = 1; len <= 16; ++len) {
            code |= (peek >> (16 - len)) & 1;
            if (code - first < m_count[len]) {
                *length = len;
                return m_symbols[index + (code - first)];
            }
            index += m_count[len];
            first = (first + m_count[len]) << 1;
            code <<= 1;
        }
        throw Failed{};
    }

private:
    std::array<uint32_t, 17> m_count{};
    std::vector<uint16_t> m_symbols;
    bool m_empty = true;
};

// The decoder's state that carries from frame to frame until the next reset point.
struct State {
    bool headerRead = false;
    int blockType = Invalid;
    uint32_t blockLength = 0;
    uint32_t blockRemaining = 0;
    uint32_t windowPosition = 0;
    std::array<uint8_t, kMainSymbols + kTableSafety> mainLengths{};
    std::array<uint8_t, kLengthSymbols + kTableSafety> lengthLengths{};
    std::array<uint8_t, kAlignedSymbols> alignedLengths{};
    Code main, length, aligned;
};

// The decoder's bit reader over one frame: 16-bit little-endian words, most significant bit
// first, a 64-bit buffer topped up a word at a time.
class Bits {
public:
    explicit Bits(const QByteArray& frame) : m_frame(frame) {}

    void reset() {
        m_buffer = 0;
        m_left = 0;
    }
    void ensure(int n) {
        while (m_left < n) {
            const uint64_t word = byteAt(m_pos) | (byteAt(m_pos + 1) << 8);
            m_buffer |= word << (64 - 16 - m_left);
            m_left += 16;
            m_pos += 2;
        }
    }
    uint32_t peek(int n) const { return n == 0 ? 0 : static_cast<uint32_t>(m_buffer >> (64 - n)); }
    void remove(int n) {
        m_buffer <<= n;
        m_left -= n;
    }
    uint32_t read(int n) {
        ensure(n);
        const uint32_t v = peek(n);
        remove(n);
        return v;
    }
    int symbol(const Code& code) {
        ensure(16);
        if (code.empty())
            return 0; // an empty table answers symbol 0 of length 0
        int length = 0;
        const int s = code.decode(peek(16), &length);
        remove(length);
        return s;
    }
    // Raw bytes, as uncompressed blocks are read.
    void skipBytes(int64_t n) {
        byteAt(m_pos + n - 1);
        m_pos += n;
    }
    int64_t position() const { return m_pos; }
    void setPosition(int64_t p) { m_pos = p; }
    int left() const { return m_left; }
    int64_t end() const { return m_frame.size(); }

private:
    uint64_t byteAt(int64_t at) const {
        if (at < 0 || at >= m_frame.size() + LzxFrameCheck::kLookAhead)
            throw Failed{};
        return at < m_frame.size() ? static_cast<uint8_t>(m_frame[static_cast<qsizetype>(at)]) : 0;
    }

    const QByteArray& m_frame;
    int64_t m_pos = 0;
    uint64_t m_buffer = 0;
    int m_left = 0;
};

void readLengths(Bits& bits, uint8_t* lengths, int first, int last) {
    std::array<uint8_t, kPretreeSymbols> pre{};
    for (uint8_t& l : pre)
        l = static_cast<uint8_t>(bits.read(4));
    Code pretree;
    if (!pretree.build(pre.data(), kPretreeSymbols))
        throw Failed{};
    const auto delta = [](uint8_t old, int z) {
        int v = old - z;
        return static_cast<uint8_t>(v < 0 ? v + 17 : v);
    };
    for (int x = first; x < last;) {
        int z = bits.symbol(pretree);
        if (z == 17 || z == 18) {
            int run =
                z == 17 ? static_cast<int>(bits.read(4)) + 4 : static_cast<int>(bits.read(5)) + 20;
            while (run--)
                lengths[x++] = 0;
        } else if (z == 19) {
            int run = static_cast<int>(bits.read(1)) + 4;
            z = bits.symbol(pretree);
            const uint8_t v = delta(lengths[x], z);
            while (run--)
                lengths[x++] = v;
        } else {
            lengths[x] = delta(lengths[x], z);
            ++x;
        }
    }
}

void readBlockHeader(Bits& bits, State& s, int mainElements) {
    if (s.blockType == Uncompressed) {
        if (s.blockLength & 1)
            bits.setPosition(bits.position() + 1);
        bits.reset();
    }
    s.blockType = static_cast<int>(bits.read(3));
    const uint32_t high = bits.read(16), low = bits.read(8);
    s.blockRemaining = s.blockLength = (high << 8) | low;
    switch (s.blockType) {
    case Aligned:
        for (uint8_t& l : s.alignedLengths)
            l = static_cast<uint8_t>(bits.read(3));
        if (!s.aligned.build(s.alignedLengths.data(), kAlignedSymbols))
            throw Failed{};
        [[fallthrough]];
    case Verbatim:
        readLengths(bits, s.mainLengths.data(), 0, kChars);
        readLengths(bits, s.mainLengths.data(), kChars, mainElements);
        if (!s.main.build(s.mainLengths.data(), kMainSymbols))
            throw Failed{};
        readLengths(bits, s.lengthLengths.data(), 0, kSecondaryLengths);
        if (!s.length.build(s.lengthLengths.data(), kLengthSymbols))
            throw Failed{};
        break;
    case Uncompressed:
        bits.ensure(16);
        if (bits.left() > 16)
            bits.setPosition(bits.position() - 2);
        bits.skipBytes(12); // the three repeated offsets
        break;
    default:
        throw Failed{};
    }
}

// One match's input: its length footer and its position bits.
int matchLength(Bits& bits, State& s, int element) {
    element -= kChars;
    int length = element & 7;
    if (length == 7)
        length += bits.symbol(s.length);
    length += 2;
    const int slot = element >> 3;
    if (slot > 2) {
        int extra = kExtraBits[static_cast<size_t>(slot)];
        if (s.blockType == Verbatim) {
            if (slot != 3)
                bits.read(extra);
        } else if (extra > 3) {
            bits.read(extra - 3);
            bits.symbol(s.aligned);
        } else if (extra == 3) {
            bits.symbol(s.aligned);
        } else if (extra > 0) {
            bits.read(extra);
        }
    }
    return length;
}

void decodeFrame(const QByteArray& frame, State& s, int mainElements, uint32_t windowSize) {
    Bits bits(frame);
    if (!s.headerRead) {
        if (bits.read(1)) {
            bits.read(16);
            bits.read(16);
        }
        s.headerRead = true;
    }
    int togo = kFrameSize;
    while (togo > 0) {
        if (s.blockRemaining == 0)
            readBlockHeader(bits, s, mainElements);
        if (bits.position() > bits.end() && (bits.position() > bits.end() + 2 || bits.left() < 16))
            throw Failed{};
        int run = 0;
        while ((run = static_cast<int>(s.blockRemaining)) > 0 && togo > 0) {
            if (run > togo)
                run = togo;
            togo -= run;
            s.blockRemaining -= static_cast<uint32_t>(run);
            s.windowPosition &= windowSize - 1;
            if (s.windowPosition + static_cast<uint32_t>(run) > windowSize)
                throw Failed{};
            if (s.blockType == Uncompressed) {
                if (bits.position() + run > bits.end())
                    throw Failed{};
                bits.skipBytes(run);
                s.windowPosition += static_cast<uint32_t>(run);
                continue;
            }
            while (run > 0) {
                const int element = bits.symbol(s.main);
                if (element < kChars) {
                    ++s.windowPosition;
                    --run;
                    continue;
                }
                const int length = matchLength(bits, s, element);
                s.windowPosition += static_cast<uint32_t>(length);
                if (s.windowPosition > windowSize)
                    throw Failed{};
                run -= length;
            }
        }
    }
}

} // namespace

bool LzxFrameCheck::framesAreSafe(const std::vector<QByteArray>& frames, int windowBits) {
    if (windowBits < 15 || windowBits > 21)
        return false;
    const int positionSlots = windowBits == 20 ? 42 : windowBits == 21 ? 50 : windowBits << 1;
    const int mainElements = kChars + positionSlots * 8;
    const uint32_t windowSize = 1u << windowBits;
    auto state = std::make_unique<State>();
    try {
        for (const QByteArray& frame : frames)
            decodeFrame(frame, *state, mainElements, windowSize);
    } catch (const Failed&) {
        return false;
    }
    return true;
}
