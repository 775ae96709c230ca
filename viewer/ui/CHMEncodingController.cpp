#include "CHMEncodingController.h"

#include "CHMDocument.h"
#include "CHMTextEncodingMenu.h"
#include "CHMWebView.h"
#include "CHMWebViewController.h"
#include "LumenoLogging.h"

#include <QAction>
#include <QMenu>
#include <QToolButton>

CHMEncodingController::CHMEncodingController(QWidget& window, CHMDocument& document,
                                             CHMTabAccess tabs, CHMTextEncodingMenu* menu)
    : m_window(window), m_document(document), m_tabs(std::move(tabs)), m_menu(menu) {
    m_textEncodingPopupOutlet = new QToolButton(&m_window);
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
        if (m_menu && popupMenu->isEmpty()) {
            m_menu->initEncodingMenu(popupMenu);
            setupEncodingMenu();
        }
    });

    if (m_menu) {
        connect(m_menu, &CHMTextEncodingMenu::updateRequested, this, [this] {
            if (m_window.isActiveWindow())
                setupEncodingMenu();
        });
        connect(m_menu, &CHMTextEncodingMenu::encodingChosen, this, [this](int tag) {
            if (m_menu->target() == &m_window)
                changeEncoding(tag);
        });
        m_menu->initEncodingMenu(popupMenu);
    }
    setupEncodingMenu();
}

CHMEncodingController::~CHMEncodingController() = default;

QString CHMEncodingController::getEncodingByTag(int tag) const {
    return m_menu ? m_menu->getEncodingByTag(tag) : QString();
}

void CHMEncodingController::setupEncodingMenu() {
    QList<QAction*> items;
    if (m_menu) {
        m_menu->setTarget(&m_window);
        items = m_menu->menu()->actions();
    }
    items += m_textEncodingPopupOutlet->menu()->actions();
    for (QAction* item : items) {
        item->setChecked(CHMTextEncodingMenu::tagOf(item) == m_customizedEncodingTag);
        item->setEnabled(true);
    }
    showEncodingInPopup();
}

void CHMEncodingController::resetEncodingMenu() {
    QList<QAction*> items;
    // The application's menu acts on another window's document now and then: leave it to that.
    if (m_menu && (!m_menu->target() || m_menu->target() == &m_window)) {
        m_menu->setTarget(nullptr);
        items = m_menu->menu()->actions();
    }
    items += m_textEncodingPopupOutlet->menu()->actions();
    for (QAction* item : items) {
        item->setChecked(CHMTextEncodingMenu::tagOf(item) == 0);
        item->setEnabled(false);
    }
}

void CHMEncodingController::showEncodingInPopup() {
    const QString title = m_menu ? m_menu->titleForTag(m_customizedEncodingTag) : QString();
    m_textEncodingPopupOutlet->setText(title.isEmpty() ? tr("Text Encoding") : title);
    m_textEncodingPopupOutlet->setEnabled(!m_textEncodingPopupOutlet->menu()->isEmpty() ||
                                          (m_menu && !m_menu->isInitialized()));
}

void CHMEncodingController::changeEncoding(int tag) {
    const QString name = getEncodingByTag(tag);
    if (tag != 0 && name.isEmpty()) {
        qCWarning(lcEncoding) << "no text encoding has the tag" << tag
                              << "; the encoding stays as it is";
        // The item the user chose may have checked itself: mark the real choice again.
        setupEncodingMenu();
        return;
    }
    m_customizedEncodingTag = tag;
    // Empty: automatic, the file's own encoding.
    m_document.setCustomizedEncodingName(name);
    setupEncodingMenu();

    // The scheme handler reads the encoding when a request starts, and the engine obeys the
    // charset of the reply over the page's own declaration. A plain reload asks for the page
    // alone and takes its style sheets and scripts from the engine's memory cache, in the old
    // charset; bypassing the cache has them all served anew.
    for (CHMWebViewController* controller : m_tabs.all()) {
        CHMWebView* view = controller ? controller->webView() : nullptr;
        if (view && !view->url().isEmpty())
            view->triggerPageAction(QWebEnginePage::ReloadAndBypassCache);
    }

    // The trees in the new encoding replace the old ones in the sidebar when they arrive.
    emit encodingChanged();
}
