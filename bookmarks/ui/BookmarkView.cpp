#include "BookmarkView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QSet>

BookmarkView::BookmarkView(QWidget* parent) : QTableWidget(parent) {
    setObjectName(QStringLiteral("bookmarkView"));
    setColumnCount(4);
    setHorizontalHeaderLabels({tr("Title"), tr("Tags"), tr("File"), tr("Added")});
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
}

QList<qint64> BookmarkView::selectedBookmarkIds() const {
    QSet<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.insert(index.row());
    QList<qint64> ids;
    for (int row : rows) {
        if (const QTableWidgetItem* cell = item(row, 0))
            ids << cell->data(Qt::UserRole).toLongLong();
    }
    return ids;
}

void BookmarkView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
        emit removeRequested();
        event->accept();
        return;
    }
    QTableWidget::keyPressEvent(event);
}
