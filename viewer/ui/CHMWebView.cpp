#include "CHMWebView.h"

#include "CHMDocumentWindow.h"
#include "CHMWebPage.h"

#include <QChildEvent>
#include <QKeyEvent>
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

void CHMWebView::setDocument(CHMDocumentWindow* document) {
    m_document = document;
}

CHMDocumentWindow* CHMWebView::document() const {
    return m_document.data();
}

CHMWebPage* CHMWebView::chmPage() const {
    return qobject_cast<CHMWebPage*>(page());
}

void CHMWebView::scrollPageDown() {
    if (m_document)
        m_document->gotoPageDown();
}

void CHMWebView::scrollPageUp() {
    if (m_document)
        m_document->gotoPageUp();
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
