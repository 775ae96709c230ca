#include "PrintedLinkRewriter.h"

#include <QUrl>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

namespace PrintedLinkRewriter {

namespace {

// The name of a named destination (a name object or a string); empty for anything else.
QString destinationName(QPDFObjectHandle dest) {
    if (dest.isName())
        return QString::fromStdString(dest.getName().substr(1));
    if (dest.isString())
        return QString::fromStdString(dest.getUTF8Value());
    return {};
}

} // namespace

QString helpFileLinkTarget(const QString& uri, const QString& bookFileName) {
    QString rest;
    for (const char* scheme : {"ms-its:", "mk:@msitstore:", "its:"}) {
        if (uri.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) {
            rest = uri.mid(static_cast<qsizetype>(qstrlen(scheme)));
            break;
        }
    }
    if (rest.isNull())
        return {};
    const qsizetype separator = rest.indexOf(QLatin1String("::"));
    if (separator < 0)
        return QStringLiteral("-");
    QString file = QUrl::fromPercentEncoding(rest.left(separator).toUtf8());
    file = file.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    if (file.compare(bookFileName, Qt::CaseInsensitive) != 0)
        return QStringLiteral("-");
    QString path = rest.mid(separator + 2);
    while (path.startsWith(QLatin1Char('/')))
        path.remove(0, 1);
    return QStringLiteral("itss://chm/") + path;
}

bool isLinkAnnotation(QPDFObjectHandle annotation) {
    if (!annotation.isDictionary())
        return false;
    QPDFObjectHandle subtype = annotation.getKey("/Subtype");
    return subtype.isName() && QString::fromStdString(subtype.getName())
                                       .compare(QLatin1String("/Link"), Qt::CaseInsensitive) == 0;
}

QString linkURI(QPDFObjectHandle annotation) {
    QPDFObjectHandle action = annotation.getKey("/A");
    if (!action.isDictionary())
        return {};
    QPDFObjectHandle type = action.getKey("/S");
    QPDFObjectHandle uri = action.getKey("/URI");
    if (!type.isName() || type.getName() != "/URI" || !uri.isString())
        return {};
    return QString::fromUtf8(uri.getStringValue());
}

void rewriteNamedDestinations(QPDF& printed, const QString& pageURL) {
    QString base = pageURL;
    const qsizetype hash = base.indexOf(QLatin1Char('#'));
    if (hash >= 0)
        base.truncate(hash);
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(printed).getAllPages()) {
        QPDFObjectHandle annots = page.getObjectHandle().getKey("/Annots");
        if (!annots.isArray())
            continue;
        for (int i = 0; i < annots.getArrayNItems(); ++i) {
            QPDFObjectHandle annotation = annots.getArrayItem(i);
            if (!isLinkAnnotation(annotation))
                continue;
            QString name;
            if (annotation.hasKey("/Dest")) {
                name = destinationName(annotation.getKey("/Dest"));
            } else {
                QPDFObjectHandle action = annotation.getKey("/A");
                if (action.isDictionary() && action.getKey("/S").isName() &&
                    action.getKey("/S").getName() == "/GoTo")
                    name = destinationName(action.getKey("/D"));
            }
            if (name.isEmpty())
                continue;
            QPDFObjectHandle uri = QPDFObjectHandle::newDictionary();
            uri.replaceKey("/S", QPDFObjectHandle::newName("/URI"));
            uri.replaceKey("/URI", QPDFObjectHandle::newString(
                                       (base + QLatin1Char('#') + name).toUtf8().toStdString()));
            annotation.removeKey("/Dest");
            annotation.replaceKey("/A", uri);
        }
    }
}

} // namespace PrintedLinkRewriter
