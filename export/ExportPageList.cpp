#include "ExportPageList.h"

#include "CHMDocument.h"
#include "PathExtension.h"
#include "TextEncodingTable.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

QString coverageKey(const QString& path) {
    // Escaping first makes "a b.htm" and "a%20b.htm" the same page.
    return QString::fromLatin1(QUrl::toPercentEncoding(path, "/#?;:%@&=+$,!~*'()")).toLower();
}

bool covers(const QString& listedKey, const QString& candidateKey) {
    if (!listedKey.startsWith(candidateKey))
        return false;
    if (listedKey.size() == candidateKey.size())
        return true;
    const QChar next = listedKey.at(candidateKey.size());
    return next == QLatin1Char('#') || next == QLatin1Char('?') || next == QLatin1Char(';');
}

} // namespace

QString ExportPageList::pageOfPath(const QString& path) {
    const qsizetype end = path.indexOf(QRegularExpression(QStringLiteral("[#?;]")));
    return end < 0 ? path : path.left(end);
}

ExportPageList::ExportPageList(const std::vector<LinkItemPtr>& contentsPages) {
    for (const LinkItemPtr& item : contentsPages) {
        // A page the contents name again (another anchor of it, further down) is printed once:
        // its anchors are found on that one print.
        if (!item || FindPageInsidePageList(pageOfPath(item->path())))
            continue;
        m_items.push_back(item);
        m_keys.push_back(coverageKey(item->path()));
    }
}

bool ExportPageList::FindPageInsidePageList(const QString& path) const {
    const QString key = coverageKey(path);
    for (const QString& listed : m_keys) {
        if (covers(listed, key))
            return true;
    }
    return false;
}

void ExportPageList::CheckNInsertPath(const QString& path) {
    if (path.isEmpty() || FindPageInsidePageList(path))
        return;
    const QString name = path.section(QLatin1Char('/'), -1);
    m_items.push_back(std::make_shared<LinkItem>(name, path));
    m_keys.push_back(coverageKey(path));
}

void ExportPageList::insertHome(const QString& homePath) {
    QString path = homePath;
    if (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    if (path.isEmpty() || FindPageInsidePageList(path))
        return;
    m_items.insert(m_items.begin(), std::make_shared<LinkItem>(QStringLiteral("Home"), path));
    m_keys.insert(m_keys.begin(), coverageKey(path));
}

void ExportPageList::addDocumentPages(CHMDocument& document) {
    insertHome(document.homePath());
    // The list is fixed once the book is open: no lock, which a thread waiting for the book's
    // reading process may hold, is taken for it.
    const std::vector<CHMObjectEntry>& objects = document.objects();
    const QString encoding = document.encodingName();
    for (const CHMObjectEntry& entry : objects) {
        const QByteArray& name = entry.name;
        if (!name.startsWith('/') || name.endsWith('/') || name.contains("/../"))
            continue;
        // Names are stored as UTF-8; old compilers wrote them in the book's code page.
        QString path = decodeText(name, QStringLiteral("UTF-8"));
        if (path.isNull() && !encoding.isEmpty())
            path = decodeText(name, encoding);
        if (path.isNull())
            continue;
        path.remove(0, 1);
        const QString extension = pathExtension(path);
        if (extension == QLatin1String("htm") || extension == QLatin1String("html"))
            CheckNInsertPath(path);
    }
}
