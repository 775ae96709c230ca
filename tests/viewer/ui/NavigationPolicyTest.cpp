// Which navigations of a page load, go to the system, or are dropped; which requests pass.
#include "CHMNavigationPolicy.h"
#include "CHMRequestInterceptor.h"

#include <gtest/gtest.h>

using Decision = CHMNavigationPolicy::Decision;

TEST(NavigationPolicy, BookPagesLoadWebAndMailGoToTheSystemOnAUserClickAndTheRestIsDropped) {
    auto navigation = [](const char* url, bool click, bool mainFrame, bool user) {
        return CHMNavigationPolicy::forNavigation(QUrl(url), click, mainFrame, user);
    };
    const QUrl page("itss://chm/a/b.htm#x");
    EXPECT_EQ(navigation("itss://chm/a/b.htm#x", true, true, true), Decision::Load);
    EXPECT_EQ(navigation("itss://chm/a/b.htm#x", false, false, false), Decision::Load);
    EXPECT_EQ(CHMNavigationPolicy::forNewWindow(page, true), Decision::Load);
    for (const char* url : {"http://example.com/", "https://example.com/a", "mailto:a@b.c"}) {
        EXPECT_EQ(navigation(url, true, true, true), Decision::OpenExternally) << url;
        EXPECT_EQ(CHMNavigationPolicy::forNewWindow(QUrl(url), true), Decision::OpenExternally)
            << url;
        // Without the user's click in the main frame, or without the user's gesture.
        EXPECT_EQ(navigation(url, true, true, false), Decision::Ignore) << url;
        EXPECT_EQ(navigation(url, true, false, true), Decision::Ignore) << url;
        EXPECT_EQ(navigation(url, false, true, true), Decision::Ignore) << url;
        EXPECT_EQ(CHMNavigationPolicy::forNewWindow(QUrl(url), false), Decision::Ignore) << url;
    }
    EXPECT_EQ(CHMNavigationPolicy::forNewWindow(page, false), Decision::Ignore);
    for (const char* url : {"file:///etc/passwd", "javascript:alert(1)", "data:text/html,x",
                            "ftp://example.com/", "ms-its:other.chm::/a.htm", "smb://host/share",
                            "about:blank", "", "ITSS-like://chm/a.htm"}) {
        EXPECT_EQ(navigation(url, true, true, true), Decision::Ignore) << url;
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
