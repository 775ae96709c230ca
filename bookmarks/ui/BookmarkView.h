// The manager's table of bookmarks, one row per bookmark (its id in the first column's
// Qt::UserRole). The Delete and Backspace keys ask for the selection to be removed; the remove
// button asks the same, and the controller does both through one routine.
#pragma once

#include <QList>
#include <QTableWidget>

class BookmarkView : public QTableWidget {
    Q_OBJECT
public:
    explicit BookmarkView(QWidget* parent = nullptr);
    QList<qint64> selectedBookmarkIds() const;

signals:
    void removeRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};
