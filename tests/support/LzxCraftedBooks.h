// Books whose LZX section is written by LzxStreamWriter: hostile ones whose decoding would make
// chmlib copy from outside what it decoded (repeated offsets loaded by an uncompressed block,
// explicit offsets, matches past their frame) or read input past a frame, and a sound one that
// uses repeated offsets the way a compressor does. Each book has "/index.htm" in its LZX section
// and a contents file naming it.
#pragma once

#include "LzxStreamWriter.h"

#include <QByteArray>
#include <QString>
#include <vector>

namespace testsupport {

struct LzxCraftedBook {
    QString what;                      // the case, for messages
    QString path;                      // written to the scratch folder
    std::vector<QByteArray> frames;    // of the first reset interval, as the reader checks them
    QByteArray output;                 // what a sound decoder gives (the sound book)
    const char* reason = "";           // why LzxFrameCheck refuses it (hostile books)
    std::vector<QByteArray> pageNames; // the LZX section's pages
};

// Text every page of these books starts with: a hostile page must never show it.
inline constexpr const char* kLzxCanary = "lzxcanary";

std::vector<LzxCraftedBook> hostileLzxBooks();
LzxCraftedBook soundLzxBook();
// A hostile "/index.htm" in the LZX section and two uncompressed pages, "/first.htm" and
// "/last.htm", the contents listing the three in that order: the book opens and reads, but for
// its first page.
LzxCraftedBook partlyUnreadableLzxBook();

} // namespace testsupport
