// A test fixture that opens compiled test books in document windows on the real web engine and
// waits for their pages. Each test starts with empty preferences. It brings the headers of the
// window's parts that the tests drive.
#pragma once

#include "CHMDocument.h"
#include "CHMDocumentWindow.h"
#include "CHMFilePreferences.h"
#include "CHMOutlineView.h"
#include "CHMSidebar.h"
#include "CHMWebView.h"
#include "CHMWebViewController.h"
#include "LinkItem.h"
#include "SidebarSplitter.h"
#include "TestChmWriter.h"
#include "TestSupport.h"
#include "WebTestSupport.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSignalSpy>
#include <QString>
#include <QTabWidget>
#include <QTest>
#include <QWebEnginePage>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

class CHMTextEncodingMenu;

class WindowTestFixture : public ::testing::Test {
public:
    // Writes a book of the pages (uncompressed) into the scratch folder, with "index.htm" as
    // its home page and the title; answers its path.
    static QString writeCraftedBook(const QString& fileName, const QByteArray& title,
                                    std::vector<testsupport::ChmObject> pages);
    // The texts of the model's top-level rows.
    static QStringList rowNames(const QAbstractItemModel* model);
    // Makes the window the active one and waits until it is; false on timeout.
    static bool activate(CHMDocumentWindow* window);

protected:
    void SetUp() override;
    void TearDown() override;
    // The document of the file, opened as the reader opens it; nullptr (and a failed
    // expectation) when it does not open.
    static std::unique_ptr<CHMDocument>
    openDocument(const QString& path,
                 CHMDocument::SitemapLoading loading = CHMDocument::SitemapLoading::Now);
    // The window is deleted when the test ends, unless it is gone by then.
    CHMDocumentWindow* adopt(CHMDocumentWindow* window);
    // Opens the file in a shown window and waits for its first page; nullptr (and a failed
    // expectation) when that does not happen.
    CHMDocumentWindow* openWindow(const QString& path);
    CHMDocumentWindow* openFixture(const QString& name) {
        return openWindow(testsupport::fixturePath(name));
    }
    // Loads the book's page in the current tab and waits; true when it loaded.
    static bool load(CHMDocumentWindow* window, const QString& path);
    // The current tab's page, URL path and document.body.innerText.
    static QWebEnginePage* currentPage(CHMDocumentWindow* w) { return w->curWebView()->page(); }
    static QString currentPath(CHMDocumentWindow* w) { return w->curWebView()->url().path(); }
    static QString bodyText(QWebEnginePage* page) {
        return webtest::runJavaScript(page, "document.body.innerText").toString();
    }
    // Clicks the contents row with that name (searched at every level) as the user would.
    static void clickTocRow(CHMDocumentWindow* window, const QString& name,
                            Qt::KeyboardModifiers modifiers = {});
    // The application's Text Encoding menu the windows get; none unless a test sets one.
    CHMTextEncodingMenu* encodingMenu = nullptr;

private:
    std::vector<QPointer<CHMDocumentWindow>> m_windows;
};

// Each test starts with the nested book open at its home page.
class NestedWindow : public WindowTestFixture {
protected:
    void SetUp() override {
        WindowTestFixture::SetUp();
        window = openFixture("nested");
        ASSERT_NE(window, nullptr);
    }
    CHMDocumentWindow* window = nullptr;
};
