// The entry a hit is listed under is the one the trees' own walk finds, for real books.
#include "SearchHitEntries.h"
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "TestDocument.h"

#include <gtest/gtest.h>

using namespace testsupport;

TEST(SearchHitEntries, AnswersAsTheTreesWalkForEveryObjectAndEntryUntilTheTreesChange) {
    const QStringList fixtures{fixturePath("nested"), fixturePath("names"), fixturePath("chunks"),
                               fixturePath("gbk"), fixturePath("sample")};
    for (const QString& file : fixtures + corpusFiles()) {
        SCOPED_TRACE(file.toStdString());
        QString error;
        const auto opened = openDocument(file, &error);
        if (!opened || !opened->tocSource()) {
            EXPECT_FALSE(fixtures.contains(file)) << error.toStdString();
            continue;
        }
        CHMDocument& doc = *opened;
        const auto trees = {doc.tocSource(), doc.indexSource()};
        QStringList paths{"", "/", "index.htm#x", "a;b", "?"};
        for (const CHMObjectEntry& e : doc.objects())
            paths << QString::fromUtf8(e.name);
        for (const auto& tree : trees)
            if (tree)
                tree->rootItems()->enumerateItems([&](LinkItem* i) { paths << i->path(); });
        const SearchHitEntries entries(doc.tocSource(), doc.indexSource());
        int found = 0;
        for (const QString& path : paths) {
            const LinkItem* walked = nullptr;
            for (const auto& tree : trees)
                walked = walked || !tree ? walked : tree->itemForPath(path, nullptr);
            EXPECT_EQ(entries.entryFor(path), walked) << path.toStdString();
            found += walked ? 1 : 0;
        }
        EXPECT_GT(found, 0);
        EXPECT_TRUE(entries.isBuiltFrom(doc.tocSource().get(), doc.indexSource().get()));
        doc.setupTOCSource(); // a fresh tree: the table must be built again
        EXPECT_FALSE(entries.isBuiltFrom(doc.tocSource().get(), doc.indexSource().get()));
    }
}
