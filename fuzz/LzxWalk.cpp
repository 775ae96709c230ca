#include "LzxWalk.h"

#include <array>
#include <memory>

namespace lzxfuzz {

namespace {

constexpr int kFrame = 0x8000;
constexpr int kChars = 256;
constexpr int kMainMax = kChars + 50 * 8;
constexpr int kLengths = 249;
constexpr int kSafety = 64; // runs of code lengths may write this far past their end

struct Stop {};

constexpr std::array<uint8_t, 51> kExtraBits = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,
                                                5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10, 11, 11,
                                                12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 17,
                                                17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17};

uint32_t positionBase(int slot) {
    uint32_t base = 0;
    for (int i = 0; i < slot; ++i)
        base += uint32_t(1) << kExtraBits[static_cast<size_t>(i)];
    return base;
}

// A canonical prefix code decoded bit by bit (only the walk's speed depends on it).
struct Code {
    std::array<uint16_t, 17> count{};
    std::vector<uint16_t> symbols;
    bool empty = true;
    void build(const uint8_t* lengths, int n, bool mayBeEmpty) {
        count.fill(0);
        symbols.clear();
        uint64_t kraft = 0;
        for (int s = 0; s < n; ++s) {
            if (lengths[s] > 16)
                throw Stop{};
            if (lengths[s]) {
                ++count[lengths[s]];
                kraft += uint64_t(1) << (16 - lengths[s]);
            }
        }
        empty = kraft == 0;
        if ((empty && !mayBeEmpty) || (!empty && kraft != (uint64_t(1) << 16)))
            throw Stop{};
        for (int len = 1; len <= 16; ++len)
            for (int s = 0; s < n; ++s)
                if (lengths[s] == len)
                    symbols.push_back(static_cast<uint16_t>(s));
    }
};

class Reader {
public:
    explicit Reader(const QByteArray& s) : m_s(s) {}
    // Bit position from the interval's start: words are read from where the bit stream
    // (re)started, two bytes at a time.
    uint64_t bit() const { return m_base * 8 + m_used; }
    uint32_t read(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | nextBit();
        return v;
    }
    int symbol(const Code& c) {
        if (c.empty)
            return 0;
        uint32_t code = 0, first = 0, index = 0;
        for (int len = 1; len <= 16; ++len) {
            code |= nextBit();
            if (code - first < c.count[len])
                return c.symbols[index + (code - first)];
            index += c.count[len];
            first = (first + c.count[len]) << 1;
            code <<= 1;
        }
        throw Stop{};
    }
    // The bytes after a block header: 1 to 16 bits of padding, then raw bytes.
    uint64_t rawStart() const { return m_base + (m_used / 16 + 1) * 2; }
    void restartAt(uint64_t byte) {
        m_base = byte;
        m_used = 0;
    }
    // Bytes from `end` on read as zeros (chmlib's frame buffer past the frame, as the checks
    // take it).
    void limit(uint64_t end) { m_end = end; }
    // The realignment at a frame's end; answers where the next frame starts.
    uint64_t size() const { return static_cast<uint64_t>(m_s.size()); }
    uint32_t rawByte(uint64_t i) const { return byteAt(i); }
    uint64_t frameEnd() {
        restartAt(m_base + (m_used + 15) / 16 * 2);
        return m_base;
    }

private:
    uint32_t nextBit() {
        const uint64_t word = m_base + m_used / 16 * 2;
        // A decoder pads a stream's end with one zero word; beyond that it stops.
        if (word + 2 > static_cast<uint64_t>(m_s.size()) + 2)
            throw Stop{};
        const uint32_t w = byteAt(word) | (byteAt(word + 1) << 8);
        const uint32_t b = (w >> (15 - m_used % 16)) & 1;
        ++m_used;
        return b;
    }

    uint32_t byteAt(uint64_t i) const {
        return i < std::min<uint64_t>(m_end, static_cast<uint64_t>(m_s.size()))
                   ? static_cast<uint8_t>(m_s[static_cast<qsizetype>(i)])
                   : 0;
    }
    const QByteArray& m_s;
    uint64_t m_base = 0;
    uint64_t m_used = 0;
    uint64_t m_end = UINT64_MAX;
};

void readLengths(Reader& r, Block& b, uint8_t* lengths, int first, int last) {
    b.pretreeBits.push_back(r.bit());
    std::array<uint8_t, 20> pre{};
    for (uint8_t& l : pre)
        l = static_cast<uint8_t>(r.read(4));
    Code pretree;
    pretree.build(pre.data(), 20, false);
    const auto delta = [](uint8_t old, int z) { return static_cast<uint8_t>((old - z + 17) % 17); };
    for (int x = first; x < last;) {
        int z = r.symbol(pretree);
        if (z == 17 || z == 18) {
            int run = z == 17 ? static_cast<int>(r.read(4)) + 4 : static_cast<int>(r.read(5)) + 20;
            while (run--)
                lengths[x++] = 0; // runs may pass the table's end, as in the decoders
        } else if (z == 19) {
            int run = static_cast<int>(r.read(1)) + 4;
            z = r.symbol(pretree);
            if (z > 16)
                throw Stop{};
            const uint8_t v = delta(lengths[x], z);
            while (run--)
                lengths[x++] = v;
        } else {
            lengths[x] = delta(lengths[x], z);
            ++x;
        }
    }
}

struct State {
    std::array<uint8_t, kMainMax + kSafety> mainLengths{};
    std::array<uint8_t, kLengths + 1 + kSafety> lengthLengths{};
    std::array<uint8_t, 8> alignedLengths{};
    Code main, length, aligned;
    int type = 0;
    uint32_t remaining = 0;
    uint32_t blockSize = 0;
    uint64_t rawPos = 0;                // inside an uncompressed block: the next raw byte
    std::array<uint32_t, 3> r{1, 1, 1}; // the repeated offsets R0-R2
};

void readHeader(Reader& r, State& s, IntervalWalk& walk, int mainElements, uint64_t output) {
    if (s.type == Uncompressed) {
        r.restartAt(s.rawPos + (s.blockSize & 1));
    }
    Block b;
    b.headerBit = r.bit();
    b.outputStart = output;
    b.type = static_cast<int>(r.read(3));
    const uint32_t high = r.read(16), low = r.read(8);
    b.size = (high << 8) | low;
    s.type = b.type;
    s.remaining = s.blockSize = b.size;
    b.treesBit = r.bit();
    switch (b.type) {
    case Aligned:
        for (uint8_t& l : s.alignedLengths)
            l = static_cast<uint8_t>(r.read(3));
        s.aligned.build(s.alignedLengths.data(), 8, false);
        [[fallthrough]];
    case Verbatim:
        readLengths(r, b, s.mainLengths.data(), 0, kChars);
        readLengths(r, b, s.mainLengths.data(), kChars, mainElements);
        s.main.build(s.mainLengths.data(), mainElements, false);
        readLengths(r, b, s.lengthLengths.data(), 0, kLengths);
        s.length.build(s.lengthLengths.data(), kLengths, true);
        b.bodyBit = r.bit();
        break;
    case Uncompressed:
        s.rawPos = r.rawStart();
        b.bodyBit = s.rawPos * 8;
        for (int i = 0; i < 3; ++i) {
            uint32_t v = 0;
            for (int k = 3; k >= 0; --k) {
                const uint64_t at =
                    s.rawPos + 4 * static_cast<uint64_t>(i) + static_cast<uint64_t>(k);
                v = (v << 8) | r.rawByte(at);
            }
            s.r[static_cast<size_t>(i)] = v;
        }
        s.rawPos += 12;
        break;
    default:
        walk.blocks.push_back(b);
        throw Stop{};
    }
    walk.blocks.push_back(b);
}

} // namespace

IntervalWalk walkInterval(const QByteArray& stream, int windowBits, int frames,
                          uint64_t outputLength, const std::vector<uint64_t>* frameStarts) {
    IntervalWalk walk;
    if (windowBits < 15 || windowBits > 21)
        return walk;
    const int positionSlots = windowBits == 20 ? 42 : windowBits == 21 ? 50 : windowBits * 2;
    const int mainElements = kChars + positionSlots * 8;
    const uint64_t window = uint64_t(1) << windowBits;
    auto s = std::make_unique<State>();
    Reader r(stream);
    // chmlib counts a frame's output by the runs it plans, while its window takes every byte a
    // match writes (a match may run past the frame); libmspack refuses such a match.
    const bool asChmlib = frameStarts != nullptr;
    uint64_t output = 0;    // by the runs
    uint64_t decoded = 0;   // written to the window since the reset point
    uint64_t windowPos = 0; // chmlib's position in its window
    try {
        if (r.read(1)) {
            walk.intel = true;
            r.read(32);
        }
        for (int f = 0; f < frames && output < outputLength; ++f) {
            if (f > 0 && frameStarts) {
                if (static_cast<size_t>(f - 1) >= frameStarts->size())
                    throw Stop{};
                const uint64_t at = (*frameStarts)[static_cast<size_t>(f - 1)];
                if (at > r.size())
                    throw Stop{};
                r.restartAt(at);
                s->rawPos = at;
            }
            if (frameStarts)
                r.limit(static_cast<size_t>(f) < frameStarts->size()
                            ? (*frameStarts)[static_cast<size_t>(f)]
                            : UINT64_MAX);
            const uint64_t frameEndOutput =
                std::min<uint64_t>(output - output % kFrame + kFrame, outputLength);
            int64_t togo = asChmlib ? kFrame : static_cast<int64_t>(frameEndOutput - output);
            while (togo > 0) {
                if (s->remaining == 0)
                    readHeader(r, *s, walk, mainElements, output);
                int64_t run = std::min<int64_t>(s->remaining, togo);
                windowPos &= window - 1;
                if (asChmlib && windowPos + static_cast<uint64_t>(run) > window)
                    throw Stop{};
                if (s->type == Uncompressed) {
                    s->rawPos += static_cast<uint64_t>(run);
                    if (s->rawPos > static_cast<uint64_t>(stream.size()))
                        throw Stop{};
                    s->remaining -= static_cast<uint32_t>(run);
                    togo -= run;
                    output += static_cast<uint64_t>(run);
                    decoded += static_cast<uint64_t>(run);
                    windowPos += static_cast<uint64_t>(run);
                    if (s->remaining == 0)
                        r.restartAt(s->rawPos); // the pad byte is skipped with the next header
                    continue;
                }
                int64_t done = 0;
                while (done < run) {
                    const int element = r.symbol(s->main);
                    if (element < kChars) {
                        ++done;
                        ++decoded;
                        ++windowPos;
                        continue;
                    }
                    const int e = element - kChars;
                    int length = e & 7;
                    if (length == 7)
                        length += r.symbol(s->length);
                    length += 2;
                    const int slot = std::min(e >> 3, 50);
                    uint32_t offset = 0;
                    if (slot > 2) {
                        const int extra = kExtraBits[static_cast<size_t>(slot)];
                        uint32_t v = 0;
                        if (s->type == Aligned && extra >= 3) {
                            v = r.read(extra - 3) << 3;
                            v += static_cast<uint32_t>(r.symbol(s->aligned));
                        } else {
                            v = r.read(extra);
                        }
                        offset = positionBase(slot) - 2 + v;
                        s->r = {offset, s->r[0], s->r[1]};
                    } else {
                        offset = s->r[static_cast<size_t>(slot)];
                        std::swap(s->r[0], s->r[static_cast<size_t>(slot)]);
                    }
                    // Offset 0 copies the bytes about to be written: what the window held.
                    if (walk.outsideFrame < 0 &&
                        (offset == 0 || offset > std::min(decoded, window)))
                        walk.outsideFrame = f;
                    done += length;
                    decoded += static_cast<uint64_t>(length);
                    windowPos += static_cast<uint64_t>(length);
                    if (asChmlib && windowPos > window)
                        throw Stop{};
                }
                // A match past the run: libmspack refuses it, so its walk ends here.
                if (done > run && !asChmlib)
                    throw Stop{};
                s->remaining -= static_cast<uint32_t>(run);
                togo -= run;
                output += static_cast<uint64_t>(run);
            }
            // chmlib hands out the frame as the window's last 0x8000 bytes before its position:
            // after a match ran past an earlier frame and the window wrapped inside this one,
            // they begin before the window.
            if (asChmlib && walk.outsideFrame < 0 && (windowPos == 0 ? window : windowPos) < kFrame)
                walk.outsideFrame = f;
            output = frameEndOutput;
            walk.frameEnds.push_back(s->type == Uncompressed ? s->rawPos : r.frameEnd());
        }
        walk.complete = true;
    } catch (const Stop&) {
    }
    return walk;
}

} // namespace lzxfuzz
