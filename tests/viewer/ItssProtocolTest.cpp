// Answering itss requests from a container: how URLs become lookups, which MIME type and
// charset each object is announced with, the reader's page for missing pages, hostile URLs.
#include "ITSSProtocol.h"
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "TestChmWriter.h"
#include "TestDocument.h"

#include <QUrl>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

std::unique_ptr<CHMDocument> openBytes(const QString& name, const std::vector<ChmObject>& objects) {
    std::vector<ChmObject> all{{"/#SYSTEM", systemFile({{3, QByteArray("Crafted\0", 8)}})}};
    all.insert(all.end(), objects.begin(), objects.end());
    return openDocument(name, writeChm(all));
}

ITSSResponse serve(CHMDocument* doc, const QString& url, const QString& encoding = "CP1252",
                   bool userChosen = false) {
    return ITSSProtocol::startLoading(QUrl(url), doc, encoding, userChosen);
}

} // namespace

TEST(ItssUrl, PathsTravelEscapedAndComeBackDecodedWithoutFragment) {
    EXPECT_EQ(CHMDocument::composeURL("//a.htm").toString(), "itss://chm/a.htm");
    const QUrl anchored = CHMDocument::composeURL("chapter1/a.htm#sec");
    EXPECT_EQ(anchored.path(), "/chapter1/a.htm");
    EXPECT_EQ(anchored.fragment(), "sec");
    const QUrl spaced = CHMDocument::composeURL(QString::fromUtf8("café/my page.htm"));
    EXPECT_EQ(spaced.toString(QUrl::FullyEncoded), "itss://chm/caf%C3%A9/my%20page.htm");
    EXPECT_EQ(CHMDocument::extractPathFromURL(spaced), QString::fromUtf8("café/my page.htm"));
    EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl("itss://chm/a.htm?x=1#top")), "a.htm?x=1");
    for (const char* url : {"itss://chm/", "itss:", "", "https://example.com/0123456789/a.htm"})
        EXPECT_EQ(CHMDocument::extractPathFromURL(QUrl(url)), "") << url;
    EXPECT_FALSE(ITSSProtocol::canInitWithRequest(QUrl("ms-its:x.chm::/a.htm")));
}

TEST(ItssLookup, UrlsReachTheStoredNames) {
    auto withParameter =
        openBytes("param.chm", {{"/a.htm", "<p>plain</p>"}, {"/a.htm;x=1", "<p>param</p>"}});
    auto nested = openDocument(fixturePath("nested"));
    auto names = openDocument(fixturePath("names"));
    ASSERT_TRUE(withParameter && nested && names);
    ASSERT_FALSE(names->exist("/100%2541.htm"));
    const std::tuple<CHMDocument*, const char*, QString> cases[] = {
        // The parameter string is part of the name; query and fragment are not.
        {withParameter.get(), "itss://chm/a.htm;x=1", "/a.htm;x=1"},
        {nested.get(), "itss://chm/index.htm?x=1#top", "/index.htm"},
        // A stored percent escape is reached through a second unescaping.
        {names.get(), "itss://chm/100%252541.htm", "/100%41.htm"},
        {names.get(), "itss://chm/100%2541.htm", "/100%41.htm"},
        {names.get(), "itss://chm/caf%C3%A9/na%C3%AFve%20r%C3%A9sum%C3%A9.htm",
         QString::fromUtf8("/café/naïve résumé.htm")},
        {nested.get(), "itss://chm/chapter1/deep/../../css/./style.css", "/css/style.css"},
        {nested.get(), "itss://chm/../../../css/style.css", "/css/style.css"},
    };
    for (const auto& [doc, url, stored] : cases) {
        const ITSSResponse r = serve(doc, url);
        ASSERT_TRUE(r.ok) << url;
        EXPECT_FALSE(r.isMissingPage) << url;
        EXPECT_EQ(r.bytes, doc->content(stored)) << url;
    }
}

TEST(ItssMissing, EmptyOrAbsentPageGivesTheMissingPageAndOtherObjectsFail) {
    auto doc = openBytes("empty.chm", {{"/a.htm", "<p>a</p>"}, {"/empty.css", ""}, {"/e.htm", ""}});
    ASSERT_TRUE(doc);
    for (const char* url : {"itss://chm/e.htm", "itss://chm/gone.html"}) {
        const ITSSResponse r = serve(doc.get(), url);
        ASSERT_TRUE(r.ok) << url;
        EXPECT_TRUE(r.isMissingPage) << url;
        EXPECT_EQ(r.mimeType, "text/html");
        EXPECT_EQ(r.charset, "UTF-8");
    }
    for (const char* url : {"itss://chm/empty.css", "itss://chm/gone.css", "itss://chm/"}) {
        const ITSSResponse r = serve(doc.get(), url);
        EXPECT_FALSE(r.ok || r.isMissingPage) << url;
    }
    EXPECT_FALSE(ITSSProtocol::startLoading(QUrl("itss://chm/a.htm"), nullptr, "CP1252", false).ok);
    CHMDocument closed;
    EXPECT_FALSE(serve(&closed, "itss://chm/a.htm").ok);
}

TEST(ItssRobustness, HostileUrlsNeitherCrashNorReachOtherObjects) {
    auto doc = openDocument(fixturePath("nested"));
    ASSERT_TRUE(doc);
    const QString huge = "itss://chm/" + QString(200000, 'a') + ".htm";
    for (const char* url :
         {"itss:", "itss://chm/%", "itss://chm/;", "itss://chm/%zz", "itss://chm/%25FF.css",
          "itss://chm/%FF%FE.htm", "itss://chm/%2500", "itss://chm/..%2F..%2F..%2Fetc%2Fpasswd",
          "itss://chm//", "itss://chm/%2525252525"}) {
        const ITSSResponse r = serve(doc.get(), url);
        EXPECT_TRUE(!r.ok || r.isMissingPage) << url;
    }
    // A NUL must not cut the name short and hand out another object under another type.
    EXPECT_FALSE(serve(doc.get(), "itss://chm/index.htm%00.css").ok);
    EXPECT_TRUE(serve(doc.get(), "itss://chm/index.htm%2500.htm").isMissingPage);
    EXPECT_TRUE(serve(doc.get(), huge).isMissingPage);
    // The missing page shows the asked path as text, never as markup.
    const QString html = QString::fromUtf8(
        serve(doc.get(), "itss://chm/%3Cscript%3Ealert(1)%3C/script%3E%26amp.htm").bytes);
    EXPECT_FALSE(html.contains("<script>"));
    EXPECT_TRUE(html.contains("/&lt;script&gt;alert(1)&lt;/script&gt;&amp;amp.htm"));
}

TEST(ItssAnnouncement, TypeFollowsTheExtensionAndTextsCharsetTheirDeclarationUnlessChosen) {
    // In directory order: name, bytes, and the type and charset announced under automatic CP936.
    const std::tuple<const char*, QByteArray, const char*, const char*> objects[] = {
        {"A.CSS", "p{}", "text/css", "GBK"},
        {"b.Js", "x=1", "text/javascript", "GBK"},
        {"bom.htm", "\xEF\xBB\xBF<p>x</p>", "text/html", "UTF-8"},
        {"c.JPEG", "<meta charset=utf-8>", "image/jpeg", ""},
        {"equiv.htm", "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Shift_JIS\">",
         "text/html", "Shift_JIS"},
        {"late.htm", "<html>" + QByteArray(2100, ' ') + "<meta charset=\"utf-8\">", "text/html",
         "GBK"},
        {"noext", "data", "application/octet-stream", ""},
        {"odd.xyz", "data", "application/octet-stream", ""},
        {"quoted.HTM", "<meta  charset = 'GB2312' />", "text/html", "GBK"},
        {"sheet.css", "@charset \"UTF-8\";\np{}", "text/css", "UTF-8"},
        {"sjis.htm", "<meta http-equiv=content-type content='text/html;charset=x-sjis'>",
         "text/html", "Shift_JIS"},
        {"unknown.htm", "<meta charset=\"x-klingon\">", "text/html", ""},
        {"unquoted.htm", "<meta charset=utf-8><p>x</p>", "text/html", "UTF-8"},
        {"utf16.htm", "<meta charset=\"utf-16\">", "text/html", "UTF-8"}};
    std::vector<ChmObject> contents;
    for (const auto& [name, bytes, mime, charset] : objects)
        contents.push_back({QByteArray("/") + name, bytes});
    auto doc = openBytes("announced.chm", contents);
    ASSERT_TRUE(doc);
    for (const auto& [name, bytes, mime, charset] : objects) {
        const QString url = QStringLiteral("itss://chm/") + name;
        const ITSSResponse r = serve(doc.get(), url, "CP936");
        ASSERT_TRUE(r.ok) << name;
        EXPECT_EQ(r.mimeType, mime) << name;
        EXPECT_EQ(r.charset, charset) << name;
        const ITSSResponse chosen = serve(doc.get(), url, "CP1251", true);
        EXPECT_EQ(chosen.charset, QByteArray(mime).startsWith("text/") ? "windows-1251" : "")
            << name;
    }
}

TEST(ItssCharset, Utf8PagesOfCorpusBooksAreAnnouncedAsUtf8UnlessTheUserChoseAnEncoding) {
    for (const char* file : {"zh-gbk-7zip-help.chm", "ja-sjis-winring0-manual.chm"}) {
        REQUIRE_CORPUS(file);
        auto doc = openDocument(corpusPath(file));
        const auto toc = doc ? doc->tocSource() : nullptr;
        ASSERT_TRUE(toc && !toc->pageList().empty()) << file;
        auto urlOf = [](const QString& path) {
            return CHMDocument::composeURL(path).toString(QUrl::FullyEncoded);
        };
        for (const auto& page : toc->pageList()) {
            EXPECT_EQ(serve(doc.get(), urlOf(page->path()), doc->currentEncodingName()).charset,
                      "UTF-8")
                << file << " " << page->path().toStdString();
        }
        // Chosen by the user, the file's own encoding wins again.
        const ITSSResponse chosen = serve(doc.get(), urlOf(toc->pageList().front()->path()),
                                          doc->currentEncodingName(), true);
        EXPECT_NE(chosen.charset, "UTF-8") << file;
        EXPECT_FALSE(chosen.charset.isEmpty()) << file;
    }
}
