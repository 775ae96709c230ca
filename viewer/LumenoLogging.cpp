#include "LumenoLogging.h"

Q_LOGGING_CATEGORY(lcContainer, "lumeno.container")
Q_LOGGING_CATEGORY(lcSitemap, "lumeno.sitemap")
Q_LOGGING_CATEGORY(lcSearch, "lumeno.search")
Q_LOGGING_CATEGORY(lcItss, "lumeno.itss")
Q_LOGGING_CATEGORY(lcEncoding, "lumeno.encoding")
Q_LOGGING_CATEGORY(lcWindow, "lumeno.window")
Q_LOGGING_CATEGORY(lcPage, "lumeno.page")
Q_LOGGING_CATEGORY(lcExport, "lumeno.export")
Q_LOGGING_CATEGORY(lcBookmarks, "lumeno.bookmarks")

QString logSafe(const QString& untrusted) {
    constexpr qsizetype kMaxShown = 200;
    QString out;
    out.reserve(qMin(untrusted.size(), kMaxShown) + 8);
    for (qsizetype i = 0; i < untrusted.size(); ++i) {
        if (out.size() >= kMaxShown) {
            out += QStringLiteral("…");
            break;
        }
        const QChar c = untrusted.at(i);
        const char16_t u = c.unicode();
        if (u == '\n')
            out += QStringLiteral("\\n");
        else if (u == '\r')
            out += QStringLiteral("\\r");
        else if (u == '\t')
            out += QStringLiteral("\\t");
        else if (u == '\\')
            out += QStringLiteral("\\\\");
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}
