// Writes LZX streams as chmlib's decoder reads them, for crafted books and the fuzzer's fresh
// streams: uncompressed blocks with chosen repeated offsets R0..R2, and verbatim and aligned
// offset blocks of literals and matches (repeated or explicit offsets) with simple canonical
// codes. It keeps the decoder's state as it writes (repeated offsets, code lengths for the
// deltas, frames of 0x8000 output bytes, a reset every two frames as in the books `writeLzxChm`
// makes, or as often as asked) and the bytes a sound decoder would produce, so a test can
// compare what the reader gives with them.
//
// Nothing here checks that a stream is sound: hostile streams are what it is for.
#pragma once

#include <QByteArray>
#include <optional>
#include <vector>

namespace testsupport {

// A literal byte, or a match: `slot` 0..2 copies from R0..R2, 3 from offset 1, 4 and up from
// position base(slot) - 2 + `verbatimBits`.
struct LzxToken {
    int literal = -1; // 0..255, or -1 for a match
    int length = 0;
    int slot = 0;
    quint32 verbatimBits = 0;

    static LzxToken byte(char c) { return {static_cast<quint8>(c), 1, 0, 0}; }
    static LzxToken repeated(int r, int length) { return {-1, length, r, 0}; }
    // The explicit match that copies from `offset` (>= 1) bytes back.
    static LzxToken at(quint32 offset, int length);
};

std::vector<LzxToken> lzxLiterals(const QByteArray& text);
std::vector<LzxToken> operator+(std::vector<LzxToken> a, const std::vector<LzxToken>& b);
// `count` bytes: `c`, then copies of it at offset 1 (257 bytes a match).
std::vector<LzxToken> lzxRun(char c, int count);

class LzxStreamWriter {
public:
    static constexpr int kFrame = 0x8000;
    static constexpr int kFramesPerReset = 2;

    explicit LzxStreamWriter(int windowBits = 16, int framesPerReset = kFramesPerReset);

    // An uncompressed block holding `data` and setting R0..R2.
    void uncompressedBlock(const QByteArray& data, quint32 r0, quint32 r1, quint32 r2);
    // A verbatim block of the tokens; its length field says `declaredLength` when given (a
    // block that goes on past what is written), else the tokens' output.
    void verbatimBlock(const std::vector<LzxToken>& tokens,
                       std::optional<quint32> declaredLength = std::nullopt);
    // The same as an aligned offset block: the low three bits of every explicit offset whose
    // slot has three extra bits or more go through the aligned tree (all eight codes 3 bits).
    void alignedBlock(const std::vector<LzxToken>& tokens);

    // Raw pieces, for streams no compressor writes: a block header of any type and length
    // (with the translation header first after a reset), bits, the 20 pretree code lengths this
    // writer uses (deltas 0..11 in 4 bits, 12..16 and the runs 17..19 in 5) and one pretree
    // symbol's code.
    void header(int type, quint32 length) { blockHeader(type, length); }
    // The E8 translation header the next reset point starts with (none unless set).
    void setTranslationSize(quint32 size) { m_translationSize = size; }
    void bits(quint32 value, int count) { putBits(value, count); }
    void pretree();
    void pretreeSymbol(int z);

    // The compressed stream so far, its frames' starts in it, and the output a sound decoder
    // gives (a copy from before the output gives '?').
    QByteArray stream();
    std::vector<quint64> frameStarts() const { return m_frameStarts; }
    std::vector<QByteArray> frames();
    const QByteArray& output() const { return m_output; }
    int windowBits() const { return m_windowBits; }
    // The decoder's state where the stream now ends: R0..R2, and the bytes decoded since the
    // last reset (what a match may reach back into).
    quint32 repeatedOffset(int r) const { return m_r[r]; }
    qsizetype outputSinceReset() const { return m_output.size() - m_resetAt; }

private:
    void putBits(quint32 value, int count);
    void flushBits(bool wholeWordWhenAligned);
    void blockHeader(int type, quint32 length);
    // A verbatim (1) or aligned offset (2) block.
    void treeBlock(int type, const std::vector<LzxToken>& tokens,
                   std::optional<quint32> declaredLength);
    void lengths(std::vector<int>& previous, const std::vector<int>& target, int first, int last);
    void raw(const QByteArray& bytes);
    void emitted();

    int m_windowBits;
    int m_framesPerReset;
    int m_mainElements;
    QByteArray m_bytes;
    std::vector<int> m_bits; // of the words not yet appended
    std::vector<quint64> m_frameStarts{0};
    QByteArray m_output;
    qsizetype m_resetAt = 0;   // output position of the last reset
    bool m_frameEnded = false; // the next bits or bytes start a frame
    bool m_padBeforeHeader = false;
    bool m_headerDue = true;
    std::optional<quint32> m_translationSize;
    quint32 m_r[3] = {1, 1, 1};
    std::vector<int> m_main, m_length; // code lengths since the reset
};

} // namespace testsupport
