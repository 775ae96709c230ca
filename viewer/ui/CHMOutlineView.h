// One list of the sidebar (contents, index or search hits): a tree view with a context menu.
//
// Header hidden, one row selected at most, no editing. A right click on a row that is not
// selected makes that row the selection before the context menu ("Open", "Open in New Tab")
// shows, so the menu's commands act on the clicked row; that selection is for the menu alone
// and loads nothing (isSelectingForMenu() tells the sidebar). A right click below the last row
// keeps the selection. A double click on a row, or a click with Ctrl, Shift or Meta held, asks for
// the row in a new tab (the click does not select it: the new tab's page selects it once loaded).
// The view only reports requests; the sidebar decides what they do. While the list has no rows
// it shows its empty text (why it is empty) in its middle. GUI thread only.
#pragma once

#include <QTreeView>

class QMenu;

class CHMOutlineView : public QTreeView {
    Q_OBJECT
public:
    explicit CHMOutlineView(QWidget* parent = nullptr);
    ~CHMOutlineView() override;

    // The selected row (column 0), or an invalid index.
    QModelIndex selectedIndex() const;
    // The context menu; shown with popup() (never a blocking exec()).
    QMenu* contextMenu() const { return m_menu; }
    // What the view says while it has no rows; empty for nothing.
    void setEmptyText(const QString& text);
    const QString& emptyText() const { return m_emptyText; }
    // True while a right click selects its row for the context menu.
    bool isSelectingForMenu() const { return m_selectingForMenu; }

signals:
    // "Open" of the context menu: load the selected row in the current tab.
    void openRequested(const QModelIndex& index);
    // Double click, modifier click or "Open in New Tab".
    void openInNewTabRequested(const QModelIndex& index);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QMenu* m_menu;
    QAction* m_openAction;
    QAction* m_openInNewTabAction;
    QString m_emptyText;
    bool m_selectingForMenu = false;
};
