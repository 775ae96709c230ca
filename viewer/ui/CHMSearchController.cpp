#include "CHMSearchController.h"

#include "CHMDocument.h"
#include "CHMFilePreferences.h"
#include "CHMOutlineView.h"
#include "CHMSearchIndex.h"
#include "CHMSearchResult.h"
#include "CHMSidebar.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"
#include "LumenoLogging.h"
#include "ResourceLocator.h"
#include "SidebarSplitter.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <vector>

namespace {

const QString kSearchTypeKey = QStringLiteral("search type");
const QString kSearchTypeFile = QStringLiteral("file");
const QString kSearchTypeIndex = QStringLiteral("index");
// The global default whose text the first window of a process searches for.
const QString kSearchDefaultKey = QStringLiteral("search");

// Set once a window of this process has searched for the "search" default.
bool searchDefaultApplied = false;

bool hasVisibleText(const QString& text) {
    return !text.trimmed().isEmpty();
}

} // namespace

CHMSearchController::CHMSearchController(CHMDocument& document, CHMSidebar& sidebar,
                                         SidebarSplitter& splitView)
    : m_document(document), m_sidebar(sidebar), m_splitView(splitView) {
    QLineEdit* field = m_sidebar.searchField();
    m_sidebar.setSearchPlaceFunction([this](const LinkItem& hit) { return locationOf(hit); });

    m_searchMenu = new QMenu(&m_sidebar);
    m_searchMenu->setObjectName(QStringLiteral("searchMenu"));
    m_searchInFileItem = m_searchMenu->addAction(tr("Search in File"));
    m_searchInFileItem->setData(kSearchInFileTag);
    m_searchInIndexItem = m_searchMenu->addAction(tr("Search in Index"));
    m_searchInIndexItem->setData(kSearchInIndexTag);
    for (QAction* item : {m_searchInFileItem, m_searchInIndexItem})
        item->setCheckable(true);
    connect(m_searchInFileItem, &QAction::triggered, this, &CHMSearchController::setSearchInFile);
    connect(m_searchInIndexItem, &QAction::triggered, this, &CHMSearchController::setSearchInIndex);

    // The magnifier at the field's start opens the mode menu below the field.
    const QString iconPath = ResourceLocator::resourcePath(QStringLiteral("icons/Search.svg"));
    QAction* menuButton = field->addAction(iconPath.isEmpty() ? QIcon() : QIcon(iconPath),
                                           QLineEdit::LeadingPosition);
    menuButton->setObjectName(QStringLiteral("searchMenuButton"));
    menuButton->setToolTip(tr("Search in the file or in its index"));
    connect(menuButton, &QAction::triggered, this,
            [this, field] { m_searchMenu->popup(field->mapToGlobal(QPoint(0, field->height()))); });

    connect(&m_sidebar, &CHMSidebar::searchRequested, this, &CHMSearchController::runSearch);
    connect(field, &QLineEdit::textChanged, this, &CHMSearchController::searchTextChanged);
    // Down in the field moves into the results.
    field->installEventFilter(this);

    m_focusOnSearchAction = new QAction(tr("Search"), this);
    m_focusOnSearchAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    connect(m_focusOnSearchAction, &QAction::triggered, this, &CHMSearchController::focusOnSearch);

    // Only taken up: storing it again would write the settings file before the window is first
    // painted, and the field is empty, so there is nothing to search yet.
    const QString searchType =
        CHMFilePreferences::getPreferenceforFile(m_document.filePath(), kSearchTypeKey).toString();
    setSearchType(searchType == kSearchTypeIndex ? kSearchInIndexTag : kSearchInFileTag);

    // Once per process; while the default is missing or blank every new window looks again.
    if (!searchDefaultApplied) {
        const QString text =
            CHMFilePreferences::globalDefault(kSearchDefaultKey).toString().trimmed();
        if (!text.isEmpty()) {
            searchDefaultApplied = true;
            field->setText(text);
            searchInFile();
        }
    }
}

CHMSearchController::~CHMSearchController() = default;

void CHMSearchController::sitemapsDidLoad() {
    m_sitemapsShown = true;
    if (isSearchInIndex() && hasVisibleText(searchFieldText()))
        searchInIndex();
}

void CHMSearchController::startSearchIndex() {
    // The index reports its end on this thread; the window may be closed by then.
    const QPointer<CHMSearchController> self(this);
    m_document.prepareSearchIndex([self] {
        if (self)
            self->searchIndexDidFinish();
    });
}

QString CHMSearchController::searchFieldText() const {
    return m_sidebar.searchField()->text();
}

QStringList CHMSearchController::locationOf(const LinkItem& hit) const {
    const auto toc = m_document.tocSource();
    std::vector<LinkItem*> stack;
    const LinkItem* entry =
        toc && !hit.path().isEmpty() ? toc->itemForPath(hit.path(), &stack) : nullptr;
    QStringList place;
    // The stack holds the ancestors innermost first, the tree's own root last.
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (*it != toc->rootItems() && !(*it)->name().isEmpty())
            place << (*it)->name();
    }
    if (entry && !place.isEmpty())
        return place;
    // A top-level entry, or a page the contents do not list: its path says where it is.
    return hit.path().isEmpty() ? QStringList() : QStringList{hit.path()};
}

void CHMSearchController::setSearchType(int tag) {
    m_searchType = tag;
    m_searchInFileItem->setChecked(tag == kSearchInFileTag);
    m_searchInIndexItem->setChecked(tag == kSearchInIndexTag);
    const QAction* on = tag == kSearchInIndexTag ? m_searchInIndexItem : m_searchInFileItem;
    m_sidebar.searchField()->setPlaceholderText(on->text());
}

void CHMSearchController::setSearchInFile() {
    setSearchType(kSearchInFileTag);
    if (!searchFieldText().isEmpty())
        searchInFile();
    CHMFilePreferences::setPreference(kSearchTypeFile, m_document.filePath(), kSearchTypeKey);
}

void CHMSearchController::setSearchInIndex() {
    setSearchType(kSearchInIndexTag);
    if (!searchFieldText().isEmpty())
        searchInIndex();
    CHMFilePreferences::setPreference(kSearchTypeIndex, m_document.filePath(), kSearchTypeKey);
}

void CHMSearchController::searchTextChanged(const QString& text) {
    // The marks on the page are the previous search's words, which no longer stand in the field.
    emit highlightsOutdated();
    // The clear button empties the field without Return: an empty field is an empty search.
    if (text.isEmpty())
        runSearch();
}

void CHMSearchController::runSearch() {
    if (isSearchInIndex())
        searchInIndex();
    else
        searchInFile();
}

void CHMSearchController::searchInFile() {
    const QString text = searchFieldText();
    if (!hasVisibleText(text)) {
        clearSearchList(true);
        return;
    }
    runFileSearch(text);
}

void CHMSearchController::runFileSearch(const QString& text) {
    m_isSearchPending = false;
    m_pendingSearchText.clear();
    CHMSearchIndex* index = m_document.searchIndex();
    if (index && index->status() == CHMSearchIndex::Status::Unavailable) {
        // A failed build never ends in "Indexing…": say so, and why.
        clearSearchList(false);
        showNotice(
            tr("Full-text search is unavailable for this book: %1").arg(index->failureReason()));
        return;
    }
    if (!index || !index->isIndexDone()) {
        // The search runs once the index is done (searchIndexDidFinish); until then the list
        // says why it is empty and offers nothing to select.
        m_isSearchPending = true;
        m_pendingSearchText = text;
        auto notice = std::make_shared<CHMSearchResult>();
        notice->rootItems()->appendChild(std::make_shared<LinkItem>(tr("Indexing…"), QString()));
        m_document.setSearchSource(nullptr);
        showSearchList(notice);
        m_sidebar.searchView()->setEnabled(false);
        return;
    }
    // The index is complete: this search does not wait.
    std::shared_ptr<CHMSearchResult> result = index->searchInFile(text);
    m_document.setSearchSource(result);
    m_sidebar.searchView()->setEmptyText(tr("No page contains “%1”.").arg(text.trimmed()));
    showSearchList(result);
}

void CHMSearchController::searchIndexDidFinish() {
    if (!m_isSearchPending)
        return;
    const QString text = m_pendingSearchText;
    m_isSearchPending = false;
    m_pendingSearchText.clear();
    if (!isSearchInIndex())
        runFileSearch(text);
}

void CHMSearchController::searchInIndex() {
    // A file search still waiting for the index is replaced by this one.
    m_isSearchPending = false;
    m_pendingSearchText.clear();
    const QString text = searchFieldText();
    if (!hasVisibleText(text)) {
        clearSearchList(true);
        return;
    }
    if (!m_sitemapsShown) {
        // sitemapsDidLoad runs it; the book may well have an index.
        clearSearchList(false);
        return;
    }
    const std::shared_ptr<CHMTableOfContent> index = m_document.indexSource();
    if (!index) {
        clearSearchList(false);
        showNotice(tr("This book has no index."));
        return;
    }
    m_document.setSearchSource(nullptr);
    m_sidebar.searchView()->setEmptyText(tr("No index entry begins with “%1”.").arg(text));
    showSearchList(CHMSearchIndex::searchInIndex(index.get(), text));
}

void CHMSearchController::showSearchList(std::shared_ptr<CHMTableOfContent> list) {
    m_sidebar.deselectAll();
    m_sidebar.setSearchSource(std::move(list));
    m_sidebar.searchView()->setEnabled(true);
    m_sidebar.showList(CHMSidebar::kSearch);
    emit searchListChanged();
}

void CHMSearchController::showNotice(const QString& text) {
    m_sidebar.searchView()->setEmptyText(text);
    m_sidebar.showList(CHMSidebar::kSearch);
}

void CHMSearchController::clearSearchList(bool removeHighlights) {
    m_isSearchPending = false;
    m_pendingSearchText.clear();
    m_sidebar.deselectAll();
    m_document.setSearchSource(nullptr);
    m_sidebar.setSearchSource(nullptr);
    m_sidebar.searchView()->setEmptyText(QString());
    m_sidebar.searchView()->setEnabled(true);
    if (removeHighlights)
        emit highlightsOutdated();
    emit searchListChanged();
}

void CHMSearchController::focusOnSearch() {
    // A hidden sidebar's field cannot take the focus.
    if (!m_splitView.isSidebarRestored())
        m_splitView.restoreSidebar();
    QLineEdit* field = m_sidebar.searchField();
    // The window that holds the sidebar.
    m_sidebar.activateWindow();
    field->setFocus(Qt::ShortcutFocusReason);
    field->selectAll();
}

bool CHMSearchController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == m_sidebar.searchField() &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down) {
        CHMOutlineView* results = m_sidebar.searchView();
        if (results->isEnabled() && results->model() && results->model()->rowCount() > 0) {
            m_sidebar.showList(CHMSidebar::kSearch);
            results->setFocus(Qt::TabFocusReason);
            // The first row becomes current without being opened: the next key chooses.
            if (!results->currentIndex().isValid())
                results->selectionModel()->setCurrentIndex(results->model()->index(0, 0),
                                                           QItemSelectionModel::NoUpdate);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
