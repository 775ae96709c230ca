// A test fixture that opens compiled test books in document windows on the real web engine and
// waits for their pages. Each test starts with empty preferences.
#pragma once

#include "CHMDocumentWindow.h"
#include "CHMWebView.h"
#include "TestChmWriter.h"
#include "WebTestSupport.h"

#include <QPointer>
#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

class CHMDocument;
class CHMTextEncodingMenu;
class QModelIndex;
class QTreeView;

class WindowTestFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The document of the file, opened as the reader opens it; nullptr (and a failed
    // expectation) when it does not open.
    static std::unique_ptr<CHMDocument> openDocument(const QString& path);
    // Opens the file in a shown window and waits for its first page; nullptr (and a failed
    // expectation) when that does not happen.
    CHMDocumentWindow* openWindow(const QString& path);
    CHMDocumentWindow* openFixture(const QString& name);
    // Writes a book of the pages (uncompressed) into the scratch folder, with "index.htm" as
    // its home page and the title; answers its path.
    static QString writeCraftedBook(const QString& fileName, const QByteArray& title,
                                    std::vector<testsupport::ChmObject> pages);

    // The current tab's page, URL path and document.body.innerText.
    static QWebEnginePage* currentPage(CHMDocumentWindow* window);
    static QString currentPath(CHMDocumentWindow* window);
    static QString bodyText(QWebEnginePage* page);

    // The row of the contents list with that name (searched at every level).
    static QModelIndex tocRow(CHMDocumentWindow* window, const QString& name);
    // Clicks the contents row as the user would.
    static void clickTocRow(CHMDocumentWindow* window, const QString& name,
                            Qt::KeyboardModifiers modifiers = {});

    // The application's Text Encoding menu the windows get; none unless a test sets one.
    CHMTextEncodingMenu* encodingMenu = nullptr;

private:
    std::vector<QPointer<CHMDocumentWindow>> m_windows;
};
