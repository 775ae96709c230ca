// The LZX tools of the fuzzing: the interval writer and the stream walk must agree with each
// other and with the real decoders (chmlib through the document, libmspack through the lzx
// target), the walk must see matches that copy from outside the decoded data, and the LZX
// mutation must reach the repeated-offset values that make chmlib do so.
#include "CHMContainerLayout.h"
#include "CHMDocument.h"
#include "ChmContainerModel.h"
#include "ContainerMutator.h"
#include "FuzzTargets.h"
#include "LzxMutator.h"
#include "LzxWalk.h"
#include "LzxWriter.h"
#include "TestSupport.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testsupport;
using lzxfuzz::IntervalWriter;
using lzxfuzz::Item;

namespace {

constexpr uint32_t kFrame = 0x8000;

std::vector<Item> literals(int n, uint8_t from = 'a') {
    std::vector<Item> items;
    for (int i = 0; i < n; ++i)
        items.push_back({false, static_cast<uint8_t>(from + i % 26), 0, 2});
    return items;
}

// Fills what is left of the interval with repeats of the byte before (matches at offset 1:
// small streams, so that the files stay below the fuzzer's input size).
void fill(IntervalWriter& w) {
    while (w.left() > 0)
        w.verbatim(
            std::vector<Item>(std::min<uint64_t>(w.left() / 8 + 1, 5000), Item{true, 0, 3, 8}));
}

std::optional<CHMContainerLayout> layoutOf(const QByteArray& file) {
    QString reason;
    return CHMContainerLayout::parse(
        file.left(0x60), static_cast<quint64>(file.size()),
        [&file](quint64 at, quint64 length) {
            return file.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(length));
        },
        &reason);
}

// The sample book with reset interval 0 written by `write`.
QByteArray sampleWith(const std::function<void(IntervalWriter&)>& write) {
    auto model = chmcraft::parse(readWholeFile(fixturePath("sample")));
    if (!model || !fuzz::replaceLzxInterval(*model, 0, write))
        return {};
    return chmcraft::write(*model);
}

// An uncompressed block of 10 bytes loading R0, then a verbatim block whose first match uses
// R0, then literals.
void repeatedOffsetAfterTenBytes(IntervalWriter& w, uint32_t r0) {
    w.uncompressed(10, {r0, 1, 1}, 'x');
    std::vector<Item> items = {{true, 0, 0, 4}};
    const std::vector<Item> rest = literals(60);
    items.insert(items.end(), rest.begin(), rest.end());
    w.verbatim(items);
    fill(w);
}

} // namespace

TEST(LzxStream, WalkFindsTheBlocksAndFramesTheWriterWrote) {
    struct Case {
        const char* name;
        int windowBits;
        uint64_t output;
        std::function<void(IntervalWriter&)> write;
        std::vector<std::pair<int, uint32_t>> blocks; // type, size
    };
    const std::vector<Case> cases = {
        {"uncompressed across frames, odd size",
         15,
         2 * kFrame,
         [](IntervalWriter& w) {
             w.uncompressed(kFrame + 7, {1, 2, 3}, 'u');
             w.uncompressed(kFrame - 7, {1, 1, 1}, 'v');
         },
         {{3, kFrame + 7}, {3, kFrame - 7}}},
        {"verbatim cut at the frame",
         16,
         2 * kFrame,
         [](IntervalWriter& w) {
             w.verbatim(literals(100));
             std::vector<Item> matches(20000, Item{true, 0, 3, 8});
             w.verbatim(matches);
             fill(w);
         },
         {}},
        {"mixed, short last frame",
         17,
         2 * kFrame - 5,
         [](IntervalWriter& w) {
             w.verbatim(literals(33));
             w.uncompressed(kFrame, {33, 1, 2}, 'm');
             w.verbatim({{true, 0, 0, 8}, {true, 0, 1, 2}, {true, 0, 2, 5}});
             fill(w);
         },
         {}},
    };
    for (const Case& c : cases) {
        IntervalWriter w(c.windowBits, c.output);
        c.write(w);
        ASSERT_EQ(w.left(), 0u) << c.name;
        std::vector<uint64_t> starts;
        const QByteArray stream = w.finish(&starts);
        ASSERT_EQ(starts.size(), 2u) << c.name;
        const auto walk = lzxfuzz::walkInterval(stream, c.windowBits, 2, c.output);
        EXPECT_TRUE(walk.complete) << c.name;
        ASSERT_EQ(walk.frameEnds.size(), 2u) << c.name;
        EXPECT_EQ(walk.frameEnds[0], starts[1]) << c.name;
        EXPECT_EQ(walk.outsideFrame, -1) << c.name;
        for (size_t i = 0; i < c.blocks.size() && i < walk.blocks.size(); ++i) {
            EXPECT_EQ(walk.blocks[i].type, c.blocks[i].first) << c.name;
            EXPECT_EQ(walk.blocks[i].size, c.blocks[i].second) << c.name;
        }
        if (!c.blocks.empty()) {
            EXPECT_EQ(walk.blocks.size(), c.blocks.size()) << c.name;
        }
    }
}

TEST(LzxStream, WalkSeesRepeatedOffsetsThatReachOutsideTheDecodedData) {
    const struct {
        uint32_t r0;
        bool outside;
    } cases[] = {{0, true},          {1, false},        {10, false},    {11, true},
                 {64, true},         {0x8000, true},    {0x8001, true}, {0x7FFFFFFF, true},
                 {0x80000000, true}, {0xFFFFFFFF, true}};
    for (const auto& c : cases) {
        IntervalWriter w(15, 2 * kFrame);
        repeatedOffsetAfterTenBytes(w, c.r0);
        const QByteArray stream = w.finish(nullptr);
        const auto walk = lzxfuzz::walkInterval(stream, 15, 2, 2 * kFrame);
        EXPECT_TRUE(walk.complete) << c.r0;
        EXPECT_EQ(walk.outsideFrame, c.outside ? 0 : -1) << c.r0;
    }
}

TEST(LzxStream, ChmlibAndLibmspackDecodeAWrittenIntervalAsWritten) {
    const QByteArray file = sampleWith([](IntervalWriter& w) {
        w.uncompressed(10, {3, 1, 1}, 'x');
        // "xxxxxxxxxx" then "ab", then R0 = 3: "xab" four times over (two matches).
        std::vector<Item> items = literals(2);
        items.push_back({true, 0, 0, 6});
        items.push_back({true, 0, 0, 6});
        w.verbatim(items);
        fill(w);
    });
    ASSERT_FALSE(file.isEmpty());
    const auto layout = layoutOf(file);
    ASSERT_TRUE(layout);
    const CHMObjectEntry* first = nullptr;
    for (const CHMObjectEntry& e : layout->objects()) {
        if (e.section == 1 && e.offset == 0 && e.length >= 24)
            first = &e;
    }
    ASSERT_NE(first, nullptr);
    QTemporaryDir dir;
    const QString path = dir.filePath("written.chm");
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    QString error;
    auto doc = CHMDocument::open(path, &error);
    ASSERT_TRUE(doc) << error.toStdString();
    EXPECT_EQ(doc->contentOfEntry(*first).left(24), QByteArray("xxxxxxxxxxabxabxabxabxab"));
    // The differential target compares chmlib with libmspack on every object: no mismatch.
    EXPECT_EQ(fuzz::fuzzLzx(reinterpret_cast<const uint8_t*>(file.constData()),
                            static_cast<size_t>(file.size())),
              0);
}

TEST(LzxStream, MutationLoadsDangerousRepeatedOffsetsAndKeepsTheTableInStep) {
    const QByteArray book = readWholeFile(fixturePath("sample"));
    ASSERT_FALSE(book.isEmpty());
    const size_t maxSize = 1 << 16;
    // The sample's window is 0x10000 bytes.
    const QSet<uint32_t> wanted = {0, 64, 0x10000, 0x10001, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    QSet<uint32_t> reached;
    int outside = 0, inStep = 0, walked = 0;
    const fuzz::ByteMutator none = [](uint8_t*, size_t size, size_t) { return size; };
    for (unsigned seed = 1; seed <= 800; ++seed) {
        std::vector<uint8_t> data(maxSize);
        std::copy(book.cbegin(), book.cend(), data.begin());
        const size_t size = fuzz::mutateContainer(data.data(), static_cast<size_t>(book.size()),
                                                  maxSize, seed, none, fuzz::Focus::Lzx);
        const QByteArray file(reinterpret_cast<const char*>(data.data()),
                              static_cast<qsizetype>(size));
        const auto layout = layoutOf(file);
        if (!layout || layout->lzxFrames().starts.size() < 2)
            continue;
        const CHMLzxFrames& frames = layout->lzxFrames();
        const QByteArray stream = file.mid(static_cast<qsizetype>(frames.streamOffset),
                                           static_cast<qsizetype>(frames.compressedLength));
        const auto walk =
            lzxfuzz::walkInterval(stream, frames.windowBits, 2,
                                  std::min<quint64>(2 * kFrame, layout->compressedSectionLength()));
        ++walked;
        if (!walk.frameEnds.empty() && walk.frameEnds[0] == frames.starts[1])
            ++inStep;
        if (walk.outsideFrame >= 0)
            ++outside;
        for (const lzxfuzz::Block& b : walk.blocks) {
            if (b.type != lzxfuzz::Uncompressed)
                continue;
            const qsizetype at = static_cast<qsizetype>(b.bodyBit / 8);
            uint32_t r0 = 0;
            for (int i = 3; i >= 0; --i)
                r0 = (r0 << 8) | static_cast<uint8_t>(stream.at(at + i));
            reached.insert(r0);
        }
    }
    for (uint32_t v : wanted)
        EXPECT_TRUE(reached.contains(v)) << "R0 never loaded with " << v;
    EXPECT_GT(outside, 0);
    // Most mutations keep the reset table pointing at the frames the stream has.
    EXPECT_GT(inStep, walked / 2);
}

// The hand-made lzx inputs kept under fuzz/: a sound book whose first interval loads R0-R2
// and uses them (a seed), and the repeated-offset faults (regressions): R0 = 0x80000000
// (chmlib copies from far outside its window), R0 = 64 after ten bytes (chmlib copies from the
// end of its window, which holds nothing of this stream) and R0 = 0 (chmlib copies the window's
// bytes onto themselves: what the heap held). With LUMENO_FUZZ_WRITE_INPUTS set to the absolute
// path of fuzz/, the test writes them there.
TEST(LzxStream, HandMadeInputsHaveTheMatchesTheyAreNamedFor) {
    const struct {
        const char* path;
        uint32_t r0;
        bool outside;
    } inputs[] = {{"seeds/lzx/repeated-offsets-sound.chm", 10, false},
                  {"regressions/lzx/repeated-offset-r0-80000000.chm", 0x80000000, true},
                  {"regressions/lzx/repeated-offset-r0-64.chm", 64, true},
                  {"regressions/lzx/repeated-offset-r0-0.chm", 0, true}};
    const QString writeTo = qEnvironmentVariable("LUMENO_FUZZ_WRITE_INPUTS");
    for (const auto& input : inputs) {
        const QByteArray file =
            sampleWith([&](IntervalWriter& w) { repeatedOffsetAfterTenBytes(w, input.r0); });
        ASSERT_FALSE(file.isEmpty()) << input.path;
        const auto layout = layoutOf(file);
        ASSERT_TRUE(layout) << input.path;
        const CHMLzxFrames& frames = layout->lzxFrames();
        const auto walk = lzxfuzz::walkInterval(
            file.mid(static_cast<qsizetype>(frames.streamOffset)), frames.windowBits,
            static_cast<int>(frames.framesPerReset), frames.framesPerReset * kFrame);
        EXPECT_EQ(walk.outsideFrame >= 0, input.outside) << input.path;
        if (!writeTo.isEmpty()) {
            QFile out(writeTo + "/" + input.path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly)) << input.path;
            out.write(file);
        }
    }
}

// The mutation's fresh streams are what a compressor could write: the checks accept every
// compressed object, the reader reads each one, chmlib and libmspack decode them alike (the
// differential target aborts otherwise), every block type occurs, and the bytes are new.
TEST(LzxStream, FreshSoundStreamsAreReadWholeAndDecodeAlikeInBothDecoders) {
    const QByteArray book = readWholeFile(fixturePath("sample"));
    const auto original = layoutOf(book);
    ASSERT_TRUE(original);
    QTemporaryDir dir;
    QSet<int> blockTypes;
    int changed = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        std::mt19937 rng(seed);
        auto model = chmcraft::parse(book);
        ASSERT_TRUE(model);
        ASSERT_TRUE(fuzz::writeSoundLzx(rng, *model));
        const QByteArray file = chmcraft::write(*model);
        const auto layout = layoutOf(file);
        ASSERT_TRUE(layout) << "seed " << seed;
        const CHMLzxFrames& frames = layout->lzxFrames();
        const QByteArray stream = file.mid(static_cast<qsizetype>(frames.streamOffset),
                                           static_cast<qsizetype>(frames.compressedLength));
        for (const lzxfuzz::Block& b :
             lzxfuzz::walkInterval(stream, frames.windowBits,
                                   static_cast<int>(frames.framesPerReset),
                                   frames.framesPerReset * kFrame)
                 .blocks)
            blockTypes.insert(b.type);
        EXPECT_FALSE(fuzz::lzxChecksAcceptOutsideMatch(
            reinterpret_cast<const uint8_t*>(file.constData()), static_cast<size_t>(file.size())));
        EXPECT_EQ(fuzz::fuzzLzx(reinterpret_cast<const uint8_t*>(file.constData()),
                                static_cast<size_t>(file.size())),
                  0);
        const QString path = dir.filePath(QStringLiteral("sound-%1.chm").arg(seed));
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        QString error;
        const auto doc = CHMDocument::open(path, &error);
        ASSERT_TRUE(doc) << error.toStdString();
        const auto before = CHMDocument::open(fixturePath("sample"));
        ASSERT_TRUE(before);
        for (const CHMObjectEntry& e : doc->objects()) {
            if (e.section != 1 || e.length == 0)
                continue;
            const QByteArray bytes = doc->contentOfEntry(e);
            EXPECT_EQ(static_cast<quint64>(bytes.size()), e.length)
                << "seed " << seed << ": " << e.name.constData();
            changed += bytes != before->contentOfEntry(e) ? 1 : 0;
        }
    }
    EXPECT_TRUE(blockTypes.contains(lzxfuzz::Verbatim));
    EXPECT_TRUE(blockTypes.contains(lzxfuzz::Aligned));
    EXPECT_TRUE(blockTypes.contains(lzxfuzz::Uncompressed));
    EXPECT_GT(changed, 0);
}
