#include "PathExtension.h"

QString pathExtension(QStringView path) {
    QStringView name = path.mid(path.lastIndexOf(u'/') + 1);
    if (const qsizetype semicolon = name.indexOf(u';'); semicolon >= 0)
        name = name.left(semicolon);
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    return name.mid(dot + 1).toString().toLower();
}
