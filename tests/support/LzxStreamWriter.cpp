#include "LzxStreamWriter.h"

#include <algorithm>
#include <array>
#include <set>

namespace testsupport {

namespace {

constexpr std::array<int, 51> kExtraBits = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,
                                            5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10, 11, 11,
                                            12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 17,
                                            17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17, 17};

quint32 positionBase(int slot) {
    quint32 base = 0;
    for (int s = 0; s < slot; ++s)
        base += 1u << kExtraBits[static_cast<size_t>(s)];
    return base;
}

// A complete prefix code over the used symbols (two at least: a lone symbol is padded with
// another), as short as it gets.
std::vector<int> completeLengths(std::set<int> used, int symbols) {
    for (int s = 0; used.size() < 2; ++s)
        used.insert(s);
    const int n = static_cast<int>(used.size());
    int k = 0;
    while ((1 << k) < n)
        ++k;
    int shorter = (1 << k) - n;
    std::vector<int> lengths(static_cast<size_t>(symbols), 0);
    for (int s : used)
        lengths[static_cast<size_t>(s)] = shorter-- > 0 ? k - 1 : k;
    return lengths;
}

// Canonical codes as the decoder assigns them: by length, then by symbol.
std::vector<std::pair<quint32, int>> canonical(const std::vector<int>& lengths) {
    std::vector<std::pair<quint32, int>> out(lengths.size(), {0, 0});
    quint32 code = 0;
    int previous = 0;
    for (int len = 1; len <= 16; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] != len)
                continue;
            code <<= (len - previous);
            previous = len;
            out[s] = {code++, len};
        }
    }
    return out;
}

int mainSymbol(const LzxToken& t) {
    return t.literal >= 0 ? t.literal : 256 + t.slot * 8 + std::min(t.length - 2, 7);
}

} // namespace

LzxToken LzxToken::at(quint32 offset, int length) {
    if (offset <= 1)
        return {-1, length, 3, 0};
    const quint32 v = offset + 2;
    int slot = 4;
    while (slot < 50 && positionBase(slot + 1) <= v)
        ++slot;
    return {-1, length, slot, v - positionBase(slot)};
}

std::vector<LzxToken> lzxLiterals(const QByteArray& text) {
    std::vector<LzxToken> out;
    for (char c : text)
        out.push_back(LzxToken::byte(c));
    return out;
}

std::vector<LzxToken> operator+(std::vector<LzxToken> a, const std::vector<LzxToken>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<LzxToken> lzxRun(char c, int count) {
    std::vector<LzxToken> out;
    if (count <= 0)
        return out;
    out.push_back(LzxToken::byte(c));
    int rest = count - 1;
    while (rest > 0) {
        if (rest == 1) {
            out.push_back(LzxToken::byte(c));
            break;
        }
        int m = std::min(rest, 257);
        if (rest - m == 1)
            --m;
        out.push_back(LzxToken::at(1, m));
        rest -= m;
    }
    return out;
}

LzxStreamWriter::LzxStreamWriter(int windowBits, int framesPerReset)
    : m_windowBits(windowBits), m_framesPerReset(framesPerReset),
      m_mainElements(256 + 8 * (windowBits == 20   ? 42
                                : windowBits == 21 ? 50
                                                   : windowBits * 2)),
      m_main(static_cast<size_t>(m_mainElements), 0), m_length(249, 0) {}

void LzxStreamWriter::putBits(quint32 value, int count) {
    if (m_frameEnded) {
        m_frameEnded = false;
        m_frameStarts.push_back(static_cast<quint64>(m_bytes.size()));
    }
    for (int i = count - 1; i >= 0; --i)
        m_bits.push_back(static_cast<int>((value >> i) & 1));
}

// Appends the pending bits as words. Before an uncompressed block's raw bytes the decoder skips
// to the next word, and a whole word when it is already at one.
void LzxStreamWriter::flushBits(bool wholeWordWhenAligned) {
    if (wholeWordWhenAligned && m_bits.size() % 16 == 0)
        m_bits.insert(m_bits.end(), 16, 0);
    while (m_bits.size() % 16)
        m_bits.push_back(0);
    for (size_t w = 0; w < m_bits.size(); w += 16) {
        quint32 v = 0;
        for (size_t i = 0; i < 16; ++i)
            v = (v << 1) | static_cast<quint32>(m_bits[w + i]);
        m_bytes.append(static_cast<char>(v & 0xFF));
        m_bytes.append(static_cast<char>(v >> 8));
    }
    m_bits.clear();
}

void LzxStreamWriter::raw(const QByteArray& bytes) {
    if (m_frameEnded) {
        m_frameEnded = false;
        m_frameStarts.push_back(static_cast<quint64>(m_bytes.size()));
    }
    m_bytes += bytes;
}

void LzxStreamWriter::blockHeader(int type, quint32 length) {
    if (m_padBeforeHeader) {
        raw(QByteArray(1, '\0'));
        m_padBeforeHeader = false;
    }
    if (m_headerDue) {
        putBits(m_translationSize ? 1 : 0, 1);
        if (m_translationSize) {
            putBits(*m_translationSize >> 16, 16);
            putBits(*m_translationSize & 0xFFFF, 16);
        }
        m_headerDue = false;
    }
    putBits(static_cast<quint32>(type), 3);
    putBits(length >> 8, 16);
    putBits(length & 0xFF, 8);
}

static std::vector<int> pretreeLengths() {
    std::vector<int> pre(20, 0);
    for (int i = 0; i < 20; ++i)
        pre[static_cast<size_t>(i)] = i < 12 ? 4 : 5;
    return pre;
}

void LzxStreamWriter::pretree() {
    for (int l : pretreeLengths())
        putBits(static_cast<quint32>(l), 4);
}

void LzxStreamWriter::pretreeSymbol(int z) {
    static const auto codes = canonical(pretreeLengths());
    putBits(codes[static_cast<size_t>(z)].first, codes[static_cast<size_t>(z)].second);
}

// Every length on its own, as a delta against the one before; no runs.
void LzxStreamWriter::lengths(std::vector<int>& previous, const std::vector<int>& target, int first,
                              int last) {
    pretree();
    for (int x = first; x < last; ++x) {
        const size_t i = static_cast<size_t>(x);
        pretreeSymbol((previous[i] - target[i] + 17) % 17);
        previous[i] = target[i];
    }
}

// Output grew: a frame that is full ends its bits on a word; every second one resets the
// decoder (repeated offsets, code lengths, what matches may reach).
void LzxStreamWriter::emitted() {
    const qsizetype frameEnd = static_cast<qsizetype>(m_frameStarts.size()) * kFrame;
    if (m_frameEnded || m_output.size() < frameEnd)
        return;
    flushBits(false);
    m_frameEnded = true;
    if (m_frameStarts.size() % static_cast<size_t>(m_framesPerReset) == 0) {
        m_resetAt = m_output.size();
        m_r[0] = m_r[1] = m_r[2] = 1;
        std::fill(m_main.begin(), m_main.end(), 0);
        std::fill(m_length.begin(), m_length.end(), 0);
        m_headerDue = true;
        m_padBeforeHeader = false;
    }
}

void LzxStreamWriter::uncompressedBlock(const QByteArray& data, quint32 r0, quint32 r1,
                                        quint32 r2) {
    blockHeader(3, static_cast<quint32>(data.size()));
    flushBits(true);
    QByteArray regs;
    for (quint32 r : {r0, r1, r2}) {
        for (int i = 0; i < 4; ++i)
            regs.append(static_cast<char>((r >> (8 * i)) & 0xFF));
    }
    raw(regs);
    m_r[0] = r0;
    m_r[1] = r1;
    m_r[2] = r2;
    for (qsizetype at = 0; at < data.size();) {
        const qsizetype frameEnd = static_cast<qsizetype>(m_frameStarts.size()) * kFrame;
        const qsizetype room = m_frameEnded ? kFrame : frameEnd - m_output.size();
        const QByteArray part = data.mid(at, std::min(room, data.size() - at));
        raw(part);
        m_output += part;
        at += part.size();
        emitted();
    }
    m_padBeforeHeader = data.size() & 1;
}

void LzxStreamWriter::verbatimBlock(const std::vector<LzxToken>& tokens,
                                    std::optional<quint32> declaredLength) {
    treeBlock(1, tokens, declaredLength);
}

void LzxStreamWriter::alignedBlock(const std::vector<LzxToken>& tokens) {
    treeBlock(2, tokens, std::nullopt);
}

void LzxStreamWriter::treeBlock(int type, const std::vector<LzxToken>& tokens,
                                std::optional<quint32> declaredLength) {
    std::set<int> mainUsed, footersUsed;
    quint32 produced = 0;
    for (const LzxToken& t : tokens) {
        mainUsed.insert(mainSymbol(t));
        if (t.literal < 0 && t.length - 2 >= 7)
            footersUsed.insert(t.length - 9);
        produced += static_cast<quint32>(t.length);
    }
    const std::vector<int> mainLengths = completeLengths(mainUsed, m_mainElements);
    const std::vector<int> lengthLengths =
        footersUsed.empty() ? std::vector<int>(249, 0) : completeLengths(footersUsed, 249);
    blockHeader(type, declaredLength.value_or(produced));
    // Eight aligned codes of three bits each: the code of a symbol is the symbol itself.
    if (type == 2) {
        for (int i = 0; i < 8; ++i)
            putBits(3, 3);
    }
    lengths(m_main, mainLengths, 0, 256);
    lengths(m_main, mainLengths, 256, m_mainElements);
    lengths(m_length, lengthLengths, 0, 249);
    const auto mainCodes = canonical(mainLengths), lengthCodes = canonical(lengthLengths);
    for (const LzxToken& t : tokens) {
        const auto& [code, bits] = mainCodes[static_cast<size_t>(mainSymbol(t))];
        putBits(code, bits);
        if (t.literal >= 0) {
            m_output.append(static_cast<char>(t.literal));
            emitted();
            continue;
        }
        if (t.length - 2 >= 7) {
            const auto& [lcode, lbits] = lengthCodes[static_cast<size_t>(t.length - 9)];
            putBits(lcode, lbits);
        }
        quint32 offset = 0;
        if (t.slot >= 3) {
            const int extra = t.slot >= 4 ? kExtraBits[static_cast<size_t>(t.slot)] : 0;
            if (type == 2 && extra >= 3) {
                putBits(t.verbatimBits >> 3, extra - 3);
                putBits(t.verbatimBits & 7, 3);
            } else if (extra > 0) {
                putBits(t.verbatimBits, extra);
            }
            offset = t.slot == 3 ? 1 : positionBase(t.slot) - 2 + t.verbatimBits;
            m_r[2] = m_r[1];
            m_r[1] = m_r[0];
            m_r[0] = offset;
        } else {
            offset = m_r[t.slot];
            if (t.slot > 0) {
                m_r[t.slot] = m_r[0];
                m_r[0] = offset;
            }
        }
        for (int i = 0; i < t.length; ++i) {
            const qsizetype from = m_output.size() - static_cast<qsizetype>(offset);
            m_output.append(offset > 0 && from >= m_resetAt ? m_output.at(from) : '?');
        }
        emitted();
    }
}

QByteArray LzxStreamWriter::stream() {
    if (!m_bits.empty())
        flushBits(false);
    return m_bytes;
}

std::vector<QByteArray> LzxStreamWriter::frames() {
    const QByteArray all = stream();
    std::vector<QByteArray> out;
    for (size_t i = 0; i < m_frameStarts.size(); ++i) {
        const quint64 end =
            i + 1 < m_frameStarts.size() ? m_frameStarts[i + 1] : static_cast<quint64>(all.size());
        out.push_back(all.mid(static_cast<qsizetype>(m_frameStarts[i]),
                              static_cast<qsizetype>(end - m_frameStarts[i])));
    }
    return out;
}

} // namespace testsupport
