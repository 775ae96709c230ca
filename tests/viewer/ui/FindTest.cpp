// Find in page on the real web engine: each tab's find bar, the marks made in the reader's own
// script world, stepping, texts looked for as typed, sidebar words marked, a long page.
#include "JavaScriptStringLiteral.h"
#include "WindowTestFixture.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <functional>

using webtest::markCount;
using webtest::runJavaScript;
using webtest::waitUntil;
const auto inReaderWorld = webtest::runInReaderWorld;

namespace {

constexpr int kLongPageMatches = 2000;

// "lantern" is page text four times in #a and #b, once across an inline element in #c; it is
// also in a script, a style sheet, a text area and split by a block edge, none of which is a
// match. #special holds the characters that break naive script building.
const char kPage[] = R"(<html><head><title>Find</title>
<style>/* lantern */ p { margin: 4px }</style>
<script>var hidden = "lantern";</script></head>
<body><p id="a">A Lantern, a lantern, a LANTERN.</p>
<p id="b">Another <i>lantern</i> here.</p>
<p id="c">lan<b>tern</b> ends, and so does lan</p><p>tern.</p>
<textarea>lantern</textarea>
<p id="special">He said 'it's' "fine" in C:\path\file &lt;/script&gt; ok</p>
<pre id="pre">line one
line two</pre>
<script>// lantern
window.keep = document.getElementById('a').firstChild;</script>
</body></html>)";

// The word twice, below the first screen.
const char kOtherPage[] = R"(<html><head><title>Other</title></head><body>
<div style="height: 3000px">Top of the other page.</div>
<p id="first">Here is a lantern.</p><p>And a second lantern.</p></body></html>)";

QString findBook() {
    QByteArray longPage = "<html><head><title>Long</title></head><body>";
    for (int i = 1; i <= kLongPageMatches; ++i)
        longPage += "<p>Row " + QByteArray::number(i) + ": a needle in the stack.</p>\n";
    static const QString path =
        WindowTestFixture::writeCraftedBook("find.chm", "Find",
                                            {{"/index.htm", kPage},
                                             {"/other.htm", kOtherPage},
                                             {"/long.htm", longPage + "</body></html>"}});
    return path;
}

// The current match as the document-order numbers of its spans and its text: "4,5 lantern".
QString currentMatch(QWebEnginePage* page) {
    return inReaderWorld(page,
                         "(() => { const all = Array.from("
                         "document.querySelectorAll('.lumeno-highlight'));"
                         "const now = all.filter(s => s.matches('.lumeno-highlight-current'));"
                         "return now.map(s => all.indexOf(s)).join(',') + ' ' +"
                         " now.map(s => s.textContent).join(''); })()")
        .toString();
}

bool waitForLabel(CHMWebViewController* controller, const QString& text) {
    const bool shown = waitUntil([&] { return controller->matchLabel()->text() == text; });
    EXPECT_TRUE(shown) << "label: " << controller->matchLabel()->text().toStdString();
    return shown;
}

} // namespace

// Each test starts with the book open at its first page.
class FindInPage : public WindowTestFixture {
protected:
    void SetUp() override {
        WindowTestFixture::SetUp();
        window = openWindow(findBook());
        ASSERT_NE(window, nullptr);
        controller = window->currentController();
        page = currentPage(window);
    }

    CHMDocumentWindow* window = nullptr;
    CHMWebViewController* controller = nullptr;
    QWebEnginePage* page = nullptr;
};

TEST_F(FindInPage, FindBarMarksEveryMatchStepsBothWaysAndLeavesThePageAsItWas) {
    const QString before = runJavaScript(page, "document.body.innerHTML").toString();

    window->findAction()->trigger();
    ASSERT_FALSE(controller->findPanel()->isHidden());
    QLineEdit* field = controller->searchField();
    QTest::keyClicks(field, "LanTern");
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));
    // Five matches in six spans (one crosses <b>); nothing in the script, the style sheet, the
    // text area or across the paragraph edge.
    EXPECT_EQ(markCount(page), 6);
    EXPECT_EQ(currentMatch(page), "0 Lantern");
    // The page's own scripts cannot see the reader's functions.
    const QString functions =
        "typeof highlight + typeof scrollToHighlight + typeof removeHighlight";
    EXPECT_EQ(runJavaScript(page, functions).toString(), "undefinedundefinedundefined");
    EXPECT_EQ(inReaderWorld(page, functions).toString(), "functionfunctionfunction");
    // Return, Shift-Return, the segments, the buttons and the menu items step, wrapping round.
    const std::pair<std::function<void()>, const char*> steps[] = {
        {[&] { QTest::keyClick(field, Qt::Key_Return); }, "2 of 5"},
        {[&] { QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier); }, "1 of 5"},
        {[&] { QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier); }, "5 of 5"},
        {[&] { window->findInFile(1); }, "1 of 5"},
        {[&] { controller->previousButton()->click(); }, "5 of 5"},
        {[&] { window->findNextAction()->trigger(); }, "1 of 5"},
        {[&] { window->findPreviousAction()->trigger(); }, "5 of 5"}};
    for (const auto& [step, label] : steps) {
        step();
        ASSERT_TRUE(waitForLabel(controller, label));
    }
    EXPECT_EQ(currentMatch(page), "4,5 lantern");
    // Escape ends finding: the bar goes, and so do the marks, without a trace in the page. The
    // text node a page script holds reads whole again.
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(controller->findPanel()->isHidden());
    EXPECT_EQ(markCount(page), 0);
    EXPECT_TRUE(controller->matchLabel()->text().isEmpty());
    EXPECT_EQ(runJavaScript(page, "document.body.innerHTML").toString(), before);
    EXPECT_EQ(runJavaScript(page, "keep.data + '|' + keep.parentNode.id").toString(),
              "A Lantern, a lantern, a LANTERN.|a");
}

TEST_F(FindInPage, EachTabHasItsOwnFindBarAndMarks) {
    CHMWebViewController* second = window->addNewTab();
    ASSERT_TRUE(load(window, "index.htm"));
    window->showFindPanel();
    second->searchField()->setText("here");
    ASSERT_TRUE(waitForLabel(second, "1 of 1"));
    EXPECT_TRUE(controller->findPanel()->isHidden());

    window->docTabView()->setCurrentWidget(controller);
    window->showFindPanel();
    controller->searchField()->setText("lantern");
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));
    // Done in the selected tab hides its bar and clears its page only.
    window->doneFindAction()->trigger();
    EXPECT_TRUE(controller->findPanel()->isHidden());
    EXPECT_EQ(markCount(page), 0);
    EXPECT_FALSE(second->findPanel()->isHidden());
    EXPECT_EQ(second->matchLabel()->text(), "1 of 1");
    EXPECT_EQ(markCount(second->webView()->page()), 1);
}

TEST_F(FindInPage, TextsAreLookedForAsTypedAndNeverRunAsScript) {
    const QString before = runJavaScript(page, "document.body.innerHTML").toString();
    window->showFindPanel();
    QLineEdit* field = controller->searchField();

    const QStringList hostile{
        "x'); window.pwned = 1; ('", "\\'); window.pwned = 1; //", "\"); window.pwned = 1; //",
        "</script><script>window.pwned = 1</script>", QStringLiteral("\u2028window.pwned = 1;//")};
    for (const QString& text : hostile) {
        field->setText(text);
        EXPECT_TRUE(waitForLabel(controller, "Not found")) << text.toStdString();
        field->setText(QString());
    }
    EXPECT_EQ(inReaderWorld(page, "typeof window.pwned").toString(), "undefined");
    EXPECT_EQ(runJavaScript(page, "typeof window.pwned").toString(), "undefined");

    const QStringList found{
        "'it's'",    "\"fine\"",  "C:\\path\\file",
        "</script>", "one\nline", "said 'it's' \"fine\" in C:\\path\\file </script> ok"};
    for (const QString& text : found) {
        field->setText(text);
        ASSERT_TRUE(waitForLabel(controller, "1 of 1")) << text.toStdString();
        EXPECT_EQ(currentMatch(page), "0 " + text);
        field->setText(QString()); // removes the marks
        EXPECT_EQ(runJavaScript(page, "document.body.innerHTML").toString(), before);
    }
    // The engine reads each literal back as the very text.
    for (const QString& text : found + hostile)
        EXPECT_EQ(inReaderWorld(page, javaScriptStringLiteral(text)).toString(), text);
}

TEST_F(FindInPage, PagesLoadedWhileTheSidebarSearchHoldsWordsShowThemMarked) {
    window->sidebar()->searchField()->setText("Lantern");

    ASSERT_TRUE(load(window, "other.htm"));
    page = currentPage(window);
    EXPECT_TRUE(waitUntil([&] { return markCount(page) == 2; }));
    ASSERT_TRUE(waitForLabel(window->currentController(), "1 of 2"));
    EXPECT_EQ(currentMatch(page), "0 lantern");
    // Scrolled down to the first mark.
    EXPECT_GT(runJavaScript(page, "window.scrollY").toDouble(), 1000);
    // A page that loads in a tab that is not selected is marked there, not in the current tab.
    CHMWebViewController* background = window->createWebViewInTab();
    ASSERT_NE(window->currentController(), background);
    webtest::LoadWatcher loads(window);
    background->webView()->load(CHMDocument::composeURL("index.htm"));
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_TRUE(waitUntil([&] { return markCount(background->webView()->page()) == 6; }));
    EXPECT_EQ(markCount(page), 2);
    // Emptying the sidebar's field takes its marks away.
    window->sidebar()->searchField()->clear();
    EXPECT_TRUE(waitUntil([&] { return markCount(page) == 0; }));
}

TEST_F(FindInPage, ReturnAfterALoadFindsAgainAndALongPageIsMarkedCompletely) {
    window->showFindPanel();
    controller->searchField()->setText("NEEDLE");
    ASSERT_TRUE(waitForLabel(controller, "Not found"));
    // A new page drops the old count; Return looks for the field's text in it.
    ASSERT_TRUE(load(window, "long.htm"));
    page = currentPage(window);
    EXPECT_TRUE(controller->matchLabel()->text().isEmpty());
    QTest::keyClick(controller->searchField(), Qt::Key_Return);
    const QString total = QString::number(kLongPageMatches);
    ASSERT_TRUE(waitForLabel(controller, "1 of " + total));
    EXPECT_EQ(markCount(page), kLongPageMatches);

    QTest::keyClick(controller->searchField(), Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_TRUE(waitForLabel(controller, total + " of " + total));
    EXPECT_EQ(currentMatch(page), QString::number(kLongPageMatches - 1) + " needle");
    EXPECT_GT(runJavaScript(page, "window.scrollY").toDouble(), 10000);
    QTest::keyClick(controller->searchField(), Qt::Key_Return);
    ASSERT_TRUE(waitForLabel(controller, "1 of " + total));
    EXPECT_LT(runJavaScript(page, "window.scrollY").toDouble(), 1000);
}

TEST_F(FindInPage, AResultOfThePageBeforeALoadNeverShowsOnTheNewPage) {
    // The page is busy for a while, so the find's answer comes only after the next load began.
    runJavaScript(page,
                  "setTimeout(function(){var end=Date.now()+1500;while(Date.now()<end){}},0)");
    window->showFindPanel();
    controller->searchField()->setText("NEEDLE");
    ASSERT_TRUE(load(window, "other.htm"));
    QTest::qWait(500);
    EXPECT_TRUE(controller->matchLabel()->text().isEmpty())
        << controller->matchLabel()->text().toStdString();
}
