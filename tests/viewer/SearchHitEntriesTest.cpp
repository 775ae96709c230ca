// The lookup of the entry a hit is listed under gives what the trees' own walk gives, for every
// object of real books and for the paths their entries name.
#include "SearchHitEntries.h"
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"
#include "TestSupport.h"

#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const LinkItem* walked(const CHMDocument& doc, const QString& path) {
    const LinkItem* found = doc.tocSource() ? doc.tocSource()->itemForPath(path, nullptr) : nullptr;
    if (!found && doc.indexSource())
        found = doc.indexSource()->itemForPath(path, nullptr);
    return found;
}

void collectPaths(const LinkItem* item, QStringList* out) {
    std::vector<const LinkItem*> work{item};
    while (!work.empty()) {
        const LinkItem* next = work.back();
        work.pop_back();
        if (!next->path().isNull())
            *out << next->path() << "/" + next->path();
        for (const LinkItemPtr& child : next->children())
            work.push_back(child.get());
    }
}

void expectSameAnswers(const QString& file) {
    CHMDocument doc;
    QString error;
    ASSERT_TRUE(doc.readFromURL(QUrl::fromLocalFile(file), "chm", &error)) << error.toStdString();
    QStringList paths;
    for (const CHMObjectEntry& e : doc.objects())
        paths << QString::fromUtf8(e.name);
    for (const auto& tree : {doc.tocSource(), doc.indexSource()}) {
        if (tree)
            collectPaths(tree->rootItems(), &paths);
    }
    paths << ""
          << "/"
          << "index.htm#x"
          << "a;b"
          << "?";
    const SearchHitEntries entries(doc.tocSource(), doc.indexSource());
    int found = 0;
    for (const QString& path : paths) {
        const LinkItem* expected = walked(doc, path);
        EXPECT_EQ(entries.entryFor(path), expected)
            << file.toStdString() << ": " << path.toStdString();
        found += expected ? 1 : 0;
    }
    EXPECT_GT(found, 0) << file.toStdString();
}

} // namespace

TEST(SearchHitEntries, AnswersAsTheTreesWalkForEveryFixture) {
    for (const char* name : {"nested", "names", "chunks", "gbk", "sample"})
        expectSameAnswers(fixturePath(name));
}

TEST(SearchHitEntries, AnswersAsTheTreesWalkForTheCorpus) {
    const QStringList files = corpusFiles();
    if (files.isEmpty())
        GTEST_SKIP() << "corpus not present";
    for (const QString& file : files) {
        CHMDocument doc;
        if (!doc.readFromURL(QUrl::fromLocalFile(file), "chm", nullptr) || !doc.tocSource())
            continue;
        expectSameAnswers(file);
    }
}

TEST(SearchHitEntries, KnowsWhichTreesItWasBuiltFrom) {
    CHMDocument doc;
    ASSERT_TRUE(doc.readFromURL(QUrl::fromLocalFile(fixturePath("nested")), "chm", nullptr));
    const SearchHitEntries entries(doc.tocSource(), doc.indexSource());
    EXPECT_TRUE(entries.isBuiltFrom(doc.tocSource().get(), doc.indexSource().get()));
    doc.setupTOCSource();
    EXPECT_FALSE(entries.isBuiltFrom(doc.tocSource().get(), doc.indexSource().get()));
}
