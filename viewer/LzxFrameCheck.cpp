#include "LzxFrameCheck.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <utility>

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

constexpr std::array<uint32_t, 51> kPositionBase = {
    0,       1,       2,       3,       4,       6,       8,      12,     16,     24,      32,
    48,      64,      96,      128,     192,     256,     384,    512,    768,    1024,    1536,
    2048,    3072,    4096,    6144,    8192,    12288,   16384,  24576,  32768,  49152,   65536,
    98304,   131072,  196608,  262144,  393216,  524288,  655360, 786432, 917504, 1048576, 1179648,
    1310720, 1441792, 1572864, 1703936, 1835008, 1966080, 2097152};

enum Block { Invalid = 0, Verbatim = 1, Aligned = 2, Uncompressed = 3 };

// Why decoding stops: the decoder would refuse the data, or read or copy outside its buffers.
struct Failed {
    const char* reason;
};
const Failed kRejected{"is not valid LZX data"};
const Failed kReadPastEnd{"would be read past its end"};
const Failed kCopyBeforeStart{"copies from before the bytes decoded since the reset"};
const Failed kMatchOverrun{"has a match that runs past its block or frame"};

// A canonical prefix code as the decoder builds it from code lengths (at most 16 bits).
class Code {
public:
    // False where the decoder refuses the lengths (incomplete but not empty), and for every
    // over-full set: the decoder refuses some and builds a table that drops symbols for others
    // (when its short codes fill the table), so only complete codes decode as here.
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
        throw kRejected;
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
    uint64_t decoded = 0; // bytes of output since the reset point
    // The repeated offsets; the decoder starts them at 1 at every reset point.
    uint32_t r0 = 1, r1 = 1, r2 = 1;
    std::array<uint8_t, kMainSymbols + kTableSafety> mainLengths{};
    std::array<uint8_t, kLengthSymbols + kTableSafety> lengthLengths{};
    std::array<uint8_t, kAlignedSymbols> alignedLengths{};
    Code main, length, aligned;
};

// The decoder's bit reader over one frame: 16-bit little-endian words, most significant bit
// first, a buffer topped up a word at a time. It may load a few bytes past the frame (they stay
// inside chmlib's buffer), but a bit it consumes must be the frame's own: past the end chmlib's
// buffer holds whatever the heap left there, and the model reads zeros.
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
        if (m_pos * 8 - m_left > end() * 8)
            throw kReadPastEnd;
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
    // Raw bytes, as uncompressed blocks are read: all of them the frame's own.
    void skipBytes(int64_t n) {
        if (m_pos + n > end())
            throw kReadPastEnd;
        m_pos += n;
    }
    uint32_t readU32() {
        if (m_pos + 4 > end())
            throw kReadPastEnd;
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<uint32_t>(byteAt(m_pos + i));
        m_pos += 4;
        return v;
    }
    int64_t position() const { return m_pos; }
    void setPosition(int64_t p) { m_pos = p; }
    int left() const { return m_left; }
    int64_t end() const { return m_frame.size(); }

private:
    uint64_t byteAt(int64_t at) const {
        if (at < 0 || at >= m_frame.size() + LzxFrameCheck::kLookAhead)
            throw kReadPastEnd;
        return at < m_frame.size() ? static_cast<uint8_t>(m_frame[static_cast<qsizetype>(at)]) : 0;
    }

    const QByteArray& m_frame;
    int64_t m_pos = 0;
    uint64_t m_buffer = 0;
    int m_left = 0;
};

// Code lengths as the decoder reads them: a pretree, then deltas against the lengths the same
// table had before (runs may write up to 50 entries past `last`, inside the table's slack).
void readLengths(Bits& bits, uint8_t* lengths, int first, int last) {
    std::array<uint8_t, kPretreeSymbols> pre{};
    for (uint8_t& l : pre)
        l = static_cast<uint8_t>(bits.read(4));
    Code pretree;
    if (!pretree.build(pre.data(), kPretreeSymbols))
        throw kRejected;
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
            throw kRejected;
        [[fallthrough]];
    case Verbatim:
        readLengths(bits, s.mainLengths.data(), 0, kChars);
        readLengths(bits, s.mainLengths.data(), kChars, mainElements);
        if (!s.main.build(s.mainLengths.data(), kMainSymbols))
            throw kRejected;
        readLengths(bits, s.lengthLengths.data(), 0, kSecondaryLengths);
        if (!s.length.build(s.lengthLengths.data(), kLengthSymbols))
            throw kRejected;
        break;
    case Uncompressed:
        // Up to 16 bits of padding to the next word (a whole word when already aligned), then
        // the three repeated offsets as raw little-endian bytes.
        bits.ensure(16);
        if (bits.left() > 16)
            bits.setPosition(bits.position() - 2);
        s.r0 = bits.readU32();
        s.r1 = bits.readU32();
        s.r2 = bits.readU32();
        break;
    default:
        throw kRejected;
    }
}

// One match: reads its length footer and position bits, updates the repeated offsets as the
// decoder does, and answers the match's length and offset.
std::pair<int, uint32_t> readMatch(Bits& bits, State& s, int element) {
    element -= kChars;
    int length = element & 7;
    if (length == 7)
        length += bits.symbol(s.length);
    length += 2;
    const int slot = element >> 3;
    uint32_t offset = 0;
    if (slot > 2) {
        const int extra = kExtraBits[static_cast<size_t>(slot)];
        offset = kPositionBase[static_cast<size_t>(slot)] - 2;
        if (s.blockType == Verbatim) {
            offset = slot == 3 ? 1 : offset + bits.read(extra);
        } else if (extra > 3) {
            offset += bits.read(extra - 3) << 3;
            offset += static_cast<uint32_t>(bits.symbol(s.aligned));
        } else if (extra == 3) {
            offset += static_cast<uint32_t>(bits.symbol(s.aligned));
        } else if (extra > 0) {
            offset += bits.read(extra);
        } else {
            offset = 1;
        }
        s.r2 = s.r1;
        s.r1 = s.r0;
        s.r0 = offset;
    } else if (slot == 0) {
        offset = s.r0;
    } else if (slot == 1) {
        offset = s.r1;
        s.r1 = s.r0;
        s.r0 = offset;
    } else {
        offset = s.r2;
        s.r2 = s.r0;
        s.r0 = offset;
    }
    return {length, offset};
}

void decodeFrame(const QByteArray& frame, State& s, int mainElements, uint32_t windowSize) {
    Bits bits(frame);
    if (!s.headerRead) {
        // The E8 translation header: its size only bounds values compared inside the output.
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
            throw kRejected;
        int run = 0;
        while ((run = static_cast<int>(s.blockRemaining)) > 0 && togo > 0) {
            if (run > togo)
                run = togo;
            togo -= run;
            s.blockRemaining -= static_cast<uint32_t>(run);
            s.windowPosition &= windowSize - 1;
            if (s.windowPosition + static_cast<uint32_t>(run) > windowSize)
                throw kRejected;
            if (s.blockType == Uncompressed) {
                bits.skipBytes(run);
                s.windowPosition += static_cast<uint32_t>(run);
                s.decoded += static_cast<uint64_t>(run);
                continue;
            }
            while (run > 0) {
                const int element = bits.symbol(s.main);
                if (element < kChars) {
                    ++s.windowPosition;
                    ++s.decoded;
                    --run;
                    continue;
                }
                const auto [length, offset] = readMatch(bits, s, element);
                // The copy starts `offset` bytes back, wrapping once around the window: only
                // bytes written since the reset are there to copy.
                if (offset == 0 || offset > std::min<uint64_t>(s.decoded, windowSize))
                    throw kCopyBeforeStart;
                if (length > run)
                    throw kMatchOverrun;
                s.windowPosition += static_cast<uint32_t>(length);
                s.decoded += static_cast<uint64_t>(length);
                run -= length;
            }
        }
    }
}

} // namespace

LzxFrameCheck::Verdict LzxFrameCheck::check(const std::vector<QByteArray>& frames, int windowBits) {
    if (windowBits < 15 || windowBits > 21)
        return {false, 0, kRejected.reason};
    const int positionSlots = windowBits == 20 ? 42 : windowBits == 21 ? 50 : windowBits << 1;
    const int mainElements = kChars + positionSlots * 8;
    const uint32_t windowSize = 1u << windowBits;
    auto state = std::make_unique<State>();
    int index = 0;
    try {
        for (; index < static_cast<int>(frames.size()); ++index)
            decodeFrame(frames[static_cast<size_t>(index)], *state, mainElements, windowSize);
    } catch (const Failed& failed) {
        return {false, index, failed.reason};
    }
    return {};
}
