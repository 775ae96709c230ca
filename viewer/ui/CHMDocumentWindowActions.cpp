// The window's commands, toolbar and shortcuts: making the actions, zoom, printing, full
// screen and the focus commands.
#include "CHMDocumentWindow.h"

#include "CHMDocumentWindowSupport.h"
#include "CHMFilePreferences.h"
#include "CHMOutlineView.h"
#include "CHMPrintJob.h"
#include "CHMSidebar.h"
#include "CHMWebView.h"
#include "ResourceLocator.h"
#include "SidebarSplitter.h"
#include "ToolbarCustomizer.h"
#include "ZoomLevels.h"

#include <QAction>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QToolBar>
#include <QWebEngineHistory>

using documentwindow::kZoomFactorKey;

namespace {

QIcon resourceIcon(const QString& name) {
    const QString path = ResourceLocator::resourcePath(QStringLiteral("icons/") + name);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

} // namespace

QAction* CHMDocumentWindow::makeAction(const QString& text, const QString& iconName,
                                       const std::function<void()>& slot) {
    auto* action = new QAction(text, this);
    if (!iconName.isEmpty())
        action->setIcon(resourceIcon(iconName));
    connect(action, &QAction::triggered, this, slot);
    // Added to the window so that the shortcuts work with or without a menu bar.
    addAction(action);
    return action;
}

void CHMDocumentWindow::setupActions() {
    m_toggleSidebarAction = makeAction(tr("Show/Hide Sidebar"), QStringLiteral("Sidebar.svg"),
                                       [this] { toggleSidebar(); });
    m_toggleSidebarAction->setObjectName(QStringLiteral("toggleSidebar"));
    m_toggleSidebarAction->setCheckable(true);
    m_toggleSidebarAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+S")));
    connect(m_splitView, &SidebarSplitter::sidebarVisibilityChanged, m_toggleSidebarAction,
            &QAction::setChecked);

    m_homeAction = makeAction(tr("Home"), QStringLiteral("Home.svg"), [this] { goHome(); });
    m_homeAction->setObjectName(QStringLiteral("home"));
    m_homeAction->setShortcut(QKeySequence(QStringLiteral("Alt+Home")));
    m_backAction = makeAction(tr("Back"), QStringLiteral("Back.svg"), [this] { goBack(); });
    m_backAction->setObjectName(QStringLiteral("back"));
    m_backAction->setShortcut(QKeySequence::Back);
    m_forwardAction =
        makeAction(tr("Forward"), QStringLiteral("Forward.svg"), [this] { goForward(); });
    m_forwardAction->setObjectName(QStringLiteral("forward"));
    m_forwardAction->setShortcut(QKeySequence::Forward);

    m_zoomOutAction =
        makeAction(tr("Zoom Out"), QStringLiteral("ZoomOut.svg"), [this] { zoomOut(); });
    m_zoomOutAction->setObjectName(QStringLiteral("zoomOut"));
    m_zoomOutAction->setShortcut(QKeySequence::ZoomOut);
    m_zoomOutAction->setToolTip(tr("Smaller text"));
    m_zoomInAction = makeAction(tr("Zoom In"), QStringLiteral("ZoomIn.svg"), [this] { zoomIn(); });
    m_zoomInAction->setObjectName(QStringLiteral("zoomIn"));
    m_zoomInAction->setShortcuts({QKeySequence::ZoomIn, QKeySequence(QStringLiteral("Ctrl+="))});
    m_zoomInAction->setToolTip(tr("Larger text"));
    m_actualSizeAction = makeAction(tr("Actual Size"), QString(), [this] { actualSize(); });
    m_actualSizeAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+0")));

    m_printAction =
        makeAction(tr("Print…"), QStringLiteral("Print.svg"), [this] { printDocument(); });
    m_printAction->setObjectName(QStringLiteral("print"));
    m_printAction->setShortcut(QKeySequence::Print);
    m_printAction->setToolTip(tr("Print"));
    // Filled by the PDF export.
    m_exportAction =
        new QAction(resourceIcon(QStringLiteral("SaveAs.svg")), tr("Export as PDF…"), this);
    m_exportAction->setObjectName(QStringLiteral("saveAs"));
    m_exportAction->setToolTip(tr("Export as PDF"));
    m_exportAction->setEnabled(false);

    m_newTabAction =
        makeAction(tr("New Tab"), QStringLiteral("AddTab.svg"), [this] { addNewTab(); });
    m_newTabAction->setShortcut(QKeySequence::AddTab);
    m_closeTabAction = makeAction(tr("Close Tab"), QString(), [this] { closeTab(); });
    m_closeTabAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+W")));
    m_nextTabAction =
        makeAction(tr("Select Next Tab"), QString(), [this] { selectNextWebViewTabItem(); });
    m_nextTabAction->setShortcuts(
        {QKeySequence(QStringLiteral("Ctrl+Tab")), QKeySequence(QStringLiteral("Ctrl+PgDown"))});
    m_previousTabAction = makeAction(tr("Select Previous Tab"), QString(),
                                     [this] { selectPreviousWebViewTabItem(); });
    m_previousTabAction->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Shift+Tab")),
                                       QKeySequence(QStringLiteral("Ctrl+PgUp"))});
    m_firstTabAction =
        makeAction(tr("Select First Tab"), QString(), [this] { selectFirstWebViewTabItem(); });
    m_lastTabAction =
        makeAction(tr("Select Last Tab"), QString(), [this] { selectLastWebViewTabItem(); });

    m_fullScreenAction =
        makeAction(tr("Enter Full Screen"), QString(), [this] { toggleFullScreen(); });
    // F11 as most Linux programs have it, besides the platform's own key.
    QList<QKeySequence> fullScreenKeys = QKeySequence::keyBindings(QKeySequence::FullScreen);
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_F11), QKeySequence(QStringLiteral("Ctrl+Meta+F"))}) {
        if (!fullScreenKeys.contains(key))
            fullScreenKeys << key;
    }
    m_fullScreenAction->setShortcuts(fullScreenKeys);
    m_customizeToolbarAction =
        makeAction(tr("Customize Toolbar…"), QString(), [this] { customizeToolbar(); });
    m_focusOnPageAction = makeAction(tr("Focus on Page"), QString(), [this] { focusOnPage(); });
    m_focusOnPageAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+P")));
    m_focusOnContentsAction =
        makeAction(tr("Focus on Contents"), QString(), [this] { focusOnContents(); });
    m_focusOnContentsAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+C")));
}

void CHMDocumentWindow::setupToolbar() {
    m_mainToolbar = addToolBar(tr("Toolbar"));
    m_mainToolbar->setObjectName(QStringLiteral("mainToolbar"));
    m_mainToolbar->setMovable(false);
    m_toolbarCustomizer = new ToolbarCustomizer(m_mainToolbar);
    m_toolbarCustomizer->addItem(m_toggleSidebarAction);
    m_toolbarCustomizer->addSeparator();
    m_toolbarCustomizer->addItem(m_homeAction);
    m_toolbarCustomizer->addItem(m_backAction);
    m_toolbarCustomizer->addItem(m_forwardAction);
    m_toolbarCustomizer->addSeparator();
    m_toolbarCustomizer->addItem(m_zoomOutAction);
    m_toolbarCustomizer->addItem(m_zoomInAction);
    m_toolbarCustomizer->addSeparator();
    m_toolbarCustomizer->addItem(m_printAction);
    m_toolbarCustomizer->addItem(m_exportAction);

    // Nothing has loaded yet: home and back wait for the first page.
    m_homeAction->setEnabled(false);
    m_backAction->setEnabled(false);
    const double factor = curWebView() ? curWebView()->zoomFactor() : 1.0;
    m_zoomOutAction->setEnabled(ZoomLevels::canMakeSmaller(factor));
    m_zoomInAction->setEnabled(ZoomLevels::canMakeLarger(factor));
}

void CHMDocumentWindow::addToolbarAction(QAction* action) {
    if (action)
        m_toolbarCustomizer->addItem(action);
}

QWidget* CHMDocumentWindow::customizeToolbar() {
    return m_toolbarCustomizer->showDialog(this);
}

void CHMDocumentWindow::toggleFullScreen() {
    if (isFullScreen())
        showNormal();
    else
        showFullScreen();
    updateFullScreenAction();
}

void CHMDocumentWindow::updateFullScreenAction() {
    if (m_fullScreenAction)
        m_fullScreenAction->setText(isFullScreen() ? tr("Exit Full Screen")
                                                   : tr("Enter Full Screen"));
}

void CHMDocumentWindow::focusOnPage() {
    if (CHMWebView* view = curWebView())
        view->setFocus(Qt::ShortcutFocusReason);
}

void CHMDocumentWindow::focusOnContents() {
    if (!m_splitView->isSidebarRestored())
        restoreSidebar();
    m_sidebar->showList(CHMSidebar::kContents);
    m_sidebar->tocView()->setFocus(Qt::ShortcutFocusReason);
}

void CHMDocumentWindow::zoomIn() {
    if (CHMWebView* view = curWebView())
        view->setZoomFactor(ZoomLevels::larger(view->zoomFactor()));
    after_zoom();
}

void CHMDocumentWindow::zoomOut() {
    if (CHMWebView* view = curWebView())
        view->setZoomFactor(ZoomLevels::smaller(view->zoomFactor()));
    after_zoom();
}

void CHMDocumentWindow::actualSize() {
    if (CHMWebView* view = curWebView())
        view->setZoomFactor(1.0);
    after_zoom();
}

void CHMDocumentWindow::after_zoom() {
    const CHMWebView* view = curWebView();
    if (!view)
        return;
    const double factor = view->zoomFactor();
    m_zoomOutAction->setEnabled(ZoomLevels::canMakeSmaller(factor));
    m_zoomInAction->setEnabled(ZoomLevels::canMakeLarger(factor));
    m_actualSizeAction->setEnabled(!qFuzzyCompare(factor, 1.0));
    CHMFilePreferences::setGlobalDefault(kZoomFactorKey, factor);
}

void CHMDocumentWindow::updateHistoryButton() {
    const CHMWebView* view = curWebView();
    m_homeAction->setEnabled(true);
    m_backAction->setEnabled(view && view->history()->canGoBack());
    m_forwardAction->setEnabled(view && view->history()->canGoForward());
}

void CHMDocumentWindow::printDocument() {
    CHMWebView* view = curWebView();
    if (!view)
        return;
    if (m_printJob && m_printJob->isRunning())
        return;
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(tr("Print"));
    if (dialog.exec() != QDialog::Accepted || !view)
        return;
    m_printJob = std::make_unique<CHMPrintJob>(view->page(), CHMPrintJob::targetOf(printer));
    connect(m_printJob.get(), &CHMPrintJob::finished, this, [this](const QString& error) {
        if (!error.isEmpty())
            QMessageBox::warning(this, tr("Print"), error);
    });
    QString error;
    if (!m_printJob->start(&error))
        QMessageBox::warning(this, tr("Print"), error);
}
