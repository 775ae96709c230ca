// The web view of one tab. Page Down and Page Up do not scroll: they move to the next and the
// previous page of the table of contents (the window's gotoPageDown/gotoPageUp). Clicks and
// Enter/Space on the page are reported to the page as user actions (see CHMWebPage).
//
// The window that made the view is set once with setDocument and is not owned. The keys are
// shortcuts of the view and its children, so a key the page claims for itself (typing in a
// text field) stays with the page. GUI thread only.
#pragma once

#include <QPointer>
#include <QWebEngineView>

class CHMDocumentWindow;
class CHMWebPage;

class CHMWebView : public QWebEngineView {
    Q_OBJECT
public:
    explicit CHMWebView(QWidget* parent = nullptr);
    ~CHMWebView() override;

    void setDocument(CHMDocumentWindow* document);
    CHMDocumentWindow* document() const;
    // The view's page when it is a CHMWebPage, else nullptr.
    CHMWebPage* chmPage() const;

    void scrollPageDown();
    void scrollPageUp();

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watchRenderWidget(QObject* child);

    QPointer<CHMDocumentWindow> m_document;
};
