// Find in page on the real web engine: the find bar of each tab, the marks "highlight.js" makes
// in the reader's own script world, stepping through them, texts that must be looked for as
// typed, the words of the sidebar search marked in each loaded page, and a long page.
#include "CHMDocument.h"
#include "CHMSidebar.h"
#include "CHMWebViewController.h"
#include "JavaScriptStringLiteral.h"
#include "TestChmWriter.h"
#include "TestSupport.h"
#include "WindowTestFixture.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <memory>
#include <ostream>

using webtest::runJavaScript;
using webtest::waitUntil;

namespace {

constexpr int kLongPageMatches = 2000;

QByteArray cstr(const char* text) {
    return QByteArray(text, static_cast<qsizetype>(qstrlen(text)) + 1);
}

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

QByteArray longPage() {
    QByteArray page = "<html><head><title>Long</title></head><body>";
    for (int i = 1; i <= kLongPageMatches; ++i)
        page += "<p>Row " + QByteArray::number(i) + ": a needle in the stack.</p>\n";
    return page + "</body></html>";
}

QString findBook() {
    static const QString path = testsupport::writeScratchFile(
        "find.chm",
        testsupport::writeChm(
            {{"/#SYSTEM", testsupport::systemFile({{2, cstr("page.htm")}, {3, cstr("Find")}})},
             {"/page.htm", kPage},
             {"/other.htm", kOtherPage},
             {"/long.htm", longPage()}}));
    return path;
}

// Runs the script in the reader's script world, where the marks' functions live.
QVariant inReaderWorld(QWebEnginePage* page, const QString& script) {
    auto result = std::make_shared<std::pair<bool, QVariant>>(false, QVariant());
    page->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                        [result](const QVariant& value) {
                            *result = {true, value};
                        });
    if (!waitUntil([&] { return result->first; }))
        return {};
    return result->second;
}

int markCount(QWebEnginePage* page) {
    return inReaderWorld(page, "document.querySelectorAll('.lumeno-highlight').length").toInt();
}

// The document-order numbers of the spans marked current, as "4,5".
QString currentSpans(QWebEnginePage* page) {
    return inReaderWorld(page, "(function(){var all=Array.from("
                               "document.querySelectorAll('.lumeno-highlight'));"
                               "return all.map(function(s,i){"
                               "return s.classList.contains('lumeno-highlight-current')?i:-1;})"
                               ".filter(function(i){return i>=0;}).join(',');})()")
        .toString();
}

// The text of the current match, across its spans.
QString currentText(QWebEnginePage* page) {
    return inReaderWorld(page, "Array.from(document.querySelectorAll('.lumeno-highlight-current'))"
                               ".map(function(s){return s.textContent;}).join('')")
        .toString();
}

bool waitForLabel(CHMWebViewController* controller, const QString& text) {
    const bool shown = waitUntil([&] { return controller->matchLabel()->text() == text; });
    EXPECT_TRUE(shown) << "label is \"" << controller->matchLabel()->text().toStdString()
                       << "\", expected \"" << text.toStdString() << "\"";
    return shown;
}

} // namespace

// Readable failures.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

class FindInPage : public WindowTestFixture {
protected:
    CHMDocumentWindow* openBook() { return openWindow(findBook()); }

    static bool load(CHMDocumentWindow* window, const QString& path) {
        webtest::LoadWatcher loads(window);
        window->loadPath(path);
        return loads.waitForLoads(1) && loads.lastOk();
    }
};

TEST_F(FindInPage, FindBarMarksEveryMatchStepsBothWaysAndLeavesThePageAsItWas) {
    CHMDocumentWindow* window = openBook();
    ASSERT_NE(window, nullptr);
    CHMWebViewController* controller = window->currentController();
    QWebEnginePage* page = currentPage(window);
    const QString before = runJavaScript(page, "document.body.innerHTML").toString();
    ASSERT_FALSE(before.isEmpty());

    window->findAction()->trigger();
    ASSERT_FALSE(controller->findPanel()->isHidden());
    QTest::keyClicks(controller->searchField(), "LanTern");
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));
    // Five matches in six spans (one crosses <b>); nothing in the script, the style sheet, the
    // text area or across the paragraph edge.
    EXPECT_EQ(markCount(page), 6);
    EXPECT_EQ(currentSpans(page), "0");
    EXPECT_EQ(currentText(page), "Lantern");
    // The page's own scripts cannot see the reader's functions.
    EXPECT_EQ(runJavaScript(page, "typeof highlight + typeof scrollToHighlight"
                                  " + typeof removeHighlight")
                  .toString(),
              "undefinedundefinedundefined");
    EXPECT_EQ(inReaderWorld(page, "typeof highlight + typeof scrollToHighlight"
                                  " + typeof removeHighlight")
                  .toString(),
              "functionfunctionfunction");

    QLineEdit* field = controller->searchField();
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitForLabel(controller, "2 of 5"));
    EXPECT_EQ(currentSpans(page), "1");
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_TRUE(waitForLabel(controller, "5 of 5"));
    EXPECT_EQ(currentSpans(page), "4,5");
    EXPECT_EQ(currentText(page), "lantern");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));

    // The two segments, through the window and as buttons, and the menu items.
    window->findInFile(0);
    ASSERT_TRUE(waitForLabel(controller, "5 of 5"));
    window->findInFile(1);
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));
    controller->nextButton()->click();
    ASSERT_TRUE(waitForLabel(controller, "2 of 5"));
    controller->previousButton()->click();
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));
    window->findPreviousAction()->trigger();
    ASSERT_TRUE(waitForLabel(controller, "5 of 5"));
    window->findNextAction()->trigger();
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));

    // Escape ends finding: the bar goes, and so do the marks, without a trace in the page. The
    // text node a page script holds reads whole again.
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(controller->findPanel()->isHidden());
    EXPECT_EQ(markCount(page), 0);
    EXPECT_TRUE(controller->matchLabel()->text().isEmpty());
    EXPECT_EQ(runJavaScript(page, "document.body.innerHTML").toString(), before);
    EXPECT_EQ(runJavaScript(page, "keep.data + '|' + keep.parentNode.id").toString(),
              "A Lantern, a lantern, a LANTERN.|a");

    field->setText("no such word");
    ASSERT_TRUE(waitForLabel(controller, "Not found"));
    EXPECT_EQ(markCount(page), 0);
}

TEST_F(FindInPage, ShowingTheFindBarTwiceShrinksThePageOnceAndFocusesTheFieldEachTime) {
    CHMDocumentWindow* window = openBook();
    ASSERT_NE(window, nullptr);
    CHMWebViewController* controller = window->currentController();
    CHMWebView* view = controller->webView();
    const int fullHeight = view->height();

    window->showFindPanel();
    ASSERT_TRUE(waitUntil([&] { return view->height() < fullHeight; }));
    const int shrunk = view->height();
    EXPECT_EQ(window->focusWidget(), controller->searchField());

    view->setFocus();
    ASSERT_NE(window->focusWidget(), controller->searchField());
    window->showFindPanel();
    EXPECT_EQ(window->focusWidget(), controller->searchField());
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(view->height(), shrunk);

    controller->doneButton()->click();
    EXPECT_TRUE(controller->findPanel()->isHidden());
    EXPECT_TRUE(waitUntil([&] { return view->height() == fullHeight; }));
}

TEST_F(FindInPage, EachTabHasItsOwnFindBarAndMarks) {
    CHMDocumentWindow* window = openBook();
    ASSERT_NE(window, nullptr);
    CHMWebViewController* first = window->currentController();
    CHMWebViewController* second = window->addNewTab();
    ASSERT_TRUE(load(window, "page.htm"));

    window->showFindPanel();
    EXPECT_FALSE(second->findPanel()->isHidden());
    EXPECT_TRUE(first->findPanel()->isHidden());
    second->searchField()->setText("here");
    ASSERT_TRUE(waitForLabel(second, "1 of 1"));

    window->docTabView()->setCurrentWidget(first);
    window->showFindPanel();
    first->searchField()->setText("lantern");
    ASSERT_TRUE(waitForLabel(first, "1 of 5"));
    EXPECT_EQ(second->matchLabel()->text(), "1 of 1");
    EXPECT_EQ(markCount(second->webView()->page()), 1);

    // Done in the selected tab hides its bar and clears its page only.
    window->doneFindAction()->trigger();
    EXPECT_TRUE(first->findPanel()->isHidden());
    EXPECT_EQ(markCount(first->webView()->page()), 0);
    EXPECT_FALSE(second->findPanel()->isHidden());
    EXPECT_EQ(markCount(second->webView()->page()), 1);
    EXPECT_EQ(second->searchField()->text(), "here");
}

TEST_F(FindInPage, TextsAreLookedForAsTypedAndNeverRunAsScript) {
    CHMDocumentWindow* window = openBook();
    ASSERT_NE(window, nullptr);
    CHMWebViewController* controller = window->currentController();
    QWebEnginePage* page = currentPage(window);
    const QString before = runJavaScript(page, "document.body.innerHTML").toString();
    window->showFindPanel();
    QLineEdit* field = controller->searchField();

    const QStringList hostile{
        R"(x'); window.pwned = 1; (')",
        R"(\'); window.pwned = 1; //)",
        R"("); window.pwned = 1; //)",
        "</script><script>window.pwned = 1</script>",
        QStringLiteral("\u2028window.pwned = 1;//"),
    };
    for (const QString& text : hostile) {
        SCOPED_TRACE(text.toStdString());
        field->setText(text);
        EXPECT_TRUE(waitForLabel(controller, "Not found"));
        field->setText(QString());
    }
    EXPECT_EQ(inReaderWorld(page, "typeof window.pwned").toString(), "undefined");
    EXPECT_EQ(runJavaScript(page, "typeof window.pwned").toString(), "undefined");

    const QStringList found{
        R"('it's')",
        R"("fine")",
        R"(C:\path\file)",
        R"(</script>)",
        R"(said 'it's' "fine" in C:\path\file </script> ok)",
        "one\nline",
    };
    for (const QString& text : found) {
        SCOPED_TRACE(text.toStdString());
        field->setText(text);
        ASSERT_TRUE(waitForLabel(controller, "1 of 1"));
        EXPECT_EQ(currentText(page), text);
        // Emptying the field only removes the marks.
        field->setText(QString());
        EXPECT_EQ(markCount(page), 0);
        EXPECT_TRUE(controller->matchLabel()->text().isEmpty());
        EXPECT_FALSE(controller->findPanel()->isHidden());
        EXPECT_EQ(runJavaScript(page, "document.body.innerHTML").toString(), before);
    }

    // The engine reads each literal back as the very text.
    for (const QString& text : found + hostile) {
        EXPECT_EQ(inReaderWorld(page, javaScriptStringLiteral(text)).toString(), text);
    }
}

TEST_F(FindInPage, PagesLoadedWhileTheSidebarSearchHoldsWordsShowThemMarked) {
    CHMDocumentWindow* window = openBook();
    ASSERT_NE(window, nullptr);
    window->sidebar()->searchField()->setText("Lantern");

    ASSERT_TRUE(load(window, "other.htm"));
    QWebEnginePage* page = currentPage(window);
    EXPECT_TRUE(waitUntil([&] { return markCount(page) == 2; }));
    ASSERT_TRUE(waitForLabel(window->currentController(), "1 of 2"));
    EXPECT_EQ(currentSpans(page), "0");
    // Scrolled down to the first mark.
    EXPECT_GT(runJavaScript(page, "window.scrollY").toDouble(), 1000);

    // A page that loads in a tab that is not selected is marked there, not in the current tab.
    CHMWebViewController* background = window->createWebViewInTab();
    ASSERT_NE(window->currentController(), background);
    webtest::LoadWatcher loads(window);
    background->webView()->load(CHMDocument::composeURL("page.htm"));
    ASSERT_TRUE(loads.waitForLoads(1));
    EXPECT_TRUE(waitUntil([&] { return markCount(background->webView()->page()) == 6; }));
    EXPECT_EQ(markCount(page), 2);
}

TEST_F(FindInPage, LongPageIsMarkedCompletelyAndSteppedThrough) {
    CHMDocumentWindow* window = openBook();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(load(window, "long.htm"));
    CHMWebViewController* controller = window->currentController();
    QWebEnginePage* page = currentPage(window);
    window->showFindPanel();

    controller->searchField()->setText("NEEDLE");
    const QString total = QString::number(kLongPageMatches);
    ASSERT_TRUE(waitForLabel(controller, "1 of " + total));
    EXPECT_EQ(markCount(page), kLongPageMatches);

    QTest::keyClick(controller->searchField(), Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_TRUE(waitForLabel(controller, total + " of " + total));
    EXPECT_EQ(currentSpans(page), QString::number(kLongPageMatches - 1));
    EXPECT_GT(runJavaScript(page, "window.scrollY").toDouble(), 10000);
    QTest::keyClick(controller->searchField(), Qt::Key_Return);
    ASSERT_TRUE(waitForLabel(controller, "1 of " + total));
    EXPECT_LT(runJavaScript(page, "window.scrollY").toDouble(), 1000);

    window->doneFind();
    EXPECT_EQ(markCount(page), 0);
    EXPECT_EQ(runJavaScript(page, "document.querySelectorAll('p').length").toInt(),
              kLongPageMatches);
}

TEST_F(FindInPage, AfterAnotherPageLoadsReturnFindsTheFieldsTextAgain) {
    CHMDocumentWindow* window = openBook();
    ASSERT_NE(window, nullptr);
    CHMWebViewController* controller = window->currentController();
    window->showFindPanel();
    controller->searchField()->setText("lantern");
    ASSERT_TRUE(waitForLabel(controller, "1 of 5"));

    ASSERT_TRUE(load(window, "other.htm"));
    EXPECT_TRUE(controller->matchLabel()->text().isEmpty());
    QTest::keyClick(controller->searchField(), Qt::Key_Return);
    ASSERT_TRUE(waitForLabel(controller, "1 of 2"));
    QTest::keyClick(controller->searchField(), Qt::Key_Return);
    ASSERT_TRUE(waitForLabel(controller, "2 of 2"));
}
