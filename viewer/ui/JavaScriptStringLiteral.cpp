#include "JavaScriptStringLiteral.h"

QString javaScriptStringLiteral(const QString& text) {
    static const char hex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit == u'\\') {
            out += QLatin1String("\\\\");
        } else if (unit == u'"') {
            out += QLatin1String("\\\"");
        } else if (unit < 0x20 || unit > 0x7E || unit == u'\'' || unit == u'<' || unit == u'>' ||
                   unit == u'&') {
            out += QLatin1String("\\u");
            for (int shift = 12; shift >= 0; shift -= 4)
                out += QLatin1Char(hex[(unit >> shift) & 0xF]);
        } else {
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}
