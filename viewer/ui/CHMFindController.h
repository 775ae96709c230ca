// Find in page for one document window: the find bar of each tab, the marks of "highlight.js"
// and the scripts that run them in the reader's own script world of a page's main frame.
//
// Each method acts on the tab of target, the selected tab's when target is null; the find bar's
// label of that tab shows what came back. A result that arrives after its tab has started
// loading another page belongs to the old page and is dropped, so it can never overwrite what
// the new page shows. The controller knows the window's tabs only (CHMTabAccess); the window adds
// its actions to itself so that their shortcuts work. Owned by the window, which outlives it; GUI
// thread only.
#pragma once

#include "CHMTabAccess.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class CHMWebView;
class CHMWebViewController;
class QAction;
class QVariant;
class QWebEngineProfile;

class CHMFindController : public QObject {
    Q_OBJECT
public:
    // Makes the find actions (see actions()).
    explicit CHMFindController(CHMTabAccess tabs);
    ~CHMFindController() override;
    // Puts "highlight.js" into every page of the window's profile, once it is made.
    void installInto(QWebEngineProfile& profile);

    // Routes the tab's find bar requests to this controller.
    void connectFindBar(CHMWebViewController* controller);

    // The selected tab's find bar, with the focus in its field.
    void showFindPanel();
    // Finds the text of the tab's find field: marks it and goes to the first match. An empty
    // field only removes the marks.
    void beginFind(CHMWebView* target = nullptr);
    void highlightString(const QString& text, CHMWebView* target = nullptr);
    void removeHighlight(CHMWebView* target = nullptr);
    void findNext(CHMWebView* target = nullptr);
    void findPrev(CHMWebView* target = nullptr);
    // Segment 0 of the previous/next control: findPrev; any other: findNext.
    void findInFile(int segment, CHMWebView* target = nullptr);
    // Hides the tab's find bar and removes the marks of its page.
    void doneFind(CHMWebView* target = nullptr);
    // Runs the script in the reader's own script world of the page's main frame; an exception
    // goes to the console as its message. The callback gets the script's value, unless the
    // window is closing by then.
    void runJavascript(const QString& script, CHMWebView* target = nullptr,
                       const std::function<void(const QVariant&)>& callback = {});
    // Runs "highlight.js" with runJavascript (it keeps the marks a page already has).
    void loadJavascript(CHMWebView* target = nullptr);
    // After a main-frame load: "highlight.js" again, then the words marked on the page that
    // loaded (the sidebar's search words).
    void highlightSearchWords(CHMWebView* view, const QString& words);

    // From the window's destructor on, script results are dropped.
    void setClosing() { m_isClosing = true; }

    QAction* findAction() const { return m_findAction; }
    QAction* findNextAction() const { return m_findNextAction; }
    QAction* findPreviousAction() const { return m_findPreviousAction; }
    QAction* doneFindAction() const { return m_doneFindAction; }
    // Find, Find Next, Find Previous, Done Finding: for the window to add to itself.
    QList<QAction*> actions() const;

private:
    // Find Next / Find Previous: the step Return / Shift+Return makes in the selected tab's bar.
    void stepFind(int segment);
    void scrollToHighlight(int direction, CHMWebView* target);
    CHMWebView* findTarget(CHMWebView* target) const;
    // Runs the script and hands its value to onResult with the tab's controller, only while
    // that tab still shows the page the script ran in.
    void runForTab(const QString& script, CHMWebView* view,
                   const std::function<void(CHMWebViewController*, const QVariant&)>& onResult);

    CHMTabAccess m_tabs;
    QString m_highlightScript;
    QAction* m_findAction = nullptr;
    QAction* m_findNextAction = nullptr;
    QAction* m_findPreviousAction = nullptr;
    QAction* m_doneFindAction = nullptr;
    bool m_isClosing = false;
};
