#include "CHMWebView.h"

#include "CHMWebPage.h"

#include <QChildEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>

CHMWebView::CHMWebView(QWidget* parent) : QWebEngineView(parent) {
    auto* down = new QShortcut(QKeySequence(Qt::Key_PageDown), this, nullptr, nullptr,
                               Qt::WidgetWithChildrenShortcut);
    connect(down, &QShortcut::activated, this, &CHMWebView::scrollPageDown);
    auto* up = new QShortcut(QKeySequence(Qt::Key_PageUp), this, nullptr, nullptr,
                             Qt::WidgetWithChildrenShortcut);
    connect(up, &QShortcut::activated, this, &CHMWebView::scrollPageUp);
}

CHMWebView::~CHMWebView() = default;

CHMWebPage* CHMWebView::chmPage() const {
    return qobject_cast<CHMWebPage*>(page());
}

void CHMWebView::scrollPageDown() {
    emit pageDownRequested();
}

void CHMWebView::scrollPageUp() {
    emit pageUpRequested();
}

QMenu* CHMWebView::createContextMenu() {
    QMenu* menu = createStandardContextMenu();
    const QWebEnginePage::WebAction unsupported[] = {
        QWebEnginePage::ViewSource,          QWebEnginePage::SavePage,
        QWebEnginePage::DownloadLinkToDisk,  QWebEnginePage::DownloadImageToDisk,
        QWebEnginePage::DownloadMediaToDisk, QWebEnginePage::InspectElement,
        QWebEnginePage::OpenLinkInNewWindow, QWebEnginePage::OpenLinkInNewBackgroundTab,
    };
    for (const QWebEnginePage::WebAction action : unsupported) {
        if (QAction* item = pageAction(action))
            menu->removeAction(item);
    }
    // Two separators in a row (or one at either end) are what the removals leave behind.
    QAction* previous = nullptr;
    for (QAction* item : menu->actions()) {
        if (item->isSeparator() && (!previous || previous->isSeparator()))
            menu->removeAction(item);
        else
            previous = item;
    }
    if (!menu->actions().isEmpty() && menu->actions().constLast()->isSeparator())
        menu->removeAction(menu->actions().constLast());
    // The right click on a link is the user's gesture for its "Open Link in New Tab", which the
    // engine turns into a new-window request at once, before any slot of ours could run.
    if (CHMWebPage* page = chmPage();
        page && menu->actions().contains(pageAction(QWebEnginePage::OpenLinkInNewTab)))
        page->noteUserAction();
    return menu;
}

void CHMWebView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose, true);
    if (menu->actions().isEmpty()) {
        delete menu;
        return;
    }
    menu->popup(event->globalPos());
    emit contextMenuShown(menu);
}

bool CHMWebView::event(QEvent* event) {
    // The engine renders into a child widget that receives the input, and makes a new one
    // when the page's renderer changes.
    if (event->type() == QEvent::ChildAdded)
        watchRenderWidget(static_cast<QChildEvent*>(event)->child());
    return QWebEngineView::event(event);
}

void CHMWebView::watchRenderWidget(QObject* child) {
    if (child && child->isWidgetType()) {
        child->removeEventFilter(this);
        child->installEventFilter(this);
    }
}

bool CHMWebView::eventFilter(QObject* watched, QEvent* event) {
    bool userAction = false;
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto button = static_cast<QMouseEvent*>(event)->button();
        userAction = button == Qt::LeftButton || button == Qt::MiddleButton;
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        userAction = key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
    }
    if (userAction) {
        if (CHMWebPage* page = chmPage())
            page->noteUserAction();
    }
    return QWebEngineView::eventFilter(watched, event);
}
