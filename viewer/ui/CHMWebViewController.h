// One tab of a document window: the find bar (hidden until asked for) above the tab's web view,
// and the tab's label. Each tab's find bar is its own: showing, hiding and its text and count
// never touch another tab's.
//
// The find bar holds the field, a label with the position of the current match ("2 of 7") or
// "Not found", the previous/next pair (segments 0 and 1 of one control) and Done. Editing the
// field asks for a find; Return asks for the next match, Shift+Return for the previous one,
// Escape and Done for the end of finding. After the page has changed, a step with text in the
// shown bar asks for a new find instead, so the new page gets marked. The controller only
// asks (signals): the window runs the finds and reports back through the show...() methods.
//
// When the process that renders the page ends other than normally (a crash, a kill), the tab
// says so in place of the blank page, with a Reload button that loads the same URL again; the
// next load of the tab, however it comes, brings the page back.
//
// Showing or hiding the bar twice changes nothing the second time; showing it always moves the
// keyboard focus to its field. The controller owns its view (and, through it, the page). GUI
// thread only.
#pragma once

#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWidget>

class CHMWebView;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class CHMWebViewController : public QWidget {
    Q_OBJECT
public:
    explicit CHMWebViewController(QWidget* parent = nullptr);
    ~CHMWebViewController() override;

    CHMWebView* webView() const { return m_webView; }
    QWidget* findPanel() const { return m_findPanel; }
    QLineEdit* searchField() const { return m_searchField; }
    QLabel* matchLabel() const { return m_matchLabel; }
    QToolButton* previousButton() const { return m_previousButton; }
    QToolButton* nextButton() const { return m_nextButton; }
    QPushButton* doneButton() const { return m_doneButton; }
    // What shows in place of the page once its renderer has ended (hidden until then).
    QWidget* rendererEndedPanel() const { return m_rendererEndedPanel; }
    QLabel* rendererEndedLabel() const { return m_rendererEndedLabel; }
    QPushButton* reloadButton() const { return m_reloadButton; }

    void showFindPanel();
    void hideFindPanel();

    // Asks for a step to the next (segment 1) or previous (segment 0) match, or for a new find
    // when the page has changed since the last one while the bar shows text.
    void requestStep(int segment);

    // What the last find or step found, for the label.
    void showMatchCount(int count);
    void showMatchPosition(int index, int count);
    void clearMatchStatus();

    // The page's renderer ended (QWebEnginePage::renderProcessTerminated): anything but a
    // normal end is told in the tab.
    void showRendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    // Reload: the page the renderer showed when it ended, loaded again.
    void reloadAfterRendererEnded();

    // Counts the page loads the tab has started: a find result is only shown while the count
    // is the one it was asked for under.
    quint64 pageGeneration() const { return m_pageGeneration; }

    // The tab's full label (the tab bar may show it shortened).
    const QString& title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }

signals:
    void findRequested();
    void findInFileRequested(int segment);
    void doneRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildFindPanel();
    void buildRendererEndedPanel();
    void hideRendererEnded();
    void findTextEdited();

    QWidget* m_findPanel;
    QLineEdit* m_searchField;
    QLabel* m_matchLabel = nullptr;
    QToolButton* m_previousButton = nullptr;
    QToolButton* m_nextButton = nullptr;
    QPushButton* m_doneButton = nullptr;
    CHMWebView* m_webView;
    QWidget* m_rendererEndedPanel = nullptr;
    QLabel* m_rendererEndedLabel = nullptr;
    QPushButton* m_reloadButton = nullptr;
    QUrl m_urlWhenRendererEnded;
    QString m_title;
    // The page has changed since the last find: its marks (if any) are not the field's.
    bool m_pageChangedSinceFind = false;
    quint64 m_pageGeneration = 0;
};
