#include "SitemapBytes.h"

#include "SitemapParser.h"

namespace {

// The rest is counted in pieces of this size; a piece starts a few bytes early so that an
// entry start cut by a piece's end is seen in the next one.
constexpr quint64 kCountPiece = 4u << 20;
constexpr qsizetype kEntryStartLength = 4; // "<li" and the byte after it

// Where the last entry that starts in `bytes` begins; -1 when none does.
qsizetype lastEntryStart(const QByteArray& bytes) {
    for (qsizetype i = bytes.lastIndexOf('<'); i >= 0;
         i = i > 0 ? bytes.lastIndexOf('<', i - 1) : -1) {
        if (countSitemapEntries(bytes.mid(i, kEntryStartLength), 0) > 0)
            return i;
    }
    return -1;
}

} // namespace

SitemapBytes readSitemapBytes(const SitemapRangeReader& read, const QString& path, quint64 maxBytes,
                              const std::atomic<bool>* stop) {
    SitemapBytes result;
    // One byte more than the limit tells whether there is more.
    result.head = read(path, 0, maxBytes + 1);
    if (static_cast<quint64>(result.head.size()) <= maxBytes)
        return result;
    result.head.truncate(static_cast<qsizetype>(maxBytes));
    // The entry cut by the limit is left out whole, with every one after it.
    const qsizetype cut = lastEntryStart(result.head);
    if (cut >= 0) {
        result.entriesLeftOut = countSitemapEntries(result.head, cut);
        result.head.truncate(cut);
    }
    result.head.squeeze();
    for (quint64 from = maxBytes - kEntryStartLength + 1; !(stop && stop->load());) {
        const QByteArray piece = read(path, from, kCountPiece);
        if (piece.size() < kEntryStartLength)
            break;
        // A start is counted where its four bytes are all seen: the overlap holds only the
        // starts the previous piece (or the head) could not see whole.
        result.entriesLeftOut += countSitemapEntries(piece, 0);
        if (static_cast<quint64>(piece.size()) < kCountPiece)
            break;
        from += kCountPiece - kEntryStartLength + 1;
    }
    return result;
}
