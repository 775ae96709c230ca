#include "LinkDestinationTable.h"

#include <QUrl>

QString LinkDestinationTable::pageURL(const QString& pagePath) {
    // A page listed with a fragment is still that page: links to it name it without one.
    QString url = QStringLiteral("itss://chm/") + pagePath;
    const qsizetype hash = url.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        url.truncate(hash);
    return url;
}

QString LinkDestinationTable::anchorURL(const QString& pagePath, const QString& anchorName) {
    return pageURL(pagePath) + QLatin1Char('#') + anchorName;
}

LinkDestinationItem* LinkDestinationTable::addPageTarget(const QString& url, quint64 pageID) {
    LinkDestinationItem* item = &m_storage.emplace_back(pageID, 0);
    m_items.push_back(item);
    m_byURL.insert(url.toLower(), item);
    return item;
}

LinkDestinationItem* LinkDestinationTable::addAnchorTarget(const QString& url, quint64 pageID,
                                                           quint64 charIndex) {
    const QString key = url.toLower();
    if (m_byURL.contains(key))
        return nullptr;
    LinkDestinationItem* item = &m_storage.emplace_back(pageID, charIndex);
    m_items.push_back(item);
    m_byURL.insert(key, item);
    return item;
}

const LinkDestinationItem* LinkDestinationTable::itemForKey(const QString& url) const {
    return m_byURL.value(url.toLower(), nullptr);
}

const LinkDestinationItem* LinkDestinationTable::placedItem(const QString& key) const {
    const LinkDestinationItem* item = m_byURL.value(key, nullptr);
    return item && item->isPlaced() ? item : nullptr;
}

const LinkDestinationItem*
LinkDestinationTable::IsDestinationLinkExistForPath(const QString& url) const {
    const QString lower = url.toLower();
    const auto unescaped = [](const QString& s) {
        return QUrl::fromPercentEncoding(s.toUtf8()).toLower();
    };
    if (const auto* item = placedItem(lower))
        return item;
    if (const auto* item = placedItem(unescaped(lower)))
        return item;
    const qsizetype hash = lower.indexOf(QLatin1Char('#'));
    if (hash < 0)
        return nullptr;
    const QString page = lower.left(hash);
    if (const auto* item = placedItem(page))
        return item;
    return placedItem(unescaped(page));
}
