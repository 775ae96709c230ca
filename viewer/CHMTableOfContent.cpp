#include "CHMTableOfContent.h"

#include "SitemapParser.h"

#include <QUrl>

namespace {

LinkItemPtr makeRoot() {
    return std::make_shared<LinkItem>(QStringLiteral("root"), QStringLiteral("/"));
}

// The decoded path a sitemap path resolves to, or a null string when it is no URL. Tolerant
// parsing lets spaces and non-ASCII letters through, as sitemaps write them unescaped.
QString pagePathKey(const QString& path) {
    static const QUrl base(QStringLiteral("http://x"));
    const QUrl relative(path, QUrl::TolerantMode);
    if (!relative.isValid())
        return QString();
    const QUrl resolved = base.resolved(relative);
    if (!resolved.isValid())
        return QString();
    QString encoded = resolved.path(QUrl::FullyEncoded);
    const qsizetype parameters = encoded.indexOf(u';');
    if (parameters >= 0)
        encoded.truncate(parameters);
    return QUrl::fromPercentEncoding(encoded.toUtf8());
}

} // namespace

CHMTableOfContent::CHMTableOfContent(const QByteArray& data, const QString& encodingName)
    : CHMTableOfContent(data, encodingName, nullptr) {}

CHMTableOfContent::CHMTableOfContent(const QByteArray& data, const QString& encodingName,
                                     const std::atomic<bool>* stop)
    : _rootItems(makeRoot()), _curItem(_rootItems.get()), _stop(stop) {
    parseSitemap(*this, data, encodingName.isEmpty() ? QStringLiteral("iso_8859_1") : encodingName);
    _stop = nullptr; // the flag need not outlive the parse
    std::vector<OpenList>().swap(_itemStack);
    // The current item may be purged below; the parse is over, so point back at the root.
    _curItem = _rootItems.get();
    _curDepth = 0;
    _rootItems->purge();
    _rootItems->enumerateItems([this](LinkItem* item) { addToPageList(item); });
}

CHMTableOfContent::CHMTableOfContent(const CHMTableOfContent* toc,
                                     const std::function<bool(const LinkItem&)>& predicate)
    : _rootItems(makeRoot()), _curItem(_rootItems.get()) {
    if (!toc)
        return;
    for (const LinkItemPtr& item : toc->rootItems()->children()) {
        if (!predicate || predicate(*item))
            _rootItems->appendChild(item);
    }
}

CHMTableOfContent::CHMTableOfContent(LinkItemPtr root)
    : _rootItems(std::move(root)), _curItem(_rootItems.get()) {}

CHMTableOfContent::~CHMTableOfContent() = default;

std::unique_ptr<CHMTableOfContent>
CHMTableOfContent::filterByNamePrefix(const CHMTableOfContent* toc, const QString& text) {
    return std::make_unique<CHMTableOfContent>(toc, [&text](const LinkItem& item) {
        return !item.name().isNull() && item.name().startsWith(text, Qt::CaseInsensitive);
    });
}

LinkItem* CHMTableOfContent::itemForPath(const QString& path, std::vector<LinkItem*>* stack) const {
    const QString searched = path.startsWith(u'/') ? path.mid(1) : path;
    if (LinkItem* found = _rootItems->findByPath(searched, stack))
        return found;
    // Sitemaps may write a page's name escaped ("my%20page.htm") while the page is asked for
    // by its plain name.
    const QString escaped = QString::fromLatin1(
        QUrl::toPercentEncoding(searched, QByteArrayLiteral("!#$&'()*+,/:;=?@~")));
    if (escaped == searched)
        return nullptr;
    return _rootItems->findByPath(escaped, stack);
}

void CHMTableOfContent::sort() {
    _rootItems->sort();
}

LinkItem* CHMTableOfContent::getNextPage(const LinkItem* item) const {
    const quint64 n = item ? item->pageID() : 0;
    if (n + 1 >= _pageList.size() || n + 1 == 0)
        return nullptr;
    return _pageList[n + 1].get();
}

LinkItem* CHMTableOfContent::getPrevPage(const LinkItem* item) const {
    const quint64 n = item ? item->pageID() : 0;
    if (n == 0 || n - 1 >= _pageList.size())
        return nullptr;
    return _pageList[n - 1].get();
}

bool CHMTableOfContent::isSamePage(const QString& a, const QString& b) {
    const QString keyA = pagePathKey(a);
    if (keyA.isNull())
        return false;
    const QString keyB = pagePathKey(b);
    return !keyB.isNull() && keyA == keyB;
}

void CHMTableOfContent::push_item() {
    _itemStack.push_back({_curItem, _curDepth});
}

void CHMTableOfContent::new_item() {
    if (_itemStack.empty())
        push_item();
    const OpenList& list = _itemStack.back();
    if (!list.owner || _itemCount >= kMaxItems) {
        if (_itemCount >= kMaxItems)
            ++_truncatedItemCount;
        _curItem = nullptr;
        return;
    }
    // At the deepest level a list's entries become siblings of its owner.
    LinkItem* parent = list.owner;
    int parentDepth = list.ownerDepth;
    if (parentDepth >= kMaxDepth && parent->parent()) {
        parent = parent->parent();
        parentDepth = kMaxDepth - 1;
    }
    auto item = std::make_shared<LinkItem>();
    parent->appendChild(item);
    ++_itemCount;
    _curItem = item.get();
    _curDepth = parentDepth + 1;
}

void CHMTableOfContent::pop_item() {
    // The HTML parser balances list ends, but an unmatched one must not break the tree.
    if (_itemStack.empty())
        return;
    _curItem = _itemStack.back().owner;
    _curDepth = _itemStack.back().ownerDepth;
    _itemStack.pop_back();
}

void CHMTableOfContent::setCurItem(LinkItem* item) {
    _curItem = item;
    _curDepth = 0;
    for (const LinkItem* p = item ? item->parent() : nullptr; p && _curDepth < kMaxDepth;
         p = p->parent())
        ++_curDepth;
}

void CHMTableOfContent::addToPageList(LinkItem* item) {
    // An entry whose "Local" is empty names no page either; listing it would put a blank page
    // into paging and the export.
    if (!item || item->path().isEmpty())
        return;
    LinkItemPtr shared = item->weak_from_this().lock();
    if (!shared)
        return;
    QString key = pagePathKey(item->path());
    const bool repeat = !_pageList.empty() && !key.isNull() && key == _lastPageKey;
    if (!repeat) {
        _pageList.push_back(std::move(shared));
        _lastPageKey = std::move(key);
    }
    item->setPageID(_pageList.size() - 1);
}
