// The window's text encoding on the real web engine: a chosen encoding serves every tab anew
// and re-reads the contents, automatic restores the file's own, and the application's menu and
// each window's pop-up mark the same choice.
#include "CHMDocument.h"
#include "CHMOutlineView.h"
#include "CHMSidebar.h"
#include "CHMTextEncodingMenu.h"
#include "CHMWebViewController.h"
#include "LinkItem.h"
#include "TestSupport.h"
#include "WindowTestFixture.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QTabWidget>
#include <QToolButton>
#include <memory>

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
    for (const QChar c : text) {
        if (c.unicode() >= 0x0400 && c.unicode() <= 0x04FF)
            return true;
    }
    return false;
}

QString characterSet(QWebEnginePage* page) {
    return runJavaScript(page, QStringLiteral("document.characterSet")).toString();
}

// The names of the contents list's top-level rows, joined.
QString contentsNames(CHMDocumentWindow* window) {
    const QAbstractItemModel* model = window->sidebar()->tocView()->model();
    QStringList names;
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names.join(QLatin1Char('|'));
}

bool activate(CHMDocumentWindow* window) {
    window->activateWindow();
    return waitUntil([window] { return QApplication::activeWindow() == window; });
}

} // namespace

class WindowEncoding : public WindowTestFixture {
protected:
    // The application's menu, made before the windows and gone after them.
    std::unique_ptr<CHMTextEncodingMenu> menus = std::make_unique<CHMTextEncodingMenu>();
};

TEST_F(WindowEncoding, WrongEncodingGarblesEveryTabAndTheContentsAndAutomaticMendsThem) {
    const QString path = testsupport::corpusPath("ru-cp1251-kord-help.chm");
    if (!QFile::exists(path))
        GTEST_SKIP() << "the corpus is not here";
    CHMDocumentWindow* window = openWindow(path);
    ASSERT_NE(window, nullptr);
    webtest::LoadWatcher loads(window);
    window->addNewTab();
    window->loadPath("help5.html");
    ASSERT_TRUE(loads.waitForLoads(1));
    QWebEnginePage* first = window->controllerAt(0)->webView()->page();
    QWebEnginePage* second = window->controllerAt(1)->webView()->page();
    EXPECT_EQ(characterSet(first), "windows-1251");
    EXPECT_TRUE(hasCyrillic(bodyText(first)));
    EXPECT_TRUE(contentsNames(window).startsWith("Главная страница"))
        << contentsNames(window).toStdString();

    // Western in the window's pop-up: the Cyrillic bytes read as Latin letters everywhere.
    const int western = menus->tagForEncoding("CP1252");
    ASSERT_GT(western, 0);
    QAction* westernItem = itemWithTag(window->textEncodingPopup()->menu(), western);
    ASSERT_NE(westernItem, nullptr);
    loads.reset();
    westernItem->trigger();
    ASSERT_TRUE(loads.waitForLoads(2));
    EXPECT_EQ(window->document()->currentEncodingName(), "CP1252");
    for (QWebEnginePage* page : {first, second}) {
        EXPECT_EQ(characterSet(page), "windows-1252");
        const QString text = bodyText(page);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(hasCyrillic(text)) << text.left(200).toStdString();
    }
    EXPECT_FALSE(hasCyrillic(contentsNames(window))) << contentsNames(window).toStdString();
    // The rebuilt contents mark the current page again.
    const LinkItem* located = window->sidebar()->selectedTocItem();
    ASSERT_NE(located, nullptr);
    EXPECT_EQ(located->path(), "help5.html");
    // The pop-up and the application's menu show the same choice.
    EXPECT_EQ(checkedTags(window->textEncodingPopup()->menu()), QList<int>{western});
    EXPECT_EQ(checkedTags(menus->menu()), QList<int>{western});
    EXPECT_EQ(window->textEncodingPopup()->text(), menus->titleForTag(western));

    // Automatic from the application's menu: the file's own encoding again.
    QAction* automatic = itemWithTag(menus->menu(), 0);
    ASSERT_NE(automatic, nullptr);
    ASSERT_TRUE(automatic->isEnabled());
    loads.reset();
    automatic->trigger();
    ASSERT_TRUE(loads.waitForLoads(2));
    EXPECT_EQ(window->document()->currentEncodingName(), "CP1251");
    for (QWebEnginePage* page : {first, second}) {
        EXPECT_EQ(characterSet(page), "windows-1251");
        EXPECT_TRUE(hasCyrillic(bodyText(page)));
    }
    EXPECT_TRUE(contentsNames(window).startsWith("Главная страница"));
    EXPECT_EQ(checkedTags(window->textEncodingPopup()->menu()), QList<int>{0});
    EXPECT_EQ(checkedTags(menus->menu()), QList<int>{0});
}

TEST_F(WindowEncoding, MenuMarksTheActiveWindowsChoiceAndIsDisabledOnceItsWindowCloses) {
    CHMDocumentWindow* nested = openFixture("nested");
    CHMDocumentWindow* sample = openFixture("sample");
    ASSERT_NE(nested, nullptr);
    ASSERT_NE(sample, nullptr);
    const int cyrillic = menus->tagForEncoding("CP1251");
    ASSERT_GT(cyrillic, 0);
    // Item i of each pop-up is a copy of item i of the menu, separators included.
    const QList<QAction*> items = menus->menu()->actions();
    const QList<QAction*> copies = nested->textEncodingPopup()->menu()->actions();
    ASSERT_EQ(copies.size(), items.size());
    for (qsizetype i = 0; i < items.size(); ++i) {
        EXPECT_EQ(copies[i]->isSeparator(), items[i]->isSeparator());
        EXPECT_EQ(copies[i]->text(), items[i]->text());
    }

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
