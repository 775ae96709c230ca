// One tab of a document window: the find panel (hidden until asked for) above the tab's web
// view, and the tab's label. Showing or hiding the panel twice changes nothing the second time;
// showing it always moves the keyboard focus to its field. The find issue fills the panel.
// The controller owns its view (and, through it, the page). GUI thread only.
#pragma once

#include <QString>
#include <QWidget>

class CHMWebView;
class QLineEdit;

class CHMWebViewController : public QWidget {
    Q_OBJECT
public:
    explicit CHMWebViewController(QWidget* parent = nullptr);
    ~CHMWebViewController() override;

    CHMWebView* webView() const { return m_webView; }
    QWidget* findPanel() const { return m_findPanel; }
    QLineEdit* searchField() const { return m_searchField; }

    void showFindPanel();
    void hideFindPanel();

    // The tab's full label (the tab bar may show it shortened).
    const QString& title() const { return m_title; }
    void setTitle(const QString& title) { m_title = title; }

private:
    QWidget* m_findPanel;
    QLineEdit* m_searchField;
    CHMWebView* m_webView;
    QString m_title;
};
