// The document window's searches: the sidebar's search field, its two-item mode menu, and the
// "Search" list that shows full-text hits or the keyword index filtered by the typed text.
#include "CHMDocumentWindow.h"

#include "CHMDocument.h"
#include "CHMFilePreferences.h"
#include "CHMOutlineView.h"
#include "CHMSearchIndex.h"
#include "CHMSearchResult.h"
#include "CHMSidebar.h"
#include "CHMTableOfContent.h"
#include "LinkItem.h"
#include "ResourceLocator.h"
#include "SidebarSplitter.h"

#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMetaObject>

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

void CHMDocumentWindow::setupSearch() {
    QLineEdit* field = m_sidebar->searchField();

    m_searchMenu = new QMenu(this);
    m_searchMenu->setObjectName(QStringLiteral("searchMenu"));
    m_searchInFileItem = m_searchMenu->addAction(tr("Search in File"));
    m_searchInFileItem->setData(kSearchInFileTag);
    m_searchInIndexItem = m_searchMenu->addAction(tr("Search in Index"));
    m_searchInIndexItem->setData(kSearchInIndexTag);
    for (QAction* item : {m_searchInFileItem, m_searchInIndexItem})
        item->setCheckable(true);
    connect(m_searchInFileItem, &QAction::triggered, this, &CHMDocumentWindow::setSearchInFile);
    connect(m_searchInIndexItem, &QAction::triggered, this, &CHMDocumentWindow::setSearchInIndex);

    // The magnifier at the field's start opens the mode menu below the field.
    const QString iconPath = ResourceLocator::resourcePath(QStringLiteral("icons/Search.svg"));
    QAction* menuButton = field->addAction(iconPath.isEmpty() ? QIcon() : QIcon(iconPath),
                                           QLineEdit::LeadingPosition);
    menuButton->setObjectName(QStringLiteral("searchMenuButton"));
    menuButton->setToolTip(tr("Search in the file or in its index"));
    connect(menuButton, &QAction::triggered, this,
            [this, field] { m_searchMenu->popup(field->mapToGlobal(QPoint(0, field->height()))); });

    connect(m_sidebar, &CHMSidebar::searchRequested, this, &CHMDocumentWindow::runSearch);
    // The clear button empties the field without Return: an empty field is an empty search.
    connect(field, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            runSearch();
    });

    m_focusOnSearchAction = new QAction(tr("Search"), this);
    m_focusOnSearchAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+F")));
    connect(m_focusOnSearchAction, &QAction::triggered, this, &CHMDocumentWindow::focusOnSearch);
    addAction(m_focusOnSearchAction);

    // The index is built on its own thread; its end is reported on that thread, and the window
    // may be closed by the time the GUI thread gets to it.
    const QPointer<CHMDocumentWindow> window(this);
    m_document->prepareSearchIndex([window] {
        if (QCoreApplication* application = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                application,
                [window] {
                    if (window)
                        window->searchIndexDidFinish();
                },
                Qt::QueuedConnection);
        }
    });

    const QString searchType =
        CHMFilePreferences::getPreferenceforFile(m_document->filePath(), kSearchTypeKey).toString();
    if (searchType == kSearchTypeIndex)
        setSearchInIndex();
    else
        setSearchInFile();

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

QString CHMDocumentWindow::searchFieldText() const {
    return m_sidebar ? m_sidebar->searchField()->text() : QString();
}

void CHMDocumentWindow::setSearchType(int tag) {
    m_searchType = tag;
    m_searchInFileItem->setChecked(tag == kSearchInFileTag);
    m_searchInIndexItem->setChecked(tag == kSearchInIndexTag);
    const QAction* on = tag == kSearchInIndexTag ? m_searchInIndexItem : m_searchInFileItem;
    m_sidebar->searchField()->setPlaceholderText(on->text());
}

void CHMDocumentWindow::setSearchInFile() {
    setSearchType(kSearchInFileTag);
    if (!searchFieldText().isEmpty())
        searchInFile();
    CHMFilePreferences::setPreference(kSearchTypeFile, m_document->filePath(), kSearchTypeKey);
}

void CHMDocumentWindow::setSearchInIndex() {
    setSearchType(kSearchInIndexTag);
    if (!searchFieldText().isEmpty())
        searchInIndex();
    CHMFilePreferences::setPreference(kSearchTypeIndex, m_document->filePath(), kSearchTypeKey);
}

void CHMDocumentWindow::runSearch() {
    if (isSearchInIndex())
        searchInIndex();
    else
        searchInFile();
}

void CHMDocumentWindow::searchInFile() {
    const QString text = searchFieldText();
    if (!hasVisibleText(text)) {
        clearSearchList(true);
        return;
    }
    runFileSearch(text);
}

void CHMDocumentWindow::runFileSearch(const QString& text) {
    m_isSearchPending = false;
    m_pendingSearchText.clear();
    CHMSearchIndex* index = m_document->searchIndex();
    if (!index || !index->isIndexDone()) {
        // The search runs once the index is done (searchIndexDidFinish); until then the list
        // says why it is empty and offers nothing to select.
        m_isSearchPending = true;
        m_pendingSearchText = text;
        auto notice = std::make_shared<CHMSearchResult>();
        notice->rootItems()->appendChild(std::make_shared<LinkItem>(tr("Indexing…"), QString()));
        m_document->setSearchSource(nullptr);
        showSearchList(notice);
        m_sidebar->searchView()->setEnabled(false);
        return;
    }
    // The index is complete: this search does not wait.
    std::shared_ptr<CHMSearchResult> result = index->searchInFile(text);
    m_document->setSearchSource(result);
    showSearchList(result);
}

void CHMDocumentWindow::searchIndexDidFinish() {
    if (!m_isSearchPending)
        return;
    const QString text = m_pendingSearchText;
    m_isSearchPending = false;
    m_pendingSearchText.clear();
    if (!isSearchInIndex())
        runFileSearch(text);
}

void CHMDocumentWindow::searchInIndex() {
    // A file search still waiting for the index is replaced by this one.
    m_isSearchPending = false;
    m_pendingSearchText.clear();
    const QString text = searchFieldText();
    if (!hasVisibleText(text)) {
        clearSearchList(true);
        return;
    }
    const std::shared_ptr<CHMTableOfContent> index = m_document->indexSource();
    if (!index) {
        clearSearchList(false);
        return;
    }
    m_document->setSearchSource(nullptr);
    showSearchList(CHMSearchIndex::searchInIndex(index.get(), text));
}

void CHMDocumentWindow::showSearchList(std::shared_ptr<CHMTableOfContent> list) {
    m_sidebar->deselectAll();
    m_sidebar->setSearchSource(std::move(list));
    m_sidebar->searchView()->setEnabled(true);
    m_sidebar->showList(CHMSidebar::kSearch);
    emit searchListChanged();
}

void CHMDocumentWindow::clearSearchList(bool removeHighlights) {
    m_isSearchPending = false;
    m_pendingSearchText.clear();
    m_sidebar->deselectAll();
    m_document->setSearchSource(nullptr);
    m_sidebar->setSearchSource(nullptr);
    m_sidebar->searchView()->setEnabled(true);
    if (removeHighlights)
        removeHighlight();
    emit searchListChanged();
}

void CHMDocumentWindow::focusOnSearch() {
    // A hidden sidebar's field cannot take the focus.
    if (!m_splitView->isSidebarRestored())
        restoreSidebar();
    QLineEdit* field = m_sidebar->searchField();
    activateWindow();
    field->setFocus(Qt::ShortcutFocusReason);
    field->selectAll();
}
