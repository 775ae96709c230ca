#include "WindowTestFixture.h"

#include <QSettings>

void WindowTestFixture::SetUp() {
    QSettings(QStringLiteral("Lumeno"), QStringLiteral("Lumeno+")).clear();
}

void WindowTestFixture::TearDown() {
    for (const QPointer<CHMDocumentWindow>& window : m_windows)
        delete window.data();
    m_windows.clear();
    // Let deferred deletions (closed tabs, closed windows) run before the next test.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

std::unique_ptr<CHMDocument> WindowTestFixture::openDocument(const QString& path,
                                                             CHMDocument::SitemapLoading loading) {
    QString error;
    std::unique_ptr<CHMDocument> document = CHMDocument::open(path, &error, loading);
    if (!document)
        ADD_FAILURE() << "cannot open " << path.toStdString() << ": " << error.toStdString();
    return document;
}

CHMDocumentWindow* WindowTestFixture::adopt(CHMDocumentWindow* window) {
    m_windows.emplace_back(window);
    return window;
}

CHMDocumentWindow* WindowTestFixture::openWindow(const QString& path) {
    std::unique_ptr<CHMDocument> document = openDocument(path);
    if (!document)
        return nullptr;
    auto* window = adopt(new CHMDocumentWindow(std::move(document), encodingMenu));
    webtest::LoadWatcher loads(window);
    window->show();
    if (!loads.waitForLoads(1) || !loads.lastOk()) {
        ADD_FAILURE() << "the first page of " << path.toStdString() << " did not load";
        return nullptr;
    }
    return window;
}

bool WindowTestFixture::load(CHMDocumentWindow* window, const QString& path) {
    webtest::LoadWatcher loads(window);
    window->loadPath(path);
    return loads.waitForLoads(1) && loads.lastOk();
}

QString WindowTestFixture::writeCraftedBook(const QString& fileName, const QByteArray& title,
                                            std::vector<testsupport::ChmObject> pages) {
    const QByteArray system = testsupport::systemFile(
        {{2, QByteArray("index.htm", 10)}, {3, title + QByteArray(1, '\0')}});
    pages.insert(pages.begin(), testsupport::ChmObject{"/#SYSTEM", system});
    return testsupport::writeScratchFile(fileName, testsupport::writeChm(pages));
}

QStringList WindowTestFixture::rowNames(const QAbstractItemModel* model) {
    QStringList names;
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names;
}

bool WindowTestFixture::activate(CHMDocumentWindow* window) {
    window->activateWindow();
    return webtest::waitUntil([window] { return QApplication::activeWindow() == window; });
}

void WindowTestFixture::clickTocRow(CHMDocumentWindow* window, const QString& name,
                                    Qt::KeyboardModifiers modifiers) {
    CHMOutlineView* view = window->sidebar()->tocView();
    const QModelIndexList found =
        view->model()->match(view->model()->index(0, 0), Qt::DisplayRole, name, 1,
                             Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_FALSE(found.isEmpty()) << "no contents row " << name.toStdString();
    const QModelIndex row = found.first();
    view->scrollTo(row);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, view->visualRect(row).center());
}
