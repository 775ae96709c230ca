#include "CHMSidebar.h"

#include "CHMOutlineView.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"
#include "LinkItemModel.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <vector>

const QString CHMSidebar::kContents = QStringLiteral("Contents");
const QString CHMSidebar::kIndex = QStringLiteral("Index");
const QString CHMSidebar::kSearch = QStringLiteral("Search");

CHMSidebar::CHMSidebar(QWidget* parent)
    : QWidget(parent), m_searchField(new QLineEdit(this)), m_tabs(new QTabWidget(this)),
      m_tocModel(new LinkItemModel(this)), m_indexModel(new LinkItemModel(this)),
      m_searchModel(new LinkItemModel(this)) {
    m_searchField->setObjectName(QStringLiteral("searchField"));
    m_searchField->setPlaceholderText(tr("Search"));
    // The clear button's icon is looked up in the icon theme, which takes longer than building
    // the rest of the window; it is only seen once there is text, so it comes after the window
    // has shown.
    QTimer::singleShot(0, m_searchField,
                       [field = m_searchField] { field->setClearButtonEnabled(true); });
    connect(m_searchField, &QLineEdit::returnPressed, this,
            [this] { emit searchRequested(m_searchField->text()); });

    m_tabs->setObjectName(QStringLiteral("sideBarOutlineTabView"));
    m_tabs->setDocumentMode(true);
    m_tocView = makeList(kContents, m_tocModel);
    m_indexView = makeList(kIndex, m_indexModel);
    m_searchView = makeList(kSearch, m_searchModel);
    // Hits named alike differ at the end of the row, where their places are: the middle goes.
    m_searchView->setTextElideMode(Qt::ElideMiddle);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(m_searchField);
    layout->addWidget(m_tabs, 1);
}

CHMSidebar::~CHMSidebar() = default;

CHMOutlineView* CHMSidebar::makeList(const QString& identifier, LinkItemModel* model) {
    auto* view = new CHMOutlineView(m_tabs);
    view->setObjectName(identifier);
    view->setModel(model);
    // The texts are the identifiers, shown as they stand.
    m_tabs->addTab(view, identifier);

    // The view keeps this selection model for good: the models are reset, never replaced. A
    // row a right click selects is for the context menu, whose commands load it.
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, view] {
        if (!view->isSelectingForMenu())
            listSelectionChanged();
    });
    connect(view, &CHMOutlineView::openRequested, this, [this, view](const QModelIndex& index) {
        if (LinkItem* item = itemOfView(view, index)) {
            emit changeTopic(item);
        }
    });
    connect(view, &CHMOutlineView::openInNewTabRequested, this,
            [this, view](const QModelIndex& index) {
                if (LinkItem* item = itemOfView(view, index)) {
                    emit openInNewTab(item);
                }
            });
    return view;
}

LinkItem* CHMSidebar::itemOfView(const CHMOutlineView* view, const QModelIndex& index) const {
    const auto* model = qobject_cast<const LinkItemModel*>(view->model());
    return model ? model->itemForIndex(index) : nullptr;
}

void CHMSidebar::setTocSource(std::shared_ptr<CHMTableOfContent> toc) {
    QScopedValueRollback guard(m_isSelectionChangedProgrammatically, true);
    m_tocModel->setTree(std::move(toc));
}

void CHMSidebar::setIndexSource(std::shared_ptr<CHMTableOfContent> index) {
    QScopedValueRollback guard(m_isSelectionChangedProgrammatically, true);
    m_indexModel->setTree(std::move(index));
}

void CHMSidebar::setSearchSource(std::shared_ptr<CHMTableOfContent> result) {
    QScopedValueRollback guard(m_isSelectionChangedProgrammatically, true);
    m_searchModel->setTree(std::move(result));
}

void CHMSidebar::setSearchPlaceFunction(std::function<QStringList(const LinkItem&)> placeOf) {
    m_searchModel->setPlaceFunction(std::move(placeOf));
}

CHMOutlineView* CHMSidebar::viewForIdentifier(const QString& identifier) const {
    if (identifier == kContents) {
        return m_tocView;
    }
    if (identifier == kIndex) {
        return m_indexView;
    }
    if (identifier == kSearch) {
        return m_searchView;
    }
    return nullptr;
}

QString CHMSidebar::currentListIdentifier() const {
    const QWidget* current = m_tabs->currentWidget();
    return current ? current->objectName() : QString();
}

bool CHMSidebar::showList(const QString& identifier) {
    CHMOutlineView* view = viewForIdentifier(identifier);
    if (!view) {
        return false;
    }
    m_tabs->setCurrentWidget(view);
    return true;
}

LinkItem* CHMSidebar::selectedItem() const {
    const CHMOutlineView* view = viewForIdentifier(currentListIdentifier());
    return view ? itemOfView(view, view->selectedIndex()) : nullptr;
}

LinkItem* CHMSidebar::selectedTocItem() const {
    return itemOfView(m_tocView, m_tocView->selectedIndex());
}

void CHMSidebar::listSelectionChanged() {
    if (m_isSelectionChangedProgrammatically) {
        return;
    }
    // Whichever list changed, the page shown is the selected row of the list in front.
    if (LinkItem* item = selectedItem()) {
        emit changeTopic(item);
    }
}

LinkItem* CHMSidebar::locateTOC(const QString& path) {
    QScopedValueRollback guard(m_isSelectionChangedProgrammatically, true);
    const auto& toc = m_tocModel->tree();
    std::vector<LinkItem*> stack;
    LinkItem* item = toc ? toc->itemForPath(path, &stack) : nullptr;
    const QModelIndex index = m_tocModel->indexForItem(item);
    QItemSelectionModel* selection = m_tocView->selectionModel();
    if (!index.isValid()) {
        selection->clearSelection();
        return nullptr;
    }
    // The stack holds the ancestors innermost first; a row can only open below an open parent.
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        const QModelIndex ancestor = m_tocModel->indexForItem(*it);
        if (ancestor.isValid()) {
            m_tocView->expand(ancestor);
        }
    }
    selection->setCurrentIndex(index,
                               QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_tocView->scrollTo(index);
    return item;
}

void CHMSidebar::deselectAll() {
    QScopedValueRollback guard(m_isSelectionChangedProgrammatically, true);
    for (CHMOutlineView* view : {m_tocView, m_indexView, m_searchView}) {
        view->selectionModel()->clearSelection();
    }
}
