// Every page a book lists, and every style sheet, image and script those pages use, is served
// the way the web engine will ask for it: real books and the fixtures, page by page.
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "HTMLTextExtractor.h"
#include "ITSSProtocol.h"
#include "TestDocument.h"
#include "TextEncodingTable.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <set>

using namespace testsupport;

namespace {

// Stands for the corpus files when the corpus is not there, so that its absence is reported.
const char kMissingCorpus[] = "corpus";

// The fixtures by name, then the corpus files.
std::vector<std::string> books() {
    std::vector<std::string> out{"nested", "names", "gbk", "bare", "sample", "chunks"};
    const QStringList corpus = corpusFiles();
    for (const QString& path : corpus)
        out.push_back(QFileInfo(path).fileName().toStdString());
    if (corpus.isEmpty())
        out.push_back(kMissingCorpus);
    return out;
}

// The src and href values of the page's link, img and script elements, as the page says them.
QStringList referencedResources(const QString& html) {
    static const QRegularExpression comments(R"(<!--.*?-->)",
                                             QRegularExpression::DotMatchesEverythingOption);
    // Script bodies build markup in strings; only the element's own src counts.
    static const QRegularExpression scriptBodies(R"((<script\b[^>]*>).*?</script\s*>)",
                                                 QRegularExpression::DotMatchesEverythingOption |
                                                     QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression tags(R"(<(?:link|img|script)\b([^>]*)>)",
                                         QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(
        R"re((?:^|\s)(?:src|href)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]+)))re",
        QRegularExpression::CaseInsensitiveOption);
    QString text = html;
    text.remove(comments);
    text.replace(scriptBodies, QStringLiteral("\\1"));
    QStringList out;
    for (auto t = tags.globalMatch(text); t.hasNext();) {
        const QString attrs = t.next().captured(1);
        for (auto a = attribute.globalMatch(attrs); a.hasNext();) {
            const auto m = a.next();
            const QString value = m.captured(1) + m.captured(2) + m.captured(3);
            out << HTMLTextExtractor::visibleText(value).trimmed(); // entities
        }
    }
    return out;
}

class ItssCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(ItssCorpus, EveryListedPageAndWhatItUsesIsServed) {
    if (GetParam() == kMissingCorpus)
        REQUIRE_CORPUS();
    const QString name = QString::fromStdString(GetParam());
    const auto doc = openDocument(name.endsWith(".chm") ? corpusPath(name) : fixturePath(name));
    ASSERT_TRUE(doc);
    const QString encoding = doc->currentEncodingName();

    QStringList pages;
    if (!doc->homePath().isEmpty())
        pages << doc->homePath();
    if (const auto toc = doc->tocSource()) {
        for (const auto& item : toc->pageList())
            pages << item->path();
    }
    ASSERT_FALSE(pages.isEmpty());

    std::set<std::string> absent;
    std::set<QString> seen;
    int served = 0;
    // Serves each URL once; true when it gives the object itself.
    auto serveNew = [&](const QUrl& url, ITSSResponse& r) {
        if (!seen.insert(url.toString()).second)
            return false;
        r = ITSSProtocol::startLoading(url, doc.get(), encoding, false);
        if (!r.ok || r.isMissingPage) {
            absent.insert(CHMDocument::extractPathFromURL(url).toStdString());
            return false;
        }
        EXPECT_FALSE(r.mimeType.isEmpty()) << url.toString().toStdString();
        return ++served > 0;
    };
    for (const QString& page : pages) {
        const QUrl pageUrl = CHMDocument::composeURL(page).adjusted(QUrl::RemoveFragment);
        ITSSResponse r;
        if (!serveNew(pageUrl, r))
            continue;
        EXPECT_EQ(r.mimeType, "text/html") << page.toStdString();
        const QString html = decodeText(r.bytes, QString::fromLatin1(r.charset));
        for (QString ref :
             referencedResources(html.isNull() ? QString::fromLatin1(r.bytes) : html)) {
            // The web engine reads backslashes in itss URLs as slashes.
            ref.replace('\\', '/');
            const QUrl relative(ref);
            if (ref.isEmpty() || ref.startsWith('#') ||
                (!relative.scheme().isEmpty() && relative.scheme() != "itss"))
                continue; // http:, mailto:, javascript:, ms-its:, ...
            ITSSResponse resource;
            serveNew(pageUrl.resolved(relative).adjusted(QUrl::RemoveFragment), resource);
        }
    }
    EXPECT_EQ(absent, std::set<std::string>());
    EXPECT_GT(served, 0);
    RecordProperty("objects", served);
}

INSTANTIATE_TEST_SUITE_P(Books, ItssCorpus, ::testing::ValuesIn(books()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name;
                             for (char c : info.param)
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

} // namespace
