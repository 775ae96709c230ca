// The range decision over a crafted LZX section whose reset interval holds a sound frame and a
// hostile one (an uncompressed block loads R1 with 0x7FFFFFFF, and a match copies through it),
// with the reset table listing both frames while the section's length covers only some of
// them. chmlib decodes every frame up to a range's last one whatever that length says, so a
// range reaching a frame past it is refused; ranges inside the replayed frames are decided by
// the replay as before.
#include "LzxRangeSafety.h"
#include "CHMContainerLayout.h"
#include "CHMDocument.h"
#include "LzxFrameCheck.h"
#include "LzxStreamWriter.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

constexpr int kWindowBits = 16;
constexpr quint64 kFrame = LzxStreamWriter::kFrame;

// Frame 0 plain literals; frame 1, in the same reset interval, the hostile match.
LzxStreamWriter soundThenHostileFrame() {
    LzxStreamWriter w(kWindowBits);
    const std::vector<LzxToken> head = lzxLiterals("<html><body><p>first frame</p>");
    w.verbatimBlock(head + lzxRun(' ', static_cast<int>(kFrame) - static_cast<int>(head.size())));
    const QByteArray odd = "<p>second</p>!";
    w.uncompressedBlock(odd, 1, 0x7FFFFFFFu, 1);
    w.verbatimBlock(std::vector<LzxToken>{LzxToken::repeated(1, 64)} +
                    lzxRun('.', static_cast<int>(kFrame) - odd.size() - 64));
    return w;
}

QString writeBook(const QString& file, LzxStreamWriter& w, quint64 sectionLength) {
    const std::vector<ChmObject> objects{
        {"/#SYSTEM", systemFile({{2, QByteArray("index.htm", 10)}})},
        {"/index.htm", {}, 200, 1, 0},
        {"/tail.htm", {}, 400, 1, kFrame - 100}};
    return writeScratchFile(
        file, writeLzxChm(objects, w.stream(), w.frameStarts(), sectionLength, kWindowBits));
}

} // namespace

TEST(LzxRangeSafety, RangesReachingFramesPastTheSectionLengthAreRefused) {
    LzxStreamWriter w = soundThenHostileFrame();
    ASSERT_EQ(w.frameStarts().size(), 2u);
    // The two frames replayed together are refused for the match in frame 1.
    const LzxFrameCheck::Verdict both = LzxFrameCheck::check(w.frames(), kWindowBits);
    EXPECT_FALSE(both.safe);
    EXPECT_EQ(both.frame, 1);

    const struct {
        quint64 sectionLength;
        bool frameOneReplayed;
    } books[] = {{2, false}, {kFrame - 1, false}, {kFrame, false}, {kFrame + 1, true}};
    for (const auto& book : books) {
        const std::string what = "section length " + std::to_string(book.sectionLength);
        const QString path = writeBook(QStringLiteral("lzx-range-%1.chm").arg(book.sectionLength),
                                       w, book.sectionLength);
        QString reason;
        const auto layout = CHMContainerLayout::read(path, &reason);
        ASSERT_TRUE(layout) << what << ": " << reason.toStdString();
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const LzxRangeSafety::ReadAt readAt = [&file](quint64 at, quint64 n) {
            return file.seek(static_cast<qint64>(at)) ? file.read(static_cast<qint64>(n))
                                                      : QByteArray();
        };
        const struct {
            quint64 start, length;
            bool safe;
        } ranges[] = {
            // Inside frame 0: safe unless frame 1 is replayed with it.
            {0, 200, !book.frameOneReplayed},
            // Into frame 1, which chmlib decodes after frame 0 without a reset.
            {kFrame - 100, 400, false},
            {kFrame, 100, false},
            // Past the end of every frame listed, and one whose end does not fit in 64 bits.
            {2 * kFrame, 10, false},
            {~quint64(0) - 10, 20, false},
            // Frame 0 again: an earlier refusal is not kept for it.
            {10, 20, !book.frameOneReplayed},
        };
        LzxRangeSafety safety;
        for (const auto& r : ranges) {
            LzxRangeSafety::Refusal refusal;
            EXPECT_EQ(safety.rangeIsSafe(*layout, r.start, r.length, readAt, &refusal), r.safe)
                << what << ", range at " << r.start << " of " << r.length;
        }
        // The reader never hands out a page that reaches past the section either.
        const auto doc = CHMDocument::open(path);
        ASSERT_NE(doc, nullptr) << what;
        EXPECT_TRUE(doc->content("/tail.htm").isNull()) << what;
        if (book.sectionLength >= 200 && !book.frameOneReplayed)
            EXPECT_EQ(doc->content("/index.htm"), w.output().left(200)) << what;
        else
            EXPECT_TRUE(doc->content("/index.htm").isNull()) << what;
    }
}
