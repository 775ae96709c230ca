#include "PrintedLinkRewriter.h"

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
