#include "LzxMutator.h"

#include "CHMContainerLayout.h"
#include "LzxStreamWriter.h"
#include "LzxWalk.h"
#include "LzxWriter.h"

#include <algorithm>
#include <optional>

namespace fuzz {

namespace {

using Rng = std::mt19937;
constexpr quint64 kFrame = 0x8000;

quint64 pick(Rng& rng, quint64 n) {
    return n == 0 ? 0 : std::uniform_int_distribution<quint64>(0, n - 1)(rng);
}

// What a repeated offset is dangerous with: nothing decoded yet, the bytes decoded so far and
// one either side, the window, and the values that wrap pointer arithmetic.
uint32_t interestingOffset(Rng& rng, quint64 decoded, int windowBits) {
    const quint64 window = quint64(1) << windowBits;
    const quint64 values[] = {
        0,           1,          2,           3,          64,
        decoded - 1, decoded,    decoded + 1, window,     window + 1,
        window - 1,  0x7FFFFFFF, 0x80000000,  0xFFFFFFFF, 1 + pick(rng, 0x100)};
    return static_cast<uint32_t>(values[pick(rng, sizeof values / sizeof values[0])]);
}

struct Section {
    chmcraft::Entry* content = nullptr;
    chmcraft::Entry* table = nullptr;
    CHMLzxFrames frames;
    quint64 sectionLength = 0;
    quint64 tableOffset = 0; // of the entries, inside the reset table
    quint64 count = 0;       // frames that decode
};

quint64 field(const QByteArray& bytes, quint64 at, int width) {
    quint64 v = 0;
    for (int i = 0; i < width; ++i) {
        const quint64 p = at + static_cast<quint64>(i);
        if (p < static_cast<quint64>(bytes.size()))
            v |= static_cast<quint64>(static_cast<quint8>(bytes[static_cast<qsizetype>(p)]))
                 << (8 * i);
    }
    return v;
}

std::optional<Section> locate(chmcraft::Model& m) {
    const QByteArray file = chmcraft::write(m);
    QString reason;
    const auto layout = CHMContainerLayout::parse(
        file.left(0x60), static_cast<quint64>(file.size()),
        [&file](quint64 at, quint64 length) {
            return file.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(length));
        },
        &reason);
    if (!layout || layout->lzxFrames().starts.empty() || layout->lzxFrames().framesPerReset == 0)
        return std::nullopt;
    Section s;
    s.content = m.find(chmcraft::kContent);
    s.table = m.find(chmcraft::kResetTable);
    if (!s.content || !s.table || s.content->section != 0 || s.table->section != 0 ||
        m.bytesOf(*s.content).isEmpty())
        return std::nullopt;
    s.frames = layout->lzxFrames();
    s.sectionLength = layout->compressedSectionLength();
    s.tableOffset = field(m.bytesOf(*s.table), 12, 4);
    s.count = std::min<quint64>(s.frames.starts.size(), (s.sectionLength + kFrame - 1) / kFrame);
    if (s.count == 0)
        return std::nullopt;
    return s;
}

struct Interval {
    quint64 firstFrame = 0, frames = 0;
    quint64 from = 0, to = 0; // in the compressed stream
    quint64 output = 0;
};

Interval interval(const Section& s, quint64 k) {
    Interval i;
    const quint64 per = s.frames.framesPerReset;
    i.firstFrame = k * per;
    i.frames = std::min(per, s.count - i.firstFrame);
    i.from = s.frames.starts[static_cast<size_t>(i.firstFrame)];
    const quint64 end = i.firstFrame + i.frames;
    i.to = end < s.frames.starts.size() ? s.frames.starts[static_cast<size_t>(end)]
                                        : s.frames.compressedLength;
    i.to = std::max(i.to, i.from);
    // chmlib decodes whole frames, the last one too: the stream must hold them.
    i.output = i.frames * kFrame;
    return i;
}

void setTableEntry(chmcraft::Model& m, const Section& s, quint64 frame, quint64 value) {
    m.patch(*s.table, s.tableOffset + 8 * frame, value, 8);
}

// Points the interval's table entries at the frames a continuous decoder finds.
void resync(chmcraft::Model& m, const Section& s, const Interval& iv) {
    const QByteArray stream = m.bytesOf(*s.content);
    const QByteArray bytes = stream.mid(static_cast<qsizetype>(iv.from));
    const auto walk =
        lzxfuzz::walkInterval(bytes, s.frames.windowBits, static_cast<int>(iv.frames), iv.output);
    for (size_t f = 0; f + 1 < walk.frameEnds.size() && f + 1 < iv.frames; ++f)
        setTableEntry(m, s, iv.firstFrame + f + 1, iv.from + walk.frameEnds[f]);
}

// Overwrites `count` bits at bit `at` of an LZX bit stream that starts at `base`.
void setBits(QByteArray& bytes, quint64 base, quint64 at, uint32_t value, int count) {
    for (int i = 0; i < count; ++i) {
        const quint64 bit = at + static_cast<quint64>(i);
        const quint64 word = base + bit / 16 * 2;
        const int inWord = 15 - static_cast<int>(bit % 16);
        const quint64 byte = word + (inWord >= 8 ? 1 : 0);
        if (byte >= static_cast<quint64>(bytes.size()))
            return;
        const char mask = static_cast<char>(1 << (inWord % 8));
        char& c = bytes[static_cast<qsizetype>(byte)];
        c = ((value >> (count - 1 - i)) & 1) ? static_cast<char>(c | mask)
                                             : static_cast<char>(c & ~mask);
    }
}

void writeInterval(Rng& rng, lzxfuzz::IntervalWriter& w, int windowBits) {
    bool afterUncompressed = false;
    for (int blocks = 0; w.left() > 0; ++blocks) {
        const quint64 left = w.left();
        const quint64 size =
            blocks >= 16
                ? left
                : 1 + (pick(rng, 2) ? pick(rng, std::min<quint64>(left, 300)) : pick(rng, left));
        if (blocks >= 16 || pick(rng, 3) == 0) {
            const quint64 after = w.output() + size;
            const std::array<uint32_t, 3> r = {interestingOffset(rng, after, windowBits),
                                               interestingOffset(rng, after, windowBits),
                                               interestingOffset(rng, after, windowBits)};
            w.uncompressed(static_cast<uint32_t>(size), r, static_cast<uint8_t>(pick(rng, 256)));
            afterUncompressed = true;
            continue;
        }
        std::vector<lzxfuzz::Item> items;
        quint64 made = 0;
        while (made < size) {
            lzxfuzz::Item item;
            // Right after loaded registers, a repeated-offset match uses them at once.
            const bool first = items.empty() && afterUncompressed;
            item.match = first ? pick(rng, 4) != 0 : pick(rng, 3) == 0;
            item.slot = first ? static_cast<int>(pick(rng, 3)) : static_cast<int>(pick(rng, 4));
            item.length = 2 + static_cast<int>(pick(rng, 7));
            item.literal = static_cast<uint8_t>(pick(rng, 128));
            made += item.match ? static_cast<quint64>(item.length) : 1;
            items.push_back(item);
        }
        w.verbatim(items);
        afterUncompressed = false;
    }
}

// Puts `fresh` (whose frames start at `starts`) in the interval's place; moves everything after
// it and the table entries with it.
void replaceInterval(chmcraft::Model& m, const Section& s, const Interval& iv,
                     const QByteArray& fresh, const std::vector<quint64>& starts) {
    chmcraft::Entry& content = *s.content;
    if (iv.from > content.length)
        return;
    const quint64 oldEnd = content.offset + content.length;
    const quint64 oldLength = std::min(iv.to, content.length) - std::min(iv.from, content.length);
    m.content.replace(static_cast<qsizetype>(content.offset + iv.from),
                      static_cast<qsizetype>(oldLength), fresh);
    const qint64 delta = static_cast<qint64>(fresh.size()) - static_cast<qint64>(oldLength);
    for (chmcraft::Entry& e : m.entries) {
        if (&e != &content && e.section == 0 && e.offset >= oldEnd)
            e.offset = static_cast<quint64>(static_cast<qint64>(e.offset) + delta);
    }
    content.length = static_cast<quint64>(static_cast<qint64>(content.length) + delta);
    const QByteArray table = m.bytesOf(*s.table);
    const quint64 entries = field(table, 4, 4);
    for (quint64 f = iv.firstFrame + 1; f < std::min<quint64>(entries, 1 << 16); ++f) {
        const quint64 i = f - iv.firstFrame;
        if (i < iv.frames) {
            if (i < starts.size())
                setTableEntry(m, s, f, iv.from + starts[static_cast<size_t>(i)]);
        } else {
            const quint64 old = field(table, s.tableOffset + 8 * f, 8);
            setTableEntry(m, s, f, static_cast<quint64>(static_cast<qint64>(old) + delta));
        }
    }
    m.patch(*s.table, 24, static_cast<quint64>(static_cast<qint64>(field(table, 24, 8)) + delta),
            8);
}

// Writes the interval anew with what `write` puts into a writer for it.
void reemit(chmcraft::Model& m, const Section& s, const Interval& iv,
            const std::function<void(lzxfuzz::IntervalWriter&)>& write) {
    lzxfuzz::IntervalWriter writer(s.frames.windowBits, iv.output);
    write(writer);
    std::vector<uint64_t> starts;
    const QByteArray fresh = writer.finish(&starts);
    replaceInterval(m, s, iv, fresh, std::vector<quint64>(starts.begin(), starts.end()));
}

// Mostly text: what the pages of a book are made of; now and then any byte.
char soundLiteral(Rng& rng) {
    static const char text[] = "<html><body><p class=\"x\">The quick brown fox</p></body>\n";
    return pick(rng, 8) == 0 ? static_cast<char>(pick(rng, 256)) : text[pick(rng, sizeof text - 1)];
}

// One sound interval of `length` bytes, as a compressor could write it: blocks of every type
// one after another, literals, matches through R0-R2 and explicit offsets, each reaching back
// only into what was decoded since the reset and ending inside its block and its frame (the
// checks refuse anything else, and chmlib and libmspack part ways there). Mostly long matches,
// so that the interval stays about as small as a real one.
void writeSoundInterval(Rng& rng, testsupport::LzxStreamWriter& w, qsizetype length) {
    const qsizetype window = qsizetype(1) << w.windowBits();
    const qsizetype maxOffset = window - 3;
    while (w.output().size() < length) {
        const qsizetype at = w.output().size();
        const qsizetype left = length - at;
        const qsizetype frameEnd =
            (at / testsupport::LzxStreamWriter::kFrame + 1) * testsupport::LzxStreamWriter::kFrame;
        // Up to the frame's end most of the time, past it (into the next frame) now and then.
        const qsizetype blockSize =
            pick(rng, 4) == 0 ? 1 + static_cast<qsizetype>(pick(rng, static_cast<quint64>(left)))
                              : std::min(left, frameEnd - at);
        const quint64 type = pick(rng, 5);
        if (type == 0) {
            // Few and short: an uncompressed block costs its bytes.
            const qsizetype size = std::min<qsizetype>(blockSize, 1 + pick(rng, 200));
            QByteArray data;
            for (qsizetype i = 0; i < size; ++i)
                data.append(soundLiteral(rng));
            const qsizetype reach = std::min(w.outputSinceReset() + size, maxOffset);
            const auto r = [&] {
                return static_cast<quint32>(1 + pick(rng, static_cast<quint64>(reach)));
            };
            w.uncompressedBlock(data, r(), r(), r());
            continue;
        }
        std::vector<testsupport::LzxToken> tokens;
        // The writer's registers and output as the tokens will leave them.
        quint32 regs[3] = {w.repeatedOffset(0), w.repeatedOffset(1), w.repeatedOffset(2)};
        qsizetype decoded = w.outputSinceReset(), made = 0;
        while (made < blockSize) {
            const qsizetype position = at + made;
            const qsizetype room =
                std::min(blockSize - made, (position / testsupport::LzxStreamWriter::kFrame + 1) *
                                                   testsupport::LzxStreamWriter::kFrame -
                                               position);
            testsupport::LzxToken token = testsupport::LzxToken::byte(soundLiteral(rng));
            if (decoded > 0 && room >= 2 && pick(rng, 8) != 0) {
                const int matchLength = static_cast<int>(std::min<qsizetype>(
                    room, pick(rng, 3) == 0 ? 2 + pick(rng, 8) : 2 + pick(rng, 256)));
                const int r = static_cast<int>(pick(rng, 3));
                if (pick(rng, 2) == 0 && regs[r] >= 1 && regs[r] <= decoded) {
                    token = testsupport::LzxToken::repeated(r, matchLength);
                    const quint32 offset = regs[r];
                    regs[r] = regs[0];
                    regs[0] = offset;
                } else {
                    const quint32 offset = static_cast<quint32>(
                        1 + pick(rng, static_cast<quint64>(std::min(decoded, maxOffset))));
                    token = testsupport::LzxToken::at(offset, matchLength);
                    regs[2] = regs[1];
                    regs[1] = regs[0];
                    regs[0] = offset;
                }
            }
            made += token.length;
            decoded += token.length;
            tokens.push_back(token);
        }
        if (type <= 2)
            w.verbatimBlock(tokens);
        else
            w.alignedBlock(tokens);
    }
}

// Changes one field of one block where it stands; the stream keeps its length.
void patchBlock(Rng& rng, chmcraft::Model& m, const Section& s, const Interval& iv) {
    const QByteArray stream = m.bytesOf(*s.content);
    const auto walk =
        lzxfuzz::walkInterval(stream.mid(static_cast<qsizetype>(iv.from)), s.frames.windowBits,
                              static_cast<int>(iv.frames), iv.output);
    if (walk.blocks.empty())
        return;
    const lzxfuzz::Block& b = walk.blocks[static_cast<size_t>(pick(rng, walk.blocks.size()))];
    QByteArray& bytes = m.content;
    const quint64 base = s.content->offset + iv.from;
    const int windowBits = s.frames.windowBits;
    switch (pick(rng, 6)) {
    case 0: // the type: verbatim, aligned, uncompressed, or an invalid one
        setBits(bytes, base, b.headerBit,
                pick(rng, 4) ? 1 + static_cast<uint32_t>(pick(rng, 3))
                             : static_cast<uint32_t>(pick(rng, 8)),
                3);
        break;
    case 1: { // the size
        const quint64 sizes[] = {0,          1,
                                 b.size - 1, b.size + 1,
                                 kFrame,     kFrame - b.outputStart % kFrame,
                                 0xFFFFFF,   pick(rng, 0x10000)};
        setBits(bytes, base, b.headerBit + 3,
                static_cast<uint32_t>(sizes[pick(rng, sizeof sizes / sizeof sizes[0])] & 0xFFFFFF),
                24);
        break;
    }
    case 2:
    case 3: // the repeated offsets an uncompressed block loads
        if (b.type == lzxfuzz::Uncompressed) {
            const quint64 at = b.bodyBit / 8 + 4 * pick(rng, 3);
            const uint32_t v = interestingOffset(rng, b.outputStart + b.size, windowBits);
            for (int i = 0; i < 4; ++i) {
                const quint64 p = base + at + static_cast<quint64>(i);
                if (p < static_cast<quint64>(bytes.size()))
                    bytes[static_cast<qsizetype>(p)] = static_cast<char>(v >> (8 * i));
            }
        }
        break;
    case 4: // one length of a pretree
        if (!b.pretreeBits.empty()) {
            const quint64 at = b.pretreeBits[static_cast<size_t>(pick(rng, b.pretreeBits.size()))];
            setBits(bytes, base, at + 4 * pick(rng, 20), static_cast<uint32_t>(pick(rng, 17)), 4);
        }
        break;
    default: // a bit among the main and length trees
        if (b.bodyBit > b.treesBit && b.type != lzxfuzz::Uncompressed) {
            const quint64 at = b.treesBit + pick(rng, b.bodyBit - b.treesBit);
            const quint64 byte = base + at / 16 * 2 + ((15 - at % 16) >= 8 ? 1 : 0);
            if (byte < static_cast<quint64>(bytes.size()))
                bytes[static_cast<qsizetype>(byte)] ^= static_cast<char>(1 << ((15 - at % 16) % 8));
        }
        break;
    }
}

} // namespace

bool replaceLzxInterval(chmcraft::Model& m, quint64 k,
                        const std::function<void(lzxfuzz::IntervalWriter&)>& write) {
    const auto section = locate(m);
    if (!section || k * section->frames.framesPerReset >= section->count)
        return false;
    reemit(m, *section, interval(*section, k), write);
    return true;
}

bool writeSoundLzx(Rng& rng, chmcraft::Model& m) {
    for (quint64 k = 0;; ++k) {
        // Each interval written moves those after it: the section is read again.
        const auto section = locate(m);
        if (!section)
            return k > 0;
        const Section& s = *section;
        if (k * s.frames.framesPerReset >= s.count)
            return true;
        const Interval iv = interval(s, k);
        testsupport::LzxStreamWriter w(s.frames.windowBits, static_cast<int>(iv.frames));
        writeSoundInterval(rng, w, static_cast<qsizetype>(iv.output));
        replaceInterval(m, s, iv, w.stream(), w.frameStarts());
    }
}

bool mutateLzx(Rng& rng, chmcraft::Model& m) {
    const auto section = locate(m);
    if (!section)
        return false;
    const Section& s = *section;
    const quint64 intervals = (s.count + s.frames.framesPerReset - 1) / s.frames.framesPerReset;
    const Interval iv = interval(s, pick(rng, intervals));
    switch (pick(rng, 4)) {
    case 0:
        reemit(m, s, iv,
               [&](lzxfuzz::IntervalWriter& w) { writeInterval(rng, w, s.frames.windowBits); });
        break;
    case 1:
        resync(m, s, iv);
        break;
    default:
        patchBlock(rng, m, s, iv);
        if (pick(rng, 4) != 0)
            resync(m, s, iv);
        break;
    }
    return true;
}

} // namespace fuzz
