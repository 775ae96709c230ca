#include "CHMOutlineView.h"

#include <QContextMenuEvent>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScopedValueRollback>

namespace {

constexpr Qt::KeyboardModifiers kNewTabModifiers =
    Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier;

} // namespace

CHMOutlineView::CHMOutlineView(QWidget* parent)
    : QTreeView(parent), m_menu(new QMenu(this)), m_openAction(m_menu->addAction(tr("Open"))),
      m_openInNewTabAction(m_menu->addAction(tr("Open in New Tab"))) {
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A double click opens a new tab; it must not also fold or unfold the row.
    setExpandsOnDoubleClick(false);
    // Sitemaps can hold hundreds of thousands of rows of one line each.
    setUniformRowHeights(true);
    setContextMenuPolicy(Qt::DefaultContextMenu);

    connect(m_openAction, &QAction::triggered, this, [this] {
        const QModelIndex index = selectedIndex();
        if (index.isValid()) {
            emit openRequested(index);
        }
    });
    connect(m_openInNewTabAction, &QAction::triggered, this, [this] {
        const QModelIndex index = selectedIndex();
        if (index.isValid()) {
            emit openInNewTabRequested(index);
        }
    });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid()) {
            emit openInNewTabRequested(index.siblingAtColumn(0));
        }
    });
}

CHMOutlineView::~CHMOutlineView() = default;

QModelIndex CHMOutlineView::selectedIndex() const {
    const QItemSelectionModel* selection = selectionModel();
    if (!selection) {
        return {};
    }
    const QModelIndexList rows = selection->selectedRows(0);
    return rows.isEmpty() ? QModelIndex() : rows.first();
}

void CHMOutlineView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::RightButton) {
        // The row under the pointer becomes the selection unless it already is selected; a
        // press below the last row changes nothing. The menu follows as a context menu event.
        if (index.isValid() && selectionModel() &&
            !selectionModel()->isRowSelected(index.row(), index.parent())) {
            const QScopedValueRollback forMenu(m_selectingForMenu, true);
            selectionModel()->setCurrentIndex(index.siblingAtColumn(0),
                                              QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
        }
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton && (event->modifiers() & kNewTabModifiers) &&
        index.isValid()) {
        // Leave the selection alone: the current tab keeps its page.
        emit openInNewTabRequested(index.siblingAtColumn(0));
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

void CHMOutlineView::contextMenuEvent(QContextMenuEvent* event) {
    const bool hasRow = selectedIndex().isValid();
    m_openAction->setEnabled(hasRow);
    m_openInNewTabAction->setEnabled(hasRow);
    m_menu->popup(event->globalPos());
    event->accept();
}

void CHMOutlineView::setEmptyText(const QString& text) {
    m_emptyText = text;
    viewport()->update();
}

void CHMOutlineView::paintEvent(QPaintEvent* event) {
    QTreeView::paintEvent(event);
    if (m_emptyText.isEmpty() || !model() || model()->rowCount() > 0)
        return;
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, m_emptyText);
}
