// The document window's text encoding: the toolbar pop-up, its part in the application's Text
// Encoding menu, and the change of encoding, which serves every tab anew.
#include "CHMDocumentWindow.h"

#include "CHMDocument.h"
#include "CHMSidebar.h"
#include "CHMTextEncodingMenu.h"
#include "CHMWebView.h"
#include "CHMWebViewController.h"

#include <QAction>
#include <QMenu>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>

void CHMDocumentWindow::setupEncoding() {
    m_textEncodingPopupOutlet = new QToolButton(this);
    m_textEncodingPopupOutlet->setObjectName(QStringLiteral("textEncodingPopup"));
    m_textEncodingPopupOutlet->setPopupMode(QToolButton::InstantPopup);
    m_textEncodingPopupOutlet->setToolButtonStyle(Qt::ToolButtonTextOnly);
    m_textEncodingPopupOutlet->setToolTip(tr("Text Encoding"));
    auto* popupMenu = new QMenu(m_textEncodingPopupOutlet);
    m_textEncodingPopupOutlet->setMenu(popupMenu);
    connect(popupMenu, &QMenu::triggered, this, [this](QAction* item) {
        const int tag = CHMTextEncodingMenu::tagOf(item);
        if (tag >= 0)
            changeEncoding(tag);
    });
    // When the list could not be read at set-up, the pop-up tries again each time it opens.
    connect(popupMenu, &QMenu::aboutToShow, this, [this, popupMenu] {
        CHMTextEncodingMenu* menus = CHMTextEncodingMenu::shared();
        if (menus && popupMenu->isEmpty()) {
            menus->initEncodingMenu(popupMenu);
            setupEncodingMenu();
        }
    });
    if (auto* toolbar = findChild<QToolBar*>(QStringLiteral("mainToolbar"))) {
        toolbar->addSeparator();
        toolbar->addWidget(m_textEncodingPopupOutlet);
    } else {
        m_textEncodingPopupOutlet->hide();
    }

    if (CHMTextEncodingMenu* menus = CHMTextEncodingMenu::shared())
        menus->initEncodingMenu(popupMenu);
    setupEncodingMenu();
}

QString CHMDocumentWindow::getEncodingByTag(int tag) const {
    const CHMTextEncodingMenu* menus = CHMTextEncodingMenu::shared();
    return menus ? menus->getEncodingByTag(tag) : QString();
}

void CHMDocumentWindow::setupEncodingMenu() {
    CHMTextEncodingMenu* menus = CHMTextEncodingMenu::shared();
    QList<QAction*> items;
    if (menus) {
        menus->setTarget(this);
        items = menus->menu()->actions();
    }
    if (m_textEncodingPopupOutlet)
        items += m_textEncodingPopupOutlet->menu()->actions();
    for (QAction* item : items) {
        item->setChecked(CHMTextEncodingMenu::tagOf(item) == m_customizedEncodingTag);
        item->setEnabled(true);
    }
    showEncodingInPopup();
}

void CHMDocumentWindow::resetEncodingMenu() {
    QList<QAction*> items;
    CHMTextEncodingMenu* menus = CHMTextEncodingMenu::shared();
    // The application's menu acts on another window's document now and then: leave it to that.
    if (menus && (!menus->target() || menus->target() == this)) {
        menus->setTarget(nullptr);
        items = menus->menu()->actions();
    }
    if (m_textEncodingPopupOutlet)
        items += m_textEncodingPopupOutlet->menu()->actions();
    for (QAction* item : items) {
        item->setChecked(CHMTextEncodingMenu::tagOf(item) == 0);
        item->setEnabled(false);
    }
}

void CHMDocumentWindow::showEncodingInPopup() {
    if (!m_textEncodingPopupOutlet)
        return;
    const CHMTextEncodingMenu* menus = CHMTextEncodingMenu::shared();
    const QString title = menus ? menus->titleForTag(m_customizedEncodingTag) : QString();
    m_textEncodingPopupOutlet->setText(title.isEmpty() ? tr("Text Encoding") : title);
    m_textEncodingPopupOutlet->setEnabled(!m_textEncodingPopupOutlet->menu()->isEmpty() ||
                                          (menus && !menus->isInitialized()));
}

void CHMDocumentWindow::changeEncoding(int tag) {
    const QString name = getEncodingByTag(tag);
    if (tag != 0 && name.isEmpty()) {
        qWarning("Lumeno+: no text encoding has the tag %d; the encoding stays as it is", tag);
        // The item the user chose may have checked itself: mark the real choice again.
        setupEncodingMenu();
        return;
    }
    m_customizedEncodingTag = tag;
    // Empty: automatic, the file's own encoding.
    m_document->setCustomizedEncodingName(name);
    setupEncodingMenu();

    // The scheme handler reads the encoding when a request starts, and the engine obeys the
    // charset of the reply over the page's own declaration. A plain reload asks for the page
    // alone and takes its style sheets and scripts from the engine's memory cache, in the old
    // charset; bypassing the cache has them all served anew.
    for (int i = 0; i < tabCount(); ++i) {
        CHMWebView* view = controllerAt(i) ? controllerAt(i)->webView() : nullptr;
        if (view && !view->url().isEmpty())
            view->triggerPageAction(QWebEnginePage::ReloadAndBypassCache);
    }

    m_document->setupTOCSource();
    m_sidebar->setTocSource(m_document->tocSource());
    m_sidebar->setIndexSource(m_document->indexSource());
    locateTOC();
}
