// The web view of one tab. Page Down and Page Up do not scroll: they ask for the next and the
// previous page of the table of contents (pageDownRequested, pageUpRequested; the window moves).
// Clicks and Enter/Space on the page are reported to the page as user actions (see CHMWebPage).
//
// Its context menu holds only what the reader supports: the engine's actions that would do
// nothing here or save the page behind the reader's back (view source, save page, downloads,
// inspect, open in a window) are left out.
//
// The keys are shortcuts of the view and its children, so a key the page claims for itself
// (typing in a text field) stays with the page. GUI thread only.
#pragma once

#include <QWebEngineView>

class CHMWebPage;
class QMenu;

class CHMWebView : public QWebEngineView {
    Q_OBJECT
public:
    explicit CHMWebView(QWidget* parent = nullptr);
    ~CHMWebView() override;

    // The view's page when it is a CHMWebPage, else nullptr.
    CHMWebPage* chmPage() const;

    void scrollPageDown();
    void scrollPageUp();

    // The engine's menu for the point last right-clicked, without the unsupported actions.
    QMenu* createContextMenu();

signals:
    void pageDownRequested();
    void pageUpRequested();
    // A context menu was just shown (tests and accessibility tools look at it).
    void contextMenuShown(QMenu* menu);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void watchRenderWidget(QObject* child);
};
