// Which navigations of a page load, go to the system, or are dropped; which requests pass.
#include "CHMNavigationPolicy.h"
#include "CHMRequestInterceptor.h"

#include <gtest/gtest.h>

using Decision = CHMNavigationPolicy::Decision;

TEST(NavigationPolicy, BookPagesLoadWhateverAsksForThem) {
    const QUrl page("itss://chm/a/b.htm#x");
    EXPECT_EQ(CHMNavigationPolicy::forNavigation(page, true, true, true), Decision::Load);
    EXPECT_EQ(CHMNavigationPolicy::forNavigation(page, false, false, false), Decision::Load);
    EXPECT_EQ(CHMNavigationPolicy::forNewWindow(page, true), Decision::Load);
}

TEST(NavigationPolicy, NoWindowOpensWithoutTheUsersGesture) {
    for (const char* url : {"itss://chm/a.htm", "https://example.com/", "mailto:a@b.c"})
        EXPECT_EQ(CHMNavigationPolicy::forNewWindow(QUrl(url), false), Decision::Ignore) << url;
}

TEST(NavigationPolicy, UserClickOnAWebOrMailLinkGoesToTheSystem) {
    for (const char* url : {"http://example.com/", "https://example.com/a", "mailto:a@b.c"}) {
        EXPECT_EQ(CHMNavigationPolicy::forNavigation(QUrl(url), true, true, true),
                  Decision::OpenExternally)
            << url;
        EXPECT_EQ(CHMNavigationPolicy::forNewWindow(QUrl(url), true), Decision::OpenExternally)
            << url;
    }
}

TEST(NavigationPolicy, WebLinksWithoutAUserClickInTheMainFrameAreIgnored) {
    const QUrl web("https://example.com/");
    EXPECT_EQ(CHMNavigationPolicy::forNavigation(web, true, true, false), Decision::Ignore);
    EXPECT_EQ(CHMNavigationPolicy::forNavigation(web, true, false, true), Decision::Ignore);
    EXPECT_EQ(CHMNavigationPolicy::forNavigation(web, false, true, true), Decision::Ignore);
    EXPECT_EQ(CHMNavigationPolicy::forNewWindow(web, false), Decision::Ignore);
}

TEST(NavigationPolicy, OtherSchemesAreNeverOpened) {
    for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "data:text/html,x",
                            "ftp://example.com/", "ms-its:other.chm::/a.htm", "smb://host/share",
                            "about:blank", "", "ITSS-like://chm/a.htm"}) {
        EXPECT_EQ(CHMNavigationPolicy::forNavigation(QUrl(url), true, true, true), Decision::Ignore)
            << url;
        EXPECT_EQ(CHMNavigationPolicy::forNewWindow(QUrl(url), true), Decision::Ignore) << url;
    }
}

TEST(RequestInterceptor, LetsBookAndWebRequestsThroughAndNothingLocal) {
    for (const char* url : {"itss://chm/a.png", "https://example.com/a.png", "http://example.com/",
                            "data:image/png;base64,AAAA", "blob:itss://chm/1234"})
        EXPECT_TRUE(CHMRequestInterceptor::isAllowed(QUrl(url))) << url;
    for (const char* url : {"file:///etc/passwd", "file://host/share/a.txt", "qrc:/icons/a.svg",
                            "ftp://example.com/a", "", "smb://host/a"})
        EXPECT_FALSE(CHMRequestInterceptor::isAllowed(QUrl(url))) << url;
}
