// Reading objects out of a container: path normalisation, empty, missing and cut-off objects,
// and every object of the real books.
#include "CHMDocument.h"
#include "TestChmWriter.h"
#include "TestDocument.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QByteArray smallBook() {
    return writeChm(
        {{"/#SYSTEM", systemFile({{3, QByteArray("Small\0", 6)}, {2, QByteArray("a/b.htm\0", 8)}})},
         {"/a.htm", "<p>a</p>"},
         {"/a/b.htm", "<p>b</p>"},
         {"/empty.htm", ""}});
}

} // namespace

TEST(ContainerAccess, ContentNormalisesLeadingSlashesWhileExistTakesThePathUnchanged) {
    auto doc = openDocument("small.chm", smallBook());
    ASSERT_TRUE(doc);
    for (const char* path : {"a/b.htm", "/a/b.htm"})
        EXPECT_EQ(doc->content(path), QByteArray("<p>b</p>")) << path;
    // Three leading slashes lose two; two are kept.
    EXPECT_EQ(doc->content("///a.htm"), QByteArray("<p>a</p>"));
    EXPECT_TRUE(doc->content("//a.htm").isNull());
    EXPECT_FALSE(doc->exist("a.htm"));
    EXPECT_TRUE(doc->exist("/a.htm"));
}

TEST(ContainerAccess, NullPathEmptyOrMissingObjectAndClosedDocumentReadAsNull) {
    auto doc = openDocument("small.chm", smallBook());
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->content(QString()).isNull());
    EXPECT_TRUE(doc->content("/empty.htm").isNull());
    EXPECT_TRUE(doc->exist("/empty.htm"));
    EXPECT_TRUE(doc->content("/missing.htm").isNull());
    CHMDocument closed;
    EXPECT_FALSE(closed.exist("/a.htm"));
    EXPECT_TRUE(closed.content("/a.htm").isNull());
    EXPECT_TRUE(closed.objects().empty());
}

TEST(ContainerAccess, ObjectCutOffByTheFilesEndIsNotHandedOut) {
    QByteArray bytes =
        writeChm({{"/#SYSTEM", systemFile({})}, {"/big.htm", QByteArray(5000, 'x')}});
    bytes.chop(100);
    auto doc = openDocument("cut.chm", bytes);
    ASSERT_TRUE(doc);
    EXPECT_TRUE(doc->content("/big.htm").isNull());
}

TEST(CorpusContainers, EveryFileOpensAndEveryListedObjectReads) {
    REQUIRE_CORPUS();
    for (const QString& file : corpusFiles()) {
        SCOPED_TRACE(file.toStdString());
        const auto doc = openDocument(file);
        ASSERT_TRUE(doc);
        int read = 0, files = 0;
        for (const CHMObjectEntry& e : doc->objects()) {
            if (!e.name.startsWith('/') || e.name.endsWith('/') || e.length == 0)
                continue;
            ++files;
            const QByteArray bytes = doc->contentOfEntry(e);
            EXPECT_EQ(static_cast<quint64>(bytes.size()), e.length) << e.name.constData();
            read += !bytes.isNull();
        }
        EXPECT_EQ(read, files);
    }
}
