// Every page a book lists, and every style sheet, image and script those pages use, is served
// the way the web engine will ask for it: real books and the fixtures, page by page.
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "ITSSProtocol.h"
#include "TestSupport.h"
#include "TextEncodingTable.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace testsupport;

namespace {

// Resources that pages name but their book does not hold (checked with `chmtool list`).
const std::map<std::string, std::set<std::string>> kKnownAbsent = {};

// "fixture/<name>" and "corpus/<file>".
std::vector<std::string> books() {
    std::vector<std::string> out;
    for (const char* name : {"nested", "names", "gbk", "bare", "sample", "chunks"})
        out.push_back(std::string("fixture/") + name);
    for (const QString& path : corpusFiles())
        out.push_back("corpus/" + QFileInfo(path).fileName().toStdString());
    return out;
}

QString bookPath(const std::string& label) {
    const QString l = QString::fromStdString(label);
    if (l.startsWith("fixture/"))
        return fixturePath(l.mid(8));
    return corpusPath(l.mid(7));
}

QString decodeEntities(QString text) {
    static const QRegularExpression entity(R"(&(#[0-9]+|#[xX][0-9a-fA-F]+|amp|lt|gt|quot|apos);)");
    QString out;
    qsizetype last = 0;
    for (auto it = entity.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        out += text.mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else {
            const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
            const uint code = name.mid(hex ? 2 : 1).toUInt(nullptr, hex ? 16 : 10);
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
        }
        last = m.capturedEnd();
    }
    return out + text.mid(last);
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
            out << decodeEntities(value).trimmed();
        }
    }
    return out;
}

QString decodePage(const ITSSResponse& r) {
    const QString decoded = decodeText(r.bytes, QString::fromLatin1(r.charset));
    return decoded.isNull() ? QString::fromLatin1(r.bytes) : decoded;
}

class ItssCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(ItssCorpus, EveryListedPageAndWhatItUsesIsServed) {
    const QString path = bookPath(GetParam());
    auto doc = std::make_unique<CHMDocument>();
    QString error;
    ASSERT_TRUE(doc->readFromURL(QUrl::fromLocalFile(path), "chm", &error)) << error.toStdString();
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
    QSet<QString> seen;
    int pagesServed = 0;
    int resourcesServed = 0;
    for (const QString& page : pages) {
        const QUrl pageUrl = CHMDocument::composeURL(page).adjusted(QUrl::RemoveFragment);
        if (seen.contains(pageUrl.toString()))
            continue;
        seen.insert(pageUrl.toString());
        const ITSSResponse r = ITSSProtocol::startLoading(pageUrl, doc.get(), encoding, false);
        if (!r.ok || r.isMissingPage) {
            absent.insert(page.toStdString());
            continue;
        }
        EXPECT_EQ(r.mimeType, "text/html") << page.toStdString();
        ++pagesServed;
        for (QString ref : referencedResources(decodePage(r))) {
            // The web engine reads backslashes in itss URLs as slashes.
            ref.replace('\\', '/');
            if (ref.isEmpty() || ref.startsWith('#'))
                continue;
            const QUrl relative(ref);
            if (!relative.scheme().isEmpty() && relative.scheme() != "itss")
                continue; // http:, mailto:, javascript:, ms-its:, ...
            const QUrl url = pageUrl.resolved(relative).adjusted(QUrl::RemoveFragment);
            if (seen.contains(url.toString()))
                continue;
            seen.insert(url.toString());
            const ITSSResponse res = ITSSProtocol::startLoading(url, doc.get(), encoding, false);
            if (!res.ok || res.isMissingPage) {
                absent.insert(CHMDocument::extractPathFromURL(url).toStdString());
                continue;
            }
            EXPECT_FALSE(res.mimeType.isEmpty()) << url.toString().toStdString();
            ++resourcesServed;
        }
    }
    const QString file = QFileInfo(path).fileName();
    const auto known = kKnownAbsent.find(file.toStdString());
    const std::set<std::string> expected =
        known == kKnownAbsent.end() ? std::set<std::string>() : known->second;
    EXPECT_EQ(absent, expected);
    EXPECT_GT(pagesServed, 0);
    RecordProperty("pages", pagesServed);
    RecordProperty("resources", resourcesServed);
}

INSTANTIATE_TEST_SUITE_P(Books, ItssCorpus, ::testing::ValuesIn(books()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name;
                             for (char c : info.param)
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

} // namespace
