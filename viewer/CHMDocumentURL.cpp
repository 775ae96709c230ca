// The itss URL form of container paths: "itss://chm/<path>". The web engine registers the
// scheme with host syntax, so the host "chm" is part of every URL and the path follows it.
#include "CHMDocument.h"

namespace {

const QLatin1String kPrefix("itss://chm/");

} // namespace

QUrl CHMDocument::composeURL(const QString& path) {
    // "/a.htm" and "a.htm" name the same object; a second "/" after the host would make a
    // different URL path ("//a.htm") that the container does not know.
    qsizetype start = 0;
    while (start < path.size() && path[start] == u'/')
        ++start;
    const QString relative = path.mid(start);
    QUrl url(kPrefix + relative, QUrl::TolerantMode);
    if (url.isValid())
        return url;
    // Keep what structures a path ("/", "#", "?", ";"), escape everything else.
    const QByteArray escaped = QUrl::toPercentEncoding(relative, QByteArrayLiteral("/#?;=&"));
    return QUrl(kPrefix + QString::fromLatin1(escaped), QUrl::TolerantMode);
}

QString CHMDocument::extractPathFromURL(const QUrl& url) {
    // Asked about every finished frame, whatever its scheme: only itss URLs have a path here.
    if (url.scheme() != QLatin1String("itss"))
        return {};
    QString path = url.path(QUrl::FullyDecoded);
    if (path.startsWith(u'/'))
        path.remove(0, 1);
    // The query stays: a contents entry may name "a.htm?x=1" and is found by it; the fragment
    // only scrolls within the page.
    if (url.hasQuery())
        path += u'?' + url.query(QUrl::FullyDecoded);
    return path;
}
