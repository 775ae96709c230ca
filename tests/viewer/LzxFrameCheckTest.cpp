// LZX streams that make chmlib copy from outside what it decoded (repeated offsets loaded by an
// uncompressed block, explicit offsets, matches past their frame) or decode bytes past a frame:
// LzxFrameCheck refuses each for its reason, the reader's pages from them read as missing with
// a log line, and a stream that uses repeated offsets soundly still reads byte for byte.
#include "LzxFrameCheck.h"
#include "CHMDocument.h"
#include "ITSSProtocol.h"
#include "LzxCraftedBooks.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QMutex>
#include <functional>
#include <gtest/gtest.h>
#include <map>

using namespace testsupport;

TEST(LzxFrameCheck, EveryHostileStreamIsRefusedInItsFirstFrameForItsReason) {
    for (const LzxCraftedBook& b : hostileLzxBooks()) {
        const LzxFrameCheck::Verdict v = LzxFrameCheck::check(b.frames, 16);
        EXPECT_FALSE(v.safe) << b.what.toStdString();
        EXPECT_EQ(v.frame, 0) << b.what.toStdString();
        EXPECT_STREQ(v.reason, b.reason) << b.what.toStdString();
        EXPECT_FALSE(LzxFrameCheck::framesAreSafe(b.frames, 16)) << b.what.toStdString();
    }
}

TEST(LzxFrameCheck, RepeatedOffsetsUsedSoundlyAcrossFramesAndResetsAreAccepted) {
    const LzxCraftedBook sound = soundLzxBook();
    ASSERT_EQ(sound.frames.size(), 3u);
    // Frames 0 and 1 share a reset interval; frame 2 starts the next.
    EXPECT_TRUE(LzxFrameCheck::framesAreSafe({sound.frames[0], sound.frames[1]}, 16));
    EXPECT_TRUE(LzxFrameCheck::framesAreSafe({sound.frames[2]}, 16));
}

TEST(LzxCraftedBook, HostilePagesReadAsMissingEveryTimeAndTheReasonIsLogged) {
    for (const LzxCraftedBook& b : hostileLzxBooks()) {
        // The checks run in the book's reading process, whose lines reach the reader's log.
        StandardErrorCapture log;
        QString error;
        auto doc = CHMDocument::open(b.path, &error);
        ASSERT_NE(doc, nullptr) << b.what.toStdString() << ": " << error.toStdString();
        for (int attempt = 0; attempt < 2; ++attempt)
            EXPECT_TRUE(doc->content("/index.htm").isNull()) << b.what.toStdString();
        // The reader's scheme handler answers with its own page for a missing one.
        const ITSSResponse r =
            ITSSProtocol::startLoading(QUrl("itss://chm/index.htm"), doc.get(), "CP1252", false);
        EXPECT_TRUE(r.ok && r.isMissingPage) << b.what.toStdString();
        EXPECT_FALSE(r.bytes.contains(kLzxCanary)) << b.what.toStdString();
        // Everything the process wrote has been logged once it is gone.
        doc.reset();
        const QString lines = QString::fromUtf8(log.bytes());
        EXPECT_TRUE(lines.contains(QFileInfo(b.path).fileName())) << lines.toStdString();
        EXPECT_TRUE(lines.contains(QLatin1String(b.reason)))
            << b.what.toStdString() << ": " << lines.toStdString();
    }
}

TEST(LzxCraftedBook, PagesOfASoundStreamWithRepeatedOffsetsReadByteForByte) {
    const LzxCraftedBook sound = soundLzxBook();
    const auto doc = CHMDocument::open(sound.path);
    ASSERT_NE(doc, nullptr);
    const struct {
        const char* name;
        qsizetype offset, length;
    } pages[] = {
        {"/index.htm", 0, 200}, {"/second.htm", 0x8000 - 100, 400}, {"/third.htm", 0x10000, 300}};
    for (const auto& p : pages) {
        const QByteArray bytes = doc->content(p.name);
        EXPECT_EQ(bytes, sound.output.mid(p.offset, p.length)) << p.name;
        EXPECT_FALSE(bytes.contains('?')) << p.name; // no copy from before the output
    }
    EXPECT_TRUE(doc->content("/index.htm").startsWith(QByteArray("<html><body><p>") + kLzxCanary));
    const ITSSResponse r =
        ITSSProtocol::startLoading(QUrl("itss://chm/second.htm"), doc.get(), "CP1252", false);
    EXPECT_TRUE(r.ok && !r.isMissingPage);
    EXPECT_EQ(r.bytes, sound.output.mid(0x8000 - 100, 400));
}

namespace {

constexpr const char* kRejected = "is not valid LZX data";
constexpr const char* kReadPastEnd = "would be read past its end";

// A verbatim block header whose code lengths are given as pretree symbols: the main tree's
// 256 + 256 and the length tree's 249 (a 64 KiB window), zero deltas where none is given.
void lengthsAsGiven(LzxStreamWriter& w, const std::map<int, int>& mainDeltas) {
    w.header(1, 0x8000);
    for (const auto& [first, last] : {std::pair{0, 256}, std::pair{256, 512}}) {
        w.pretree();
        for (int x = first; x < last; ++x)
            w.pretreeSymbol(mainDeltas.count(x) ? mainDeltas.at(x) : 0);
    }
    w.pretree();
    for (int x = 0; x < 249; ++x)
        w.pretreeSymbol(0);
}

} // namespace

TEST(LzxFrameCheck, StreamsTheDecoderRejectsOrReadsPastTheFrameAreRefused) {
    struct Case {
        const char* what;
        std::function<QByteArray()> frame;
        const char* reason;
    };
    const auto withHeader = [](int type) {
        return [type] {
            LzxStreamWriter w;
            w.header(type, 0x8000);
            w.bits(0, 16);
            return w.stream() + QByteArray(64, '\0');
        };
    };
    // Deltas from zero: 16 makes a length 1, 15 a length 2.
    const Case cases[] = {
        {"block type 0", withHeader(0), kRejected},
        {"block type 4", withHeader(4), kRejected},
        {"block type 7", withHeader(7), kRejected},
        {"a main tree of one code",
         [] {
             LzxStreamWriter w;
             lengthsAsGiven(w, {{'a', 16}});
             return w.stream() + QByteArray(64, '\0');
         },
         kRejected},
        {"an over-full main tree",
         [] {
             LzxStreamWriter w;
             lengthsAsGiven(w, {{'a', 16}, {'b', 16}, {'c', 16}});
             return w.stream() + QByteArray(64, '\0');
         },
         kRejected},
        {"an incomplete aligned tree",
         [] {
             LzxStreamWriter w;
             w.header(2, 0x8000);
             w.bits(1, 3);
             for (int i = 1; i < 8; ++i)
                 w.bits(0, 3);
             return w.stream() + QByteArray(4096, '\0');
         },
         kRejected},
        {"an uncompressed block longer than its bytes",
         [] {
             LzxStreamWriter w;
             w.uncompressedBlock(QByteArray(0x8000, 'x'), 1, 1, 1);
             return w.frames().front().left(200);
         },
         kReadPastEnd},
        {"repeated offsets cut off",
         [] {
             LzxStreamWriter w;
             w.uncompressedBlock(QByteArray(0x8000, 'x'), 1, 1, 1);
             return w.frames().front().left(10);
         },
         kReadPastEnd},
    };
    for (const Case& c : cases) {
        const LzxFrameCheck::Verdict v = LzxFrameCheck::check({c.frame()}, 16);
        EXPECT_FALSE(v.safe) << c.what;
        EXPECT_STREQ(v.reason, c.reason) << c.what;
    }
}

TEST(LzxFrameCheck, CodeLengthsRunPastTheMainTreeIntoSymbolsTheDecoderStillDecodes) {
    // A run of five code lengths at symbol 508 of 512 also gives symbols 512 and up a length:
    // the decoder keeps them in its table's slack and decodes them (symbol 512 is a match from
    // position slot 32, 65534 bytes back or more). The check follows it: the tree is complete,
    // and that match is what gets the frame refused.
    LzxStreamWriter run;
    run.header(1, 0x8000);
    run.pretree();
    for (int x = 0; x < 256; ++x)
        run.pretreeSymbol(x == 'a' ? 15 : x == 'b' ? 14 : 0); // 'a' 2 bits, 'b' 3 bits
    run.pretree();
    for (int x = 256; x < 508; ++x)
        run.pretreeSymbol(0);
    run.pretreeSymbol(19); // a run of the same length...
    run.bits(1, 1);        // ...five times...
    run.pretreeSymbol(14); // ...of 3 bits: symbols 508 to 512
    run.pretree();
    for (int x = 0; x < 249; ++x)
        run.pretreeSymbol(0);
    run.bits(0b00, 2);  // 'a'
    run.bits(0b111, 3); // symbol 512, the last code of 3 bits
    run.bits(0, 15);    // its position bits
    const LzxFrameCheck::Verdict v =
        LzxFrameCheck::check({run.stream() + QByteArray(4096, '\0')}, 16);
    EXPECT_FALSE(v.safe);
    EXPECT_STREQ(v.reason, "copies from before the bytes decoded since the reset");
}

TEST(LzxCraftedBook, AnyE8TranslationSizeIsReadAsIs) {
    // The size only bounds values the decoder compares inside its own output, so no size is a
    // reason to refuse a frame; a page without E8 bytes reads unchanged.
    for (const quint32 size : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        LzxStreamWriter w;
        w.setTranslationSize(size);
        const QByteArray page = "<html><body><p>translated</p></body></html>";
        w.verbatimBlock(lzxLiterals(page) + lzxRun(' ', 0x8000 - page.size()));
        ASSERT_TRUE(LzxFrameCheck::framesAreSafe(w.frames(), 16)) << size;
        const QByteArray stream = w.stream();
        const QString path = writeScratchFile(
            "lzx-e8.chm", writeLzxChm({{"/index.htm", {}, 0x8000, 1, 0}}, stream, {0}, 0x8000, 16));
        const auto doc = CHMDocument::open(path);
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(doc->content("/index.htm"), w.output()) << size;
    }
}
