// Title, home page, sitemap paths and encoding out of "/#WINDOWS", "/#STRINGS" and "/#SYSTEM".
#include "CHMDocument.h"
#include "CHMMetadataReader.h"
#include "TestChmWriter.h"
#include "TestDocument.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QByteArray cstr(const char* s) {
    return QByteArray(s, static_cast<qsizetype>(strlen(s)) + 1);
}

QByteArray lcid(quint32 id) {
    QByteArray b(8, '\0');
    putU32(b, 0, id);
    return b;
}

// "/#WINDOWS" with entries of 0x70 bytes; each entry gives string offsets for title, toc,
// index, home.
QByteArray windowsFile(const std::vector<std::array<quint32, 4>>& entries) {
    QByteArray b(8 + static_cast<int>(entries.size()) * 0x70, '\0');
    putU32(b, 0, static_cast<quint32>(entries.size()));
    putU32(b, 4, 0x70);
    for (size_t i = 0; i < entries.size(); ++i) {
        const int e = 8 + static_cast<int>(i) * 0x70;
        putU32(b, e + 0x14, entries[i][0]);
        putU32(b, e + 0x60, entries[i][1]);
        putU32(b, e + 0x64, entries[i][2]);
        putU32(b, e + 0x68, entries[i][3]);
    }
    return b;
}

std::unique_ptr<CHMDocument> openObjects(const std::vector<ChmObject>& objects) {
    return openDocument("meta.chm", writeChm(objects));
}

CHMMetadata readSystemOnly(const QByteArray& system,
                           const std::function<bool(const QString&)>& exist = {}) {
    CHMMetadata meta;
    CHMMetadataReader::readSystem(system, exist, &meta);
    return meta;
}

} // namespace

TEST(Metadata, WindowsTitleBeatsSystemTitleAndDecodesInTheLanguageTheSystemObjectNames) {
    // strings: offset 1 "Главное" in CP1251, offset 9 "toc.hhc"
    const QByteArray strings =
        QByteArray(1, '\0') + cstr("\xc3\xeb\xe0\xe2\xed\xee\xe5") + cstr("toc.hhc");
    auto doc =
        openObjects({{"/#WINDOWS", windowsFile({{1, 9, 0, 0}})},
                     {"/#STRINGS", strings},
                     {"/#SYSTEM", systemFile({{3, cstr("System Title")}, {4, lcid(0x0419)}})},
                     {"/index.htm", "x"}});
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->docTitle(), QString::fromUtf8("Главное"));
    EXPECT_EQ(doc->encodingName(), "CP1251");
    EXPECT_EQ(doc->tocPath(), "toc.hhc");
}

TEST(Metadata, LaterWindowEntryFillsFieldsTheFirstLeftEmpty) {
    const QByteArray strings = QByteArray(1, '\0') + cstr("second.hhc");
    CHMMetadata meta;
    CHMMetadataReader::readWindows(windowsFile({{0, 0, 0, 0}, {0, 1, 0, 0}}), strings, &meta);
    EXPECT_EQ(meta.tocPath, "second.hhc");
}

TEST(Metadata, BaseNameRecordFindsOnlySitemapsThatExist) {
    auto doc =
        openObjects({{"/#SYSTEM", systemFile({{6, cstr("help")}})}, {"/help.hhc", "<ul></ul>"}});
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->tocPath(), "/help.hhc");
    EXPECT_TRUE(doc->indexPath().isEmpty());
}

TEST(Metadata, LanguageRecordsMapToCodePagesTheLastOneWinsAndLaterStringsDecodeInIt) {
    EXPECT_EQ(readSystemOnly(systemFile({{4, lcid(0x0409)}})).encodingName, "CP1252");
    EXPECT_EQ(readSystemOnly(systemFile({{4, lcid(0x0411)}})).encodingName, "CP932");
    EXPECT_EQ(readSystemOnly(systemFile({{4, lcid(0x0419)}})).encodingName, "CP1251");
    EXPECT_EQ(readSystemOnly(systemFile({{4, lcid(0x0804)}})).encodingName, "CP936");
    EXPECT_TRUE(readSystemOnly(systemFile({{4, lcid(0)}})).encodingName.isNull());
    EXPECT_TRUE(
        readSystemOnly(systemFile({{4, lcid(0x0804)}, {4, lcid(0x7777)}})).encodingName.isNull());
    const CHMMetadata meta = readSystemOnly(
        systemFile({{4, lcid(0x0804)}, {3, QByteArray("7-Zip \xb0\xef\xd6\xfa\0", 11)}}));
    EXPECT_EQ(meta.title, QString::fromUtf8("7-Zip 帮助"));
}

TEST(Metadata, StringsWithoutNulEndAtTheirRecordAndLengthsPastTheEndStayInsideIt) {
    const CHMMetadata meta =
        readSystemOnly(systemFile({{0, "\\7-Zip.hhc"}, {1, "7-Zip.hhk"}, {3, "Title"}}));
    EXPECT_EQ(meta.tocPath, "/7-Zip.hhc");
    EXPECT_EQ(meta.indexPath, "7-Zip.hhk");
    EXPECT_EQ(meta.title, "Title");
    QByteArray system = systemFile({{3, cstr("Short")}});
    system[6] = static_cast<char>(0xFF); // length 0xFF05 on a record of 6 bytes
    system[7] = static_cast<char>(0xFF);
    EXPECT_EQ(readSystemOnly(system).title, "Short");
    EXPECT_TRUE(readSystemOnly(QByteArray("\x03\0\0\0\x03\0", 6)).title.isEmpty());
}

TEST(Metadata, WindowsCountsAndOffsetsPastTheEndReadNothing) {
    QByteArray windows = windowsFile({{1, 1000, 0xFFFFFFFF, 2}});
    putU32(windows, 0, 0xFFFFFFFF); // claims four billion entries
    const QByteArray strings = QByteArray(1, '\0') + QByteArray("Unterminated");
    CHMMetadata meta;
    CHMMetadataReader::readWindows(windows, strings, &meta);
    EXPECT_EQ(meta.title, "Unterminated");
    EXPECT_TRUE(meta.tocPath.isEmpty());
    EXPECT_TRUE(meta.indexPath.isEmpty());
    EXPECT_EQ(meta.homePath, "nterminated");
    CHMMetadata sizeZero;
    QByteArray zero = windowsFile({{1, 1, 1, 1}});
    putU32(zero, 4, 0);
    CHMMetadataReader::readWindows(zero, strings, &sizeZero);
    EXPECT_TRUE(sizeZero.title.isEmpty());
}

TEST(Metadata, TitleOfBlanksIsNoTitle) {
    auto doc = openObjects({{"/#SYSTEM", systemFile({{3, cstr("   \r\n ")}})}});
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->docTitle().isNull());
}

TEST(Metadata, HomePageFallsBackToTheFirstDefaultNameThatExists) {
    auto none = openObjects({{"/#SYSTEM", systemFile({})}, {"/page.htm", "x"}});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->homePath(), "/index.html");
    auto withDefault =
        openObjects({{"/#SYSTEM", systemFile({})}, {"/default.htm", "x"}, {"/default.html", "y"}});
    ASSERT_TRUE(withDefault);
    EXPECT_EQ(withDefault->homePath(), "/default.html");
    EXPECT_EQ(withDefault->findHomeForPath("/sub"), "/sub/index.html");
}

TEST(Metadata, FileWithoutSystemObjectStillGetsAHomePage) {
    auto doc = openObjects({{"/index.htm", "x"}});
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->loadMetadata());
    EXPECT_EQ(doc->homePath(), "/index.htm");
}

// Window entries made to cost time: tens of thousands of them pointing at megabytes of blanks.
// What is counted is the strings decoded, so that a slow walk fails however fast the machine.
TEST(Metadata, WindowEntriesPointingAtLongBlankStringsAreReadAFewTimesOnly) {
    constexpr int kEntries = 40000;
    const QByteArray blanks = QByteArray(8 << 20, ' ') + '\0';
    const QByteArray strings = blanks + cstr("Shared Title") + cstr("toc.hhc");
    const quint32 title = static_cast<quint32>(blanks.size());
    const quint32 toc = title + 13;
    struct Case {
        const char* what;
        std::function<std::array<quint32, 4>(int)> entry;
        quint64 maxDecoded;
        const char* title;
    };
    const Case cases[] = {
        // Every entry names the one blank string as its title: it is decoded once.
        {"one blank title",
         [](int) {
             return std::array<quint32, 4>{0, 0, 0, 0};
         },
         4, ""},
        // Each entry names another spot of the blanks: the walk stops after a budget.
        {"a new blank title each",
         [](int i) {
             return std::array<quint32, 4>{static_cast<quint32>(i) * 100, 0, 0, 0};
         },
         1000, ""},
        // The last entry has a real title, but the walk has given up long before it.
        {"blank titles, then a real one",
         [&](int i) {
             return std::array<quint32, 4>{i + 1 == kEntries ? title : static_cast<quint32>(i), toc,
                                           0, 0};
         },
         1000, ""},
        // A real title in the first entry: read once, later entries need nothing.
        {"a real title first",
         [&](int) {
             return std::array<quint32, 4>{title, toc, toc, toc};
         },
         4, "Shared Title"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::array<quint32, 4>> entries;
        for (int i = 0; i < kEntries; ++i)
            entries.push_back(c.entry(i));
        CHMMetadata meta;
        quint64 decoded = 0;
        CHMMetadataReader::readWindows(windowsFile(entries), strings, &meta, &decoded);
        EXPECT_LE(decoded, c.maxDecoded);
        EXPECT_EQ(meta.title, QString::fromLatin1(c.title));
    }
}

TEST(Metadata, StringsLongerThanAnyTitleOrPathAreReadUpToTheLimit) {
    const QByteArray longTitle(100000, 'T');
    const CHMMetadata system = readSystemOnly(systemFile({{3, longTitle.left(60000)}}));
    EXPECT_EQ(system.title, QString(4096, u'T'));
    CHMMetadata windows;
    CHMMetadataReader::readWindows(windowsFile({{0, 0, 0, 0}}), longTitle, &windows);
    EXPECT_EQ(windows.title, QString(4096, u'T'));
    EXPECT_EQ(windows.tocPath, QString(4096, u'T'));
}

// The whole book, as the reader and chmtool open it: the blank title is passed over quickly
// (before, this book took half an hour) and the title of "/#SYSTEM" is shown.
TEST(Metadata, BookWhoseWindowTitlesAreAllBlankOpensWithItsSystemTitle) {
    constexpr int kEntries = 40000;
    const QByteArray strings = QByteArray(8 << 20, ' ') + '\0' + cstr("/page.htm");
    const quint32 page = (8 << 20) + 1;
    const QString path = writeScratchFile(
        "blank-window-titles.chm",
        writeChm({{"/#WINDOWS",
                   windowsFile(std::vector<std::array<quint32, 4>>(kEntries, {0, 0, 0, page}))},
                  {"/#STRINGS", strings},
                  {"/#SYSTEM", systemFile({{3, cstr("System Title")}})},
                  {"/page.htm", "<p>page</p>"}}));
    auto doc = openDocument(path);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->docTitle(), "System Title");
    EXPECT_EQ(doc->homePath(), "/page.htm");
    const ToolRun info = runChmTool({"info", path});
    EXPECT_EQ(info.status, 0);
    EXPECT_TRUE(info.out.contains("System Title"));
}
