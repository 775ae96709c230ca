#include "LzxCraftedBooks.h"

#include "TestChmWriter.h"
#include "TestSupport.h"

namespace testsupport {

namespace {

constexpr int kWindowBits = 16;
constexpr quint32 kWindow = 1u << kWindowBits;
constexpr int kFrame = LzxStreamWriter::kFrame;

const char* const kReadPastEnd = "would be read past its end";
const char* const kCopyBeforeStart = "copies from before the bytes decoded since the reset";
const char* const kMatchOverrun = "has a match that runs past its block or frame";

int lengthOf(const std::vector<LzxToken>& tokens) {
    int n = 0;
    for (const LzxToken& t : tokens)
        n += t.length;
    return n;
}

// The page's opening, odd in length so that the uncompressed block carrying it ends on a pad
// byte.
QByteArray pageHead() {
    return QByteArray("<html><body><p>") + kLzxCanary + "</p>\n";
}

struct Page {
    QByteArray name;
    quint64 offset;
    quint64 length;
};

// The contents list the LZX section's pages, then the uncompressed ones of `plain`.
QString writeBook(const QString& file, LzxStreamWriter& w, const std::vector<Page>& pages,
                  const std::vector<ChmObject>& plain = {}) {
    QByteArray hhc = "<html><body><ul>\n";
    std::vector<QByteArray> names;
    for (const Page& p : pages)
        names.push_back(p.name);
    for (const ChmObject& o : plain)
        names.push_back(o.name);
    for (const QByteArray& name : names)
        hhc += "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"" + name.mid(1) +
               "\"><param name=\"Local\" value=\"" + name.mid(1) + "\"></object>\n";
    std::vector<ChmObject> objects{{"/#SYSTEM", systemFile({{0, QByteArray("toc.hhc", 8)},
                                                            {2, QByteArray("index.htm", 10)},
                                                            {3, QByteArray("LZX book", 9)}})},
                                   {"/toc.hhc", hhc + "</ul></body></html>\n"}};
    objects.insert(objects.end(), plain.begin(), plain.end());
    for (const Page& p : pages)
        objects.push_back({p.name, {}, p.length, 1, p.offset});
    const QByteArray stream = w.stream();
    const quint64 length = static_cast<quint64>(w.frameStarts().size()) * kFrame;
    return writeScratchFile(file,
                            writeLzxChm(objects, stream, w.frameStarts(), length, w.windowBits()));
}

LzxCraftedBook book(const QString& what, const QString& file, LzxStreamWriter& w,
                    const char* reason) {
    LzxCraftedBook b;
    b.what = what;
    b.reason = reason;
    b.frames = w.frames();
    b.output = w.output();
    b.pageNames = {"/index.htm"};
    b.path = writeBook(file, w, {{"/index.htm", 0, 200}});
    return b;
}

// An uncompressed block with the page's head and the registers given, then a verbatim block
// whose first match copies through register `r`, the rest of the frame filled.
LzxStreamWriter registerStream(int r, quint32 value) {
    LzxStreamWriter w(kWindowBits);
    quint32 regs[3] = {1, 1, 1};
    regs[r] = value;
    w.uncompressedBlock(pageHead(), regs[0], regs[1], regs[2]);
    std::vector<LzxToken> tokens =
        std::vector<LzxToken>{LzxToken::repeated(r, 64)} + lzxLiterals("</body></html>");
    tokens = tokens + lzxRun(' ', kFrame - pageHead().size() - lengthOf(tokens));
    w.verbatimBlock(tokens);
    return w;
}

LzxCraftedBook registerBook(int r, quint32 value, const QString& what) {
    LzxStreamWriter w = registerStream(r, value);
    return book(what, QStringLiteral("lzx-r%1-%2.chm").arg(r).arg(value), w, kCopyBeforeStart);
}

// One frame of plain literals and fill, as a compressor would write it. It ends in line feeds,
// the main tree's first symbol, whose code is all zero bits: a decoder that reads zeros past the
// frame decodes the same, chmlib's decoder reads what its buffer holds there.
LzxStreamWriter plainFrame() {
    LzxStreamWriter w(kWindowBits);
    const std::vector<LzxToken> head = lzxLiterals(pageHead() + "<p>plain</p></body></html>");
    const std::vector<LzxToken> tail = lzxLiterals(QByteArray(12, '\n'));
    w.verbatimBlock(head + lzxRun(' ', kFrame - lengthOf(head) - lengthOf(tail)) + tail);
    return w;
}

} // namespace

std::vector<LzxCraftedBook> hostileLzxBooks() {
    std::vector<LzxCraftedBook> books;
    const quint32 written = static_cast<quint32>(pageHead().size());
    for (int r = 0; r < 3; ++r) {
        const QString reg = QStringLiteral("R%1").arg(r);
        books.push_back(registerBook(r, 0x80000000u, reg + " = 0x80000000"));
        books.push_back(registerBook(r, kWindow + 64, reg + " = the window + 64"));
        books.push_back(registerBook(r, 64, reg + " = 64, past the bytes written"));
        books.push_back(registerBook(r, written + 1, reg + " = one past the bytes written"));
        books.push_back(registerBook(r, 0, reg + " = 0, the byte being written"));
    }
    {
        LzxStreamWriter w(kWindowBits);
        const std::vector<LzxToken> tokens =
            lzxLiterals(pageHead()) + std::vector<LzxToken>{LzxToken::at(100, 8)};
        w.verbatimBlock(tokens + lzxRun(' ', kFrame - lengthOf(tokens)));
        books.push_back(book(QStringLiteral("explicit offset past the bytes written"),
                             QStringLiteral("lzx-explicit.chm"), w, kCopyBeforeStart));
    }
    {
        // The block goes on past the frame; its last match crosses the frame's end.
        LzxStreamWriter w(kWindowBits);
        const std::vector<LzxToken> head = lzxLiterals(pageHead());
        const std::vector<LzxToken> tokens = head + lzxRun(' ', kFrame - 4 - lengthOf(head)) +
                                             std::vector<LzxToken>{LzxToken::at(1, 10)};
        w.verbatimBlock(tokens, kFrame + 100);
        books.push_back(book(QStringLiteral("match past the frame"),
                             QStringLiteral("lzx-past-frame.chm"), w, kMatchOverrun));
    }
    {
        // A block that says 96 bytes ends in a match to byte 100; the next block fills the frame.
        LzxStreamWriter w(kWindowBits);
        const std::vector<LzxToken> head = lzxLiterals(pageHead());
        w.verbatimBlock(head + lzxRun(' ', 100 - lengthOf(head)), 96);
        w.verbatimBlock(lzxRun('.', kFrame - 100));
        books.push_back(book(QStringLiteral("match past its block"),
                             QStringLiteral("lzx-past-block.chm"), w, kMatchOverrun));
    }
    {
        // The frame's last word cut off: its codes end in bytes chmlib's buffer holds garbage in.
        LzxStreamWriter w = plainFrame();
        LzxCraftedBook b;
        b.what = QStringLiteral("codes ending in the look-ahead");
        b.reason = kReadPastEnd;
        b.frames = {w.frames().front().chopped(2)};
        b.pageNames = {"/index.htm"};
        const QByteArray stream = w.stream().chopped(2);
        std::vector<ChmObject> objects{{"/#SYSTEM", systemFile({{2, QByteArray("index.htm", 10)}})},
                                       {"/index.htm", {}, 200, 1, 0}};
        b.path = writeScratchFile("lzx-lookahead.chm",
                                  writeLzxChm(objects, stream, {0}, kFrame, kWindowBits));
        books.push_back(b);
    }
    {
        // A second block listed two bytes before the stream's end: chmlib measures the first
        // block up to it, so the frame's last word is not in what chmlib reads.
        LzxStreamWriter w = plainFrame();
        LzxCraftedBook b;
        b.what = QStringLiteral("a block ending where the reset table says");
        b.reason = kReadPastEnd;
        const QByteArray stream = w.stream();
        b.frames = {stream.chopped(2)};
        b.pageNames = {"/index.htm"};
        std::vector<ChmObject> objects{{"/#SYSTEM", systemFile({{2, QByteArray("index.htm", 10)}})},
                                       {"/index.htm", {}, 200, 1, 0}};
        b.path = writeScratchFile("lzx-listed-block.chm",
                                  writeLzxChm(objects, stream,
                                              {0, static_cast<quint64>(stream.size() - 2)}, kFrame,
                                              kWindowBits));
        books.push_back(b);
    }
    return books;
}

LzxCraftedBook partlyUnreadableLzxBook() {
    LzxStreamWriter w = registerStream(0, 64);
    LzxCraftedBook b;
    b.what = QStringLiteral("one page of three that cannot be read");
    b.reason = kCopyBeforeStart;
    b.frames = w.frames();
    b.pageNames = {"/index.htm"};
    b.path = writeBook("lzx-partly-unreadable.chm", w, {{"/index.htm", 0, 200}},
                       {{"/first.htm", "<html><body><p>First readable page</p></body></html>"},
                        {"/last.htm", "<html><body><p>Last readable page</p></body></html>"}});
    return b;
}

LzxCraftedBook soundLzxBook() {
    LzxStreamWriter w(kWindowBits);
    // Frame 0: an uncompressed head that sets the registers, then matches through each of them
    // and through an explicit offset, which shuffle them.
    const QByteArray head = pageHead() + "<p>abcdef";
    w.uncompressedBlock(head, 6, 3, 2);
    std::vector<LzxToken> first = {LzxToken::repeated(0, 6), LzxToken::repeated(1, 3),
                                   LzxToken::repeated(2, 4), LzxToken::at(25, 5),
                                   LzxToken::repeated(1, 4), LzxToken::repeated(0, 9),
                                   LzxToken::repeated(2, 12)};
    first = first + lzxLiterals("</p>");
    first = first + lzxRun('-', kFrame - head.size() - lengthOf(first));
    // ...and on into frame 1 in the same block: the registers carry over.
    const std::vector<LzxToken> second =
        lzxLiterals("<p>second ") + std::vector<LzxToken>{LzxToken::at(0x8000 - 3, 20),
                                                          LzxToken::repeated(1, 2),
                                                          LzxToken::repeated(1, 7)};
    w.verbatimBlock(first + second);
    // An odd uncompressed block whose registers reach back into frame 0, used at once.
    const QByteArray odd = "<p>odd</p>";
    w.uncompressedBlock(odd + "!", kFrame + 40, 7, 300);
    std::vector<LzxToken> third = {LzxToken::repeated(0, 12), LzxToken::repeated(2, 30),
                                   LzxToken::repeated(1, 3), LzxToken::repeated(0, 8)};
    third = third + lzxRun('=', 2 * kFrame - static_cast<int>(w.output().size()) - lengthOf(third));
    w.verbatimBlock(third);
    // Frame 2, after the reset: the registers are 1 again and matches reach back only to it.
    std::vector<LzxToken> fourth =
        lzxLiterals("<html><body>third page") + std::vector<LzxToken>{LzxToken::repeated(0, 5),
                                                                      LzxToken::at(10, 6),
                                                                      LzxToken::repeated(1, 3)};
    fourth = fourth + lzxLiterals("</body></html>");
    fourth = fourth + lzxRun(' ', kFrame - lengthOf(fourth));
    w.verbatimBlock(fourth);

    LzxCraftedBook b;
    b.what = QStringLiteral("repeated offsets used soundly");
    b.frames = w.frames();
    b.output = w.output();
    b.pageNames = {"/index.htm", "/second.htm", "/third.htm"};
    b.path = writeBook("lzx-sound.chm", w,
                       {{"/index.htm", 0, 200},
                        {"/second.htm", kFrame - 100, 400},
                        {"/third.htm", 2 * kFrame, 300}});
    return b;
}

} // namespace testsupport
