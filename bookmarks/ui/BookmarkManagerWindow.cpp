#include "BookmarkManagerWindow.h"

#include "BookmarkView.h"
#include "CHMBookmark.h"
#include "CHMFile.h"
#include "FetchRequestItem.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

namespace {

constexpr int kNodeRole = Qt::UserRole;

FetchRequestItem* nodeOf(const QTreeWidgetItem* item) {
    return item ? reinterpret_cast<FetchRequestItem*>(item->data(0, kNodeRole).value<quintptr>())
                : nullptr;
}

QStringList titlePath(const QTreeWidgetItem* item) {
    QStringList path;
    for (; item; item = item->parent())
        path.prepend(item->text(0));
    return path;
}

} // namespace

BookmarkManagerWindow::BookmarkManagerWindow(QWidget* parent)
    : QWidget(parent, Qt::Window), m_tocView(new QTreeWidget(this)),
      m_bookmarkView(new BookmarkView(this)), m_removeButton(new QPushButton(tr("Remove"), this)),
      m_readOnlyNotice(new QLabel(this)) {
    setWindowTitle(tr("Bookmarks"));
    setObjectName(QStringLiteral("bookmarkManager"));
    m_tocView->setObjectName(QStringLiteral("tocView"));
    m_tocView->setHeaderHidden(true);
    m_removeButton->setObjectName(QStringLiteral("removeButton"));

    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(m_bookmarkView);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_removeButton);
    rightLayout->addLayout(buttons);

    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_tocView);
    splitter->addWidget(right);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({180, 520});
    m_readOnlyNotice->setObjectName(QStringLiteral("readOnlyNotice"));
    m_readOnlyNotice->setWordWrap(true);
    m_readOnlyNotice->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_readOnlyNotice);
    layout->addWidget(splitter);
    resize(760, 440);

    // A window of its own without a menu bar: the keys that close a window or quit the reader
    // are its own actions, with the usual keys whatever the platform's key scheme says.
    auto keysWith = [](std::initializer_list<QKeySequence> usual, QKeySequence::StandardKey key) {
        QList<QKeySequence> keys(usual);
        for (const QKeySequence& platform : QKeySequence::keyBindings(key)) {
            if (!keys.contains(platform))
                keys << platform;
        }
        return keys;
    };
    auto* closeWindow = new QAction(tr("Close"), this);
    closeWindow->setObjectName(QStringLiteral("closeManagerAction"));
    closeWindow->setShortcuts(keysWith(
        {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}, QKeySequence::Close));
    connect(closeWindow, &QAction::triggered, this, &QWidget::close);
    auto* quit = new QAction(tr("Quit Lumeno+"), this);
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcuts(keysWith({QKeySequence(Qt::CTRL | Qt::Key_Q)}, QKeySequence::Quit));
    // As the menus' Quit: every window closes, and the reader ends with the last.
    connect(quit, &QAction::triggered, qApp, &QApplication::closeAllWindows);
    addActions({closeWindow, quit});

    connect(m_tocView, &QTreeWidget::itemSelectionChanged, this,
            &BookmarkManagerWindow::sourceSelectionChanged);
    connect(m_removeButton, &QPushButton::clicked, this, &BookmarkManagerWindow::removeRequested);
    connect(m_bookmarkView, &BookmarkView::removeRequested, this,
            &BookmarkManagerWindow::removeRequested);
}

void BookmarkManagerWindow::setReadOnlyReason(const QString& reason) {
    m_readOnlyNotice->setText(reason);
    m_readOnlyNotice->setVisible(!reason.isEmpty());
    m_removeButton->setEnabled(reason.isEmpty());
}

void BookmarkManagerWindow::addItems(QTreeWidgetItem* parent, FetchRequestItem* node) {
    for (int i = 0; i < node->numberOfChildren(); ++i) {
        FetchRequestItem* child = node->childAtIndex(i);
        auto* item = new QTreeWidgetItem(parent, QStringList{child->title()});
        item->setData(0, kNodeRole, QVariant::fromValue(reinterpret_cast<quintptr>(child)));
        addItems(item, child);
    }
}

void BookmarkManagerWindow::setSource(FetchRequestItem* root) {
    const QStringList selected = titlePath(m_tocView->currentItem());
    {
        const QSignalBlocker quiet(m_tocView);
        m_tocView->clear();
        auto* invisible = m_tocView->invisibleRootItem();
        addItems(invisible, root);
        m_tocView->expandAll();
        QTreeWidgetItem* keep = nullptr;
        for (QTreeWidgetItemIterator it(m_tocView); *it && !keep; ++it) {
            if (!selected.isEmpty() && titlePath(*it) == selected)
                keep = *it;
        }
        if (!keep)
            keep = m_tocView->topLevelItem(0);
        m_tocView->setCurrentItem(keep);
    }
    emit sourceSelectionChanged();
}

FetchRequestItem* BookmarkManagerWindow::selectedItem() const {
    const QList<QTreeWidgetItem*> selected = m_tocView->selectedItems();
    return selected.isEmpty() ? nullptr : nodeOf(selected.first());
}

void BookmarkManagerWindow::setBookmarks(const QList<CHMBookmark>& bookmarks) {
    m_bookmarkView->clearContents();
    m_bookmarkView->setRowCount(static_cast<int>(bookmarks.size()));
    int row = 0;
    for (const CHMBookmark& bookmark : bookmarks) {
        auto* title = new QTableWidgetItem(bookmark.title());
        title->setData(Qt::UserRole, bookmark.id());
        title->setToolTip(bookmark.url());
        m_bookmarkView->setItem(row, 0, title);
        m_bookmarkView->setItem(row, 1, new QTableWidgetItem(bookmark.tagsString()));
        const std::optional<CHMFile> file = bookmark.file();
        auto* fileCell = new QTableWidgetItem(file ? file->title() : QString());
        if (file)
            fileCell->setToolTip(file->path());
        m_bookmarkView->setItem(row, 2, fileCell);
        m_bookmarkView->setItem(row, 3,
                                new QTableWidgetItem(QLocale().toString(
                                    bookmark.createdAt().toLocalTime(), QLocale::ShortFormat)));
        ++row;
    }
}

void BookmarkManagerWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    emit closed();
}
