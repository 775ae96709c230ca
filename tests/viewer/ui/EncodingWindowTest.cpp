// The window's text encoding on the real web engine: a choice serves every tab anew and re-reads
// the contents, automatic restores the file's own, the menu and each pop-up mark the choice.
#include "CHMTextEncodingMenu.h"
#include "WindowTestFixture.h"

#include <QToolButton>
#include <algorithm>

using webtest::runJavaScript;
using webtest::waitUntil;

namespace {

QAction* itemWithTag(QMenu* menu, int tag) {
    for (QAction* item : menu->actions()) {
        if (CHMTextEncodingMenu::tagOf(item) == tag)
            return item;
    }
    return nullptr;
}

// The tags of the checked items of a menu.
QList<int> checkedTags(QMenu* menu) {
    QList<int> tags;
    for (QAction* item : menu->actions()) {
        if (item->isChecked())
            tags << CHMTextEncodingMenu::tagOf(item);
    }
    return tags;
}

bool hasCyrillic(const QString& text) {
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.script() == QChar::Script_Cyrillic; });
}

} // namespace

class WindowEncoding : public WindowTestFixture {
protected:
    // The application's menu, made before the windows and gone after them.
    std::unique_ptr<CHMTextEncodingMenu> menus = std::make_unique<CHMTextEncodingMenu>();
    void SetUp() override {
        WindowTestFixture::SetUp();
        encodingMenu = menus.get();
    }
    // Every tab is announced in the charset and reads as Cyrillic or not, and so do the
    // contents; the window's pop-up and the application's menu mark the tag.
    void expectShown(CHMDocumentWindow* window, const char* charset, bool cyrillic, int tag) {
        for (int i = 0; i < window->tabCount(); ++i) {
            QWebEnginePage* page = window->controllerAt(i)->webView()->page();
            EXPECT_EQ(runJavaScript(page, "document.characterSet"), charset) << i;
            EXPECT_FALSE(bodyText(page).isEmpty()) << i;
            EXPECT_EQ(hasCyrillic(bodyText(page)), cyrillic) << i;
        }
        EXPECT_EQ(hasCyrillic(rowNames(window->sidebar()->tocView()->model()).join('|')), cyrillic);
        EXPECT_EQ(checkedTags(window->textEncodingPopup()->menu()), QList<int>{tag});
        EXPECT_EQ(checkedTags(menus->menu()), QList<int>{tag});
    }
};

TEST_F(WindowEncoding, WrongEncodingGarblesEveryTabAndTheContentsAndAutomaticMendsThem) {
    REQUIRE_CORPUS("ru-cp1251-kord-help.chm");
    const QString path = testsupport::corpusPath("ru-cp1251-kord-help.chm");
    CHMDocumentWindow* window = openWindow(path);
    ASSERT_NE(window, nullptr);
    webtest::LoadWatcher loads(window);
    window->addNewTab();
    window->loadPath("help5.html");
    ASSERT_TRUE(loads.waitForLoads(1));
    emit menus->menu()->aboutToShow();
    expectShown(window, "windows-1251", true, 0);
    // Western in the window's pop-up: the Cyrillic bytes read as Latin letters everywhere.
    const int western = menus->tagForEncoding("CP1252");
    ASSERT_GT(western, 0);
    loads.reset();
    QSignalSpy treesArrived(window, &CHMDocumentWindow::sitemapsLoaded);
    itemWithTag(window->textEncodingPopup()->menu(), western)->trigger();
    ASSERT_TRUE(loads.waitForLoads(2));
    // The contents are parsed again off the GUI thread and may come after the pages.
    ASSERT_TRUE(webtest::waitUntil([&] { return treesArrived.count() == 1; }));
    EXPECT_EQ(window->document()->currentEncodingName(), "CP1252");
    expectShown(window, "windows-1252", false, western);
    EXPECT_EQ(window->textEncodingPopup()->text(), menus->titleForTag(western));
    // The rebuilt contents mark the current page again.
    ASSERT_NE(window->sidebar()->selectedTocItem(), nullptr);
    EXPECT_EQ(window->sidebar()->selectedTocItem()->path(), "help5.html");
    // Automatic from the application's menu: the file's own encoding again.
    loads.reset();
    treesArrived.clear();
    itemWithTag(menus->menu(), 0)->trigger();
    ASSERT_TRUE(loads.waitForLoads(2));
    ASSERT_TRUE(webtest::waitUntil([&] { return treesArrived.count() == 1; }));
    EXPECT_EQ(window->document()->currentEncodingName(), "CP1251");
    expectShown(window, "windows-1251", true, 0);
}

TEST_F(WindowEncoding, MenuMarksTheActiveWindowsChoiceAndIsDisabledOnceItsWindowCloses) {
    CHMDocumentWindow* nested = openFixture("nested");
    CHMDocumentWindow* sample = openFixture("sample");
    ASSERT_NE(nested, nullptr);
    ASSERT_NE(sample, nullptr);
    const int cyrillic = menus->tagForEncoding("CP1251");
    ASSERT_GT(cyrillic, 0);
    webtest::LoadWatcher loads(nested);
    itemWithTag(nested->textEncodingPopup()->menu(), cyrillic)->trigger();
    ASSERT_TRUE(loads.waitForLoads(1));

    ASSERT_TRUE(activate(sample));
    emit menus->menu()->aboutToShow();
    EXPECT_EQ(menus->target(), sample);
    EXPECT_EQ(checkedTags(menus->menu()), QList<int>{0});
    EXPECT_EQ(checkedTags(sample->textEncodingPopup()->menu()), QList<int>{0});
    EXPECT_EQ(checkedTags(nested->textEncodingPopup()->menu()), QList<int>{cyrillic});

    ASSERT_TRUE(activate(nested));
    emit menus->menu()->aboutToShow();
    EXPECT_EQ(menus->target(), nested);
    EXPECT_EQ(checkedTags(menus->menu()), QList<int>{cyrillic});

    delete nested;
    EXPECT_EQ(menus->target(), nullptr);
    EXPECT_EQ(checkedTags(menus->menu()), QList<int>{0});
    for (QAction* item : menus->menu()->actions())
        EXPECT_FALSE(item->isEnabled()) << item->text().toStdString();
}
