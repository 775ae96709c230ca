// The bookmark manager: the source list ("All", "Tags" with one node per tag, "Files" with one
// node per file) beside the table of the selected node's bookmarks, and a remove button. It only
// shows; the BookmarkController fills it and acts on its signals. Esc and Ctrl+W (and the
// platform's Close key) close it; the Quit key (Ctrl+Q) quits the reader from it, as the menus'
// Quit does. The source list's nodes belong to the controller and must outlive the next
// setSource().
#pragma once

#include <QList>
#include <QWidget>

class BookmarkView;
class CHMBookmark;
class FetchRequestItem;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class BookmarkManagerWindow : public QWidget {
    Q_OBJECT
public:
    explicit BookmarkManagerWindow(QWidget* parent = nullptr);

    QTreeWidget* tocView() const { return m_tocView; }
    BookmarkView* bookmarkView() const { return m_bookmarkView; }
    QPushButton* removeButton() const { return m_removeButton; }
    QLabel* readOnlyNotice() const { return m_readOnlyNotice; }

    // With a reason: the library cannot be changed; the reason shows above the lists and the
    // remove button is off. Empty: changes are possible again.
    void setReadOnlyReason(const QString& reason);

    // Shows the tree under root (root itself is not shown), everything expanded; keeps the
    // selection on the node of the same title path when there is one, else selects "All".
    void setSource(FetchRequestItem* root);
    // The node of the selected row, or nullptr.
    FetchRequestItem* selectedItem() const;
    void setBookmarks(const QList<CHMBookmark>& bookmarks);

signals:
    void sourceSelectionChanged();
    void removeRequested();
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void addItems(QTreeWidgetItem* parent, FetchRequestItem* node);

    QTreeWidget* m_tocView;
    BookmarkView* m_bookmarkView;
    QPushButton* m_removeButton;
    QLabel* m_readOnlyNotice;
};
