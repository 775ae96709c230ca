#include "CHMConsole.h"

#include <QtGlobal>

void CHMConsole::log(const QString& message) {
    qWarning("%s", qUtf8Printable(formatLine(message)));
}

QString CHMConsole::formatLine(const QString& message) {
    QString line;
    line.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        if (u == u'\n') {
            line += QLatin1String("\\n");
        } else if (u == u'\r') {
            line += QLatin1String("\\r");
        } else if (u == u'\t') {
            line += QLatin1String("\\t");
        } else if (u == u'\\') {
            line += QLatin1String("\\\\");
        } else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029) {
            line += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        } else {
            line += c;
        }
    }
    return line;
}
