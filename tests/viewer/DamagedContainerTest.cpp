// Damaged containers are refused with a reason before chmlib sees them, and nothing that
// reads them crashes or hangs.
#include "CHMContainerLayout.h"
#include "CHMDocument.h"
#include "TestChmWriter.h"
#include "TestDocument.h"
#include "TestSupport.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const QByteArray kControlData("::DataSpace/Storage/MSCompressed/ControlData");

// Opens the bytes as a document; answers the error, empty when it opened.
QString openError(const QByteArray& bytes) {
    QString error;
    if (const auto doc = openDocument("damaged.chm", bytes, &error)) {
        // Whatever opened must read without harm.
        for (const CHMObjectEntry& e : doc->objects())
            doc->contentOfEntry(e);
        return {};
    }
    return error;
}

// Offset in the file of a section-0 object's bytes.
qsizetype objectOffset(const QByteArray& file, const QByteArray& name) {
    QString reason;
    auto layout = CHMContainerLayout::parse(
        file.left(0x60), static_cast<quint64>(file.size()),
        [&](quint64 at, quint64 len) {
            return file.mid(static_cast<qsizetype>(at), static_cast<qsizetype>(len));
        },
        &reason);
    const CHMObjectEntry* e = layout ? layout->find(name) : nullptr;
    return e ? static_cast<qsizetype>(layout->contentOffset() + e->offset) : -1;
}

} // namespace

TEST(DamagedContainer, TruncatedFilesAreRefusedOrReadSafely) {
    REQUIRE_CORPUS("zh-gbk-7zip-help.chm");
    const QByteArray whole = readWholeFile(corpusPath("zh-gbk-7zip-help.chm"));
    ASSERT_FALSE(whole.isEmpty());
    for (qsizetype cut : std::initializer_list<qsizetype>{
             0, 3, 0x20, 0x5F, 0x80, 0x100, 0x1000, 0x3000, whole.size() / 2, whole.size() - 1})
        openError(whole.left(cut)); // must return, whatever it says
    EXPECT_TRUE(openError(whole.left(0x40)).contains("is damaged"));
}

TEST(DamagedContainer, NotAContainerIsRefused) {
    EXPECT_TRUE(openError("<html>hello</html>").contains("is damaged"));
    EXPECT_FALSE(openError(QByteArray()).isEmpty());
}

TEST(DamagedContainer, ZeroWindowSizeOrResetIntervalIsRefused) {
    REQUIRE_CORPUS("en-putty-halibut.chm");
    const QByteArray whole = readWholeFile(corpusPath("en-putty-halibut.chm"));
    const qsizetype control = objectOffset(whole, kControlData);
    ASSERT_GT(control, 0);
    // Zero window, reset interval, windows per reset; a 128 MiB window.
    for (const auto& [field, value] : {std::pair{12, 0u}, {16, 0u}, {20, 0u}, {16, 1u << 12}}) {
        QByteArray bytes = whole;
        putU32(bytes, static_cast<int>(control) + field, value);
        EXPECT_TRUE(openError(bytes).contains("is damaged")) << field << " " << value;
    }
}

TEST(DamagedContainer, ChunkNumbersOutsideTheDirectoryAreRefused) {
    const QByteArray good = writeChm({{"/#SYSTEM", systemFile({})}, {"/a.htm", "a"}});
    const std::pair<int, quint32> fields[] = {
        {kItspOffset + 0x20, 1},          // first listing chunk == chunk count
        {kItspOffset + 0x1C, 7},          // root chunk
        {kFirstChunkOffset + 0x10, 0},    // a listing chunk naming itself as the next
        {kItspOffset + 0x2C, 0x7FFFFFFF}, // chunk count
    };
    for (const auto& [at, value] : fields) {
        QByteArray bytes = good;
        putU32(bytes, at, value);
        EXPECT_TRUE(openError(bytes).contains("is damaged")) << at;
    }
}

TEST(DamagedContainer, BrokenListingEntriesAreRefused) {
    const QByteArray good = writeChm({{"/#SYSTEM", systemFile({})}, {"/a.htm", "a"}});
    QByteArray freeSpace = good;
    putU32(freeSpace, kFirstChunkOffset + 4, kChunkSize); // more free space than the chunk has
    EXPECT_TRUE(openError(freeSpace).contains("is damaged"));
    QByteArray longName = good;
    longName[kFirstChunkOffset + 0x14] = static_cast<char>(0xFF); // name length runs on and on
    longName[kFirstChunkOffset + 0x15] = static_cast<char>(0xFF);
    EXPECT_TRUE(openError(longName).contains("is damaged"));
}

TEST(DamagedContainer, IndexChunkCycleIsRefused) {
    // Two chunks: turn the second into an index chunk that points at itself via the first.
    QByteArray bytes = writeChm({{"/#SYSTEM", systemFile({})}, {"/a.htm", "a"}});
    QByteArray chunk(kChunkSize, '\0');
    chunk.replace(0, 4, "PMGI");
    const QByteArray entry("\x01"
                           "a"
                           "\x01",
                           3); // name "a" -> chunk 1 (itself)
    chunk.replace(8, entry.size(), entry);
    putU32(chunk, 4, static_cast<quint32>(kChunkSize - 8 - entry.size()));
    bytes.insert(kFirstChunkOffset + kChunkSize, chunk);
    putU64(bytes, 0x50, 0x54 + 2 * kChunkSize);
    putU64(bytes, 0x58, static_cast<quint64>(kFirstChunkOffset + 2 * kChunkSize));
    putU32(bytes, kItspOffset + 0x2C, 2);
    putU32(bytes, kItspOffset + 0x1C, 1);
    EXPECT_TRUE(openError(bytes).contains("is damaged"));
}

TEST(DamagedContainer, RandomByteFlipsInTheHeadNeverCrash) {
    REQUIRE_CORPUS("ja-sjis-winring0-manual.chm");
    const QByteArray whole = readWholeFile(corpusPath("ja-sjis-winring0-manual.chm"));
    ASSERT_FALSE(whole.isEmpty());
    QRandomGenerator random(20261206);
    for (int round = 0; round < 150; ++round) {
        QByteArray bytes = whole;
        for (int flips = 0; flips < 4; ++flips) {
            const auto at =
                static_cast<qsizetype>(random.bounded(std::min<qsizetype>(0x2000, bytes.size())));
            bytes[at] = static_cast<char>(random.bounded(256));
        }
        openError(bytes);
    }
    SUCCEED();
}

namespace {

// The book with the last letter of the reset table's name changed wherever it is listed: chmlib
// then finds no reset table, and with it no way to read a compressed object.
QByteArray withResetTableRenamed(QByteArray file) {
    const QByteArray& name = CHMContainerLayout::resetTableName();
    for (qsizetype at = file.indexOf(name); at >= 0; at = file.indexOf(name, at + 1))
        file[at + name.size() - 1] = 'f';
    return file;
}

} // namespace

TEST(DamagedContainer, CompressedBookThatLostAStreamOfItsSectionIsRefusedAsDamaged) {
    const QString fixture = fixturePath(QStringLiteral("nested"));
    const QByteArray sound = readWholeFile(fixture);
    const QByteArray damaged = withResetTableRenamed(sound);
    ASSERT_NE(damaged, sound);
    EXPECT_EQ(openError(damaged),
              QStringLiteral("“damaged.chm” is damaged: the compressed section's reset table is "
                             "missing."));
    const QString path = writeScratchFile(QStringLiteral("lost-reset-table.chm"), damaged);
    for (const char* command : {"info", "toc", "pages", "list"}) {
        const ToolRun run = runChmTool({QString::fromLatin1(command), path});
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_TRUE(run.out.isEmpty()) << command;
        EXPECT_TRUE(run.err.contains(QLatin1String("is damaged: the compressed section's reset "
                                                   "table is missing")))
            << command << ": " << run.err.toStdString();
    }
    // Without compressed objects, a book needs none of the section's streams.
    EXPECT_EQ(openError(writeChm({{"/index.htm", "<p>plain</p>"}})), QString());
}

TEST(DamagedContainer, CorpusBookWithOneByteOfItsResetTableNameChangedIsRefusedAsDamaged) {
    REQUIRE_CORPUS("zh-gbk-pbootcms-nonascii-paths.chm");
    QByteArray file = readWholeFile(corpusPath("zh-gbk-pbootcms-nonascii-paths.chm"));
    ASSERT_GT(file.size(), 1638);
    ASSERT_EQ(file[1638], 'e'); // the last letter of "ResetTable" in its listing entry
    file[1638] = 'f';
    EXPECT_TRUE(openError(file).contains(QLatin1String("is damaged: the compressed section's")));
}
