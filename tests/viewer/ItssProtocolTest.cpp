// Answering itss requests from a container: how URLs become lookups, which MIME type and
// charset each object is announced with, the reader's page for missing pages, hostile URLs.
#include "ITSSProtocol.h"
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "TestChmWriter.h"
#include "TestSupport.h"

#include <QFile>
#include <QUrl>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

std::unique_ptr<CHMDocument> openFile(const QString& path) {
    auto doc = std::make_unique<CHMDocument>();
    QString error;
    if (!doc->readFromURL(QUrl::fromLocalFile(path), "chm", &error))
        return nullptr;
    return doc;
}

std::unique_ptr<CHMDocument> openBytes(const QString& name, const std::vector<ChmObject>& objects) {
    std::vector<ChmObject> all{{"/#SYSTEM", systemFile({{3, QByteArray("Crafted\0", 8)}})}};
    all.insert(all.end(), objects.begin(), objects.end());
    return openFile(writeScratchFile(name, writeChm(all)));
}

ITSSResponse serve(CHMDocument* doc, const QString& url, const QString& encoding = "CP1252",
                   bool userChosen = false) {
    return ITSSProtocol::startLoading(QUrl(url), doc, encoding, userChosen);
}

} // namespace

TEST(ItssUrl, ComposedUrlPutsThePathAfterTheHostWithOrWithoutLeadingSlash) {
    EXPECT_EQ(CHMDocument::composeURL("a/b.htm").toString(), "itss://chm/a/b.htm");
    EXPECT_EQ(CHMDocument::composeURL("/a.htm").toString(), "itss://chm/a.htm");
    EXPECT_EQ(CHMDocument::composeURL("a.htm").toString(), "itss://chm/a.htm");
    EXPECT_EQ(CHMDocument::composeURL("//a.htm").toString(), "itss://chm/a.htm");
}

TEST(ItssUrl, ComposedUrlKeepsAnAnchorAsFragmentAndEscapesWhatUrlsCannotHold) {
    const QUrl anchored = CHMDocument::composeURL("chapter1/a.htm#sec");
    EXPECT_EQ(anchored.path(), "/chapter1/a.htm");
    EXPECT_EQ(anchored.fragment(), "sec");

    const QUrl spaced = CHMDocument::composeURL(QString::fromUtf8("café/my page.htm"));
    ASSERT_TRUE(spaced.isValid());
    EXPECT_EQ(spaced.toString(QUrl::FullyEncoded), "itss://chm/caf%C3%A9/my%20page.htm");
    EXPECT_EQ(CHMDocument::extractPathFromURL(spaced), QString::fromUtf8("café/my page.htm"));
}

TEST(ItssUrl, ExtractedPathIsDecodedWithoutFragmentButWithQuery) {
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("itss://chm/a/b%20c.htm")), "a/b c.htm");
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("itss://chm/a.htm#top")), "a.htm");
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("itss://chm/a.htm?x=1#top")), "a.htm?x=1");
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("itss://chm/a.htm;p=2")), "a.htm;p=2");
}

TEST(ItssUrl, ExtractedPathIsEmptyForShortAndForeignUrls) {
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("itss://chm/")), "");
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("itss://chm")), "");
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("itss:")), "");
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl()), "");
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("about:blank")), "");
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("https://example.com/0123456789/a.htm")), "");
}

TEST(ItssScheme, OnlyTheLowerCaseSchemeIsTaken) {
    EXPECT_TRUE(ITSSProtocol::canInitWithRequest(QUrl("itss://chm/a.htm")));
    EXPECT_TRUE(ITSSProtocol::canInitWithRequest(QStringLiteral("itss://chm/a.htm")));
    EXPECT_FALSE(ITSSProtocol::canInitWithRequest(QStringLiteral("ITSS://chm/a.htm")));
    EXPECT_FALSE(ITSSProtocol::canInitWithRequest(QStringLiteral("Itss://chm/a.htm")));
    EXPECT_FALSE(ITSSProtocol::canInitWithRequest(QUrl("http://chm/a.htm")));
    EXPECT_FALSE(ITSSProtocol::canInitWithRequest(QUrl("ms-its:x.chm::/a.htm")));
    EXPECT_FALSE(ITSSProtocol::canInitWithRequest(QUrl()));
}

TEST(ItssLookup, ParameterStringIsPartOfTheLookedUpPath) {
    auto doc = openBytes("param.chm", {{"/a.htm", "<p>plain</p>"}, {"/a.htm;x=1", "<p>param</p>"}});
    ASSERT_TRUE(doc);
    const ITSSResponse r = serve(doc.get(), "itss://chm/a.htm;x=1");
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.isMissingPage);
    EXPECT_EQ(r.bytes, QByteArray("<p>param</p>"));
    EXPECT_EQ(r.mimeType, "text/html");
}

TEST(ItssLookup, QueryAndFragmentAreNotPartOfTheLookedUpPath) {
    auto doc = openFile(fixturePath("nested"));
    ASSERT_TRUE(doc);
    const ITSSResponse plain = serve(doc.get(), "itss://chm/index.htm");
    const ITSSResponse queried = serve(doc.get(), "itss://chm/index.htm?x=1#top");
    ASSERT_TRUE(queried.ok);
    EXPECT_FALSE(queried.isMissingPage);
    EXPECT_EQ(queried.bytes, plain.bytes);
}

TEST(ItssLookup, StoredPercentEscapeIsFoundThroughASecondUnescaping) {
    auto doc = openFile(fixturePath("names"));
    ASSERT_TRUE(doc);
    ASSERT_FALSE(doc->exist("/100%2541.htm"));
    // The URL's own decoding gives "/100%2541.htm"; only a second one reaches "/100%41.htm".
    const ITSSResponse twice = serve(doc.get(), "itss://chm/100%252541.htm");
    ASSERT_TRUE(twice.ok);
    EXPECT_FALSE(twice.isMissingPage);
    EXPECT_EQ(twice.bytes, doc->content("/100%41.htm"));
    const ITSSResponse once = serve(doc.get(), "itss://chm/100%2541.htm");
    EXPECT_EQ(once.bytes, doc->content("/100%41.htm"));
}

TEST(ItssLookup, NonAsciiNamesAreFoundFromTheirUtf8Escapes) {
    auto doc = openFile(fixturePath("names"));
    ASSERT_TRUE(doc);
    const ITSSResponse r =
        serve(doc.get(), "itss://chm/caf%C3%A9/na%C3%AFve%20r%C3%A9sum%C3%A9.htm");
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.isMissingPage);
    EXPECT_EQ(r.bytes, doc->content(QString::fromUtf8("/café/naïve résumé.htm")));
}

TEST(ItssLookup, DotSegmentsAreResolvedBeforeTheContainerIsAsked) {
    auto doc = openFile(fixturePath("nested"));
    ASSERT_TRUE(doc);
    const ITSSResponse r = serve(doc.get(), "itss://chm/chapter1/deep/../../css/./style.css");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, doc->content("/css/style.css"));
    const ITSSResponse above = serve(doc.get(), "itss://chm/../../../css/style.css");
    EXPECT_EQ(above.bytes, doc->content("/css/style.css"));
}

TEST(ItssMime, TypeFollowsTheExtensionInAnyCase) {
    auto doc = openBytes("mime.chm", {{"/A.CSS", "p{}"},
                                      {"/b.Js", "x=1"},
                                      {"/c.JPEG", "\xFF\xD8"},
                                      {"/d.svg", "<svg/>"},
                                      {"/e.woff2", "wOF2"},
                                      {"/f.ico", "ICO1"},
                                      {"/g.HTM", "<p>g</p>"},
                                      {"/h.webp", "RIFF"},
                                      {"/noext", "data"},
                                      {"/odd.xyz", "data"}});
    ASSERT_TRUE(doc);
    const std::pair<const char*, const char*> expected[] = {
        {"A.CSS", "text/css"},
        {"b.Js", "text/javascript"},
        {"c.JPEG", "image/jpeg"},
        {"d.svg", "image/svg+xml"},
        {"e.woff2", "font/woff2"},
        {"f.ico", "image/x-icon"},
        {"g.HTM", "text/html"},
        {"h.webp", "image/webp"},
        {"noext", "application/octet-stream"},
        {"odd.xyz", "application/octet-stream"}};
    for (const auto& [name, mime] : expected) {
        const ITSSResponse r = serve(doc.get(), QStringLiteral("itss://chm/") + name);
        EXPECT_TRUE(r.ok) << name;
        EXPECT_EQ(r.mimeType, mime) << name;
    }
}

TEST(ItssMime, FixtureObjectsGetTheirTypesAndOnlyTextGetsACharset) {
    auto doc = openFile(fixturePath("nested"));
    ASSERT_TRUE(doc);
    const ITSSResponse css = serve(doc.get(), "itss://chm/css/style.css");
    EXPECT_EQ(css.mimeType, "text/css");
    EXPECT_EQ(css.charset, "windows-1252");
    const ITSSResponse js = serve(doc.get(), "itss://chm/js/script.js");
    EXPECT_EQ(js.mimeType, "text/javascript");
    const ITSSResponse png = serve(doc.get(), "itss://chm/images/logo.png");
    EXPECT_EQ(png.mimeType, "image/png");
    EXPECT_TRUE(png.charset.isEmpty());
    const ITSSResponse gif = serve(doc.get(), "itss://chm/images/dot.gif");
    EXPECT_EQ(gif.mimeType, "image/gif");
    EXPECT_TRUE(gif.charset.isEmpty());
    const ITSSResponse readme = serve(doc.get(), "itss://chm/notes/README");
    ASSERT_TRUE(readme.ok);
    EXPECT_EQ(readme.mimeType, "application/octet-stream");
    EXPECT_TRUE(readme.charset.isEmpty());
}

TEST(ItssMime, UpperCaseHtmPageOfTheContainerIsServedAsHtml) {
    auto doc = openFile(fixturePath("names"));
    ASSERT_TRUE(doc);
    const ITSSResponse r = serve(doc.get(), "itss://chm/UPPER.HTM");
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.isMissingPage);
    EXPECT_EQ(r.mimeType, "text/html");
}

TEST(ItssMissing, EmptyOrAbsentPageGivesTheMissingPageAndOtherObjectsFail) {
    auto doc = openBytes(
        "empty.chm",
        {{"/a.htm", "<p>a</p>"}, {"/empty.css", ""}, {"/empty.htm", ""}, {"/empty.png", ""}});
    ASSERT_TRUE(doc);
    for (const char* url : {"itss://chm/empty.htm", "itss://chm/gone.html"}) {
        const ITSSResponse r = serve(doc.get(), url);
        ASSERT_TRUE(r.ok) << url;
        EXPECT_TRUE(r.isMissingPage) << url;
        EXPECT_EQ(r.mimeType, "text/html");
        EXPECT_EQ(r.charset, "UTF-8");
        EXPECT_FALSE(r.bytes.isEmpty());
    }
    for (const char* url : {"itss://chm/empty.css", "itss://chm/empty.png", "itss://chm/gone.css",
                            "itss://chm/gone", "itss://chm/"}) {
        const ITSSResponse r = serve(doc.get(), url);
        EXPECT_FALSE(r.ok) << url;
        EXPECT_FALSE(r.isMissingPage) << url;
    }
    auto nested = openFile(fixturePath("nested"));
    ASSERT_TRUE(nested);
    EXPECT_FALSE(serve(nested.get(), "itss://chm/notes/empty.txt").ok);
}

TEST(ItssMissing, MissingPageShowsItsPathEscaped) {
    auto doc = openFile(fixturePath("nested"));
    ASSERT_TRUE(doc);
    const ITSSResponse r =
        serve(doc.get(), "itss://chm/%3Cscript%3Ealert(1)%3C/script%3E%26amp.htm");
    ASSERT_TRUE(r.isMissingPage);
    const QString html = QString::fromUtf8(r.bytes);
    EXPECT_FALSE(html.contains("<script>"));
    EXPECT_TRUE(html.contains("/&lt;script&gt;alert(1)&lt;/script&gt;&amp;amp.htm"))
        << html.toStdString();
}

TEST(ItssMissing, NoDocumentOrClosedDocumentFails) {
    EXPECT_FALSE(ITSSProtocol::startLoading(QUrl("itss://chm/a.htm"), nullptr, "CP1252", false).ok);
    CHMDocument closed;
    EXPECT_FALSE(serve(&closed, "itss://chm/a.htm").ok);
}

TEST(ItssRobustness, HostileUrlsNeitherCrashNorReachOtherObjects) {
    auto doc = openFile(fixturePath("nested"));
    ASSERT_TRUE(doc);
    const QString huge = "itss://chm/" + QString(200000, 'a') + ".htm";
    for (const QString& url : {QString("itss://chm"), QString("itss:"), QString("itss://chm/%"),
                               QString("itss://chm/%zz"), QString("itss://chm/%25zz.htm"),
                               QString("itss://chm/%FF%FE.htm"), QString("itss://chm/%25FF.css"),
                               QString("itss://chm/%2500"), QString("itss://chm/;"),
                               QString("itss://chm/..%2F..%2F..%2Fetc%2Fpasswd"),
                               QString("itss://chm//"), QString("itss://chm/%2525252525"), huge}) {
        const ITSSResponse r = serve(doc.get(), url);
        if (r.ok) {
            EXPECT_TRUE(r.isMissingPage) << url.left(80).toStdString();
        }
    }
    // A NUL must not cut the name short and hand out another object under another type.
    const ITSSResponse cut = serve(doc.get(), "itss://chm/index.htm%00.css");
    EXPECT_FALSE(cut.ok);
    const ITSSResponse cutTwice = serve(doc.get(), "itss://chm/index.htm%2500.htm");
    EXPECT_TRUE(cutTwice.isMissingPage);
    EXPECT_TRUE(serve(doc.get(), huge).isMissingPage);
}

TEST(ItssCharset, FollowsTheEncodingAtTheTimeOfTheRequest) {
    auto doc = openBytes("plain.chm", {{"/a.htm", "<html><body>\xC0\xC1</body></html>"}});
    ASSERT_TRUE(doc);
    EXPECT_EQ(serve(doc.get(), "itss://chm/a.htm", "CP1252").charset, "windows-1252");
    doc->setCustomizedEncodingName("CP1251");
    EXPECT_EQ(serve(doc.get(), "itss://chm/a.htm", doc->currentEncodingName(), true).charset,
              "windows-1251");
    doc->setCustomizedEncodingName("CP936");
    EXPECT_EQ(serve(doc.get(), "itss://chm/a.htm", doc->currentEncodingName(), true).charset,
              "GBK");
}

TEST(ItssCharset, AutomaticEncodingYieldsToThePagesOwnDeclaration) {
    const QByteArray padding(2100, ' ');
    auto doc = openBytes(
        "declared.chm",
        {{"/bom.htm", "\xEF\xBB\xBF<p>x</p>"},
         {"/equiv.htm", "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                        "charset=Shift_JIS\">"},
         {"/late.htm", "<html>" + padding + "<meta charset=\"utf-8\">"},
         {"/quoted.htm", "<meta  charset = 'GB2312' />"},
         {"/sheet.css", "@charset \"UTF-8\";\np{}"},
         {"/sjis.htm", "<meta http-equiv=content-type content='text/html;charset=x-sjis'>"},
         {"/unknown.htm", "<meta charset=\"x-klingon\">"},
         {"/unquoted.htm", "<meta charset=utf-8><p>x</p>"},
         {"/utf16.htm", "<meta charset=\"utf-16\">"}});
    ASSERT_TRUE(doc);
    const std::pair<const char*, const char*> expected[] = {
        {"bom.htm", "UTF-8"},  {"equiv.htm", "Shift_JIS"}, {"late.htm", "GBK"},
        {"quoted.htm", "GBK"}, {"sheet.css", "UTF-8"},     {"sjis.htm", "Shift_JIS"},
        {"unknown.htm", ""},   {"unquoted.htm", "UTF-8"},  {"utf16.htm", "UTF-8"}};
    for (const auto& [name, charset] : expected) {
        const ITSSResponse r = serve(doc.get(), QStringLiteral("itss://chm/") + name, "CP936");
        ASSERT_TRUE(r.ok) << name;
        EXPECT_EQ(r.charset, charset) << name;
    }
    // The user's explicit choice is announced for every page, declared or not.
    for (const auto& [name, charset] : expected) {
        const ITSSResponse r =
            serve(doc.get(), QStringLiteral("itss://chm/") + name, "CP1251", true);
        EXPECT_EQ(r.charset, "windows-1251") << name;
    }
}

TEST(ItssCharset, GbkFixturePagesAreAnnouncedAsGbk) {
    auto doc = openFile(fixturePath("gbk"));
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->currentEncodingName(), "CP936");
    // nometa.htm declares nothing; index.htm says gb2312 in http-equiv, search.htm in <meta
    // charset>.
    for (const char* page : {"nometa.htm", "index.htm", "search.htm"}) {
        const ITSSResponse r = serve(doc.get(), QStringLiteral("itss://chm/") + page, "CP936");
        ASSERT_TRUE(r.ok) << page;
        EXPECT_EQ(r.charset, "GBK") << page;
    }
}

TEST(ItssCharset, Utf8PagesOfCodePageBooksAreAnnouncedAsUtf8) {
    for (const char* file : {"zh-gbk-7zip-help.chm", "ja-sjis-winring0-manual.chm"}) {
        const QString path = corpusPath(file);
        if (!QFile::exists(path))
            GTEST_SKIP() << "corpus not available";
        auto doc = openFile(path);
        ASSERT_TRUE(doc) << file;
        const auto toc = doc->tocSource();
        ASSERT_TRUE(toc) << file;
        ASSERT_FALSE(toc->pageList().empty()) << file;
        for (const auto& page : toc->pageList()) {
            const ITSSResponse r =
                ITSSProtocol::startLoading(CHMDocument::composeURL(page->path()), doc.get(),
                                           doc->currentEncodingName(), false);
            ASSERT_TRUE(r.ok) << file << " " << page->path().toStdString();
            EXPECT_EQ(r.charset, "UTF-8") << file << " " << page->path().toStdString();
        }
        // Chosen by the user, the file's own encoding wins again.
        const ITSSResponse chosen =
            ITSSProtocol::startLoading(CHMDocument::composeURL(toc->pageList().front()->path()),
                                       doc.get(), doc->currentEncodingName(), true);
        EXPECT_NE(chosen.charset, "UTF-8") << file;
        EXPECT_FALSE(chosen.charset.isEmpty()) << file;
    }
}
