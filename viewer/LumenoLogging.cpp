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
Q_LOGGING_CATEGORY(lcEngine, "lumeno.engine")
Q_LOGGING_CATEGORY(lcStartup, "lumeno.startup")

namespace {

QtMessageHandler previousHandler = nullptr;

// Notes written at each start that ask nothing of the user: the sandbox turned off, a headless
// display, no GPU, no OpenGL on an X display (the reader draws in software on purpose), no
// runtime folder.
bool isEngineNote(const QMessageLogContext& context, const QString& message) {
    const QLatin1String category(context.category ? context.category : "");
    if (category.startsWith(QLatin1String("qt.webengine")))
        return true;
    static const char* const kNotes[] = {
        "Sandboxing disabled by user",
        "No suitable graphics backend found",
        "WebEngineContext used before QtWebEngineCore::initialize()",
        "This plugin does not support",
        "QXcbIntegration: Cannot create platform",
        "QStandardPaths: XDG_RUNTIME_DIR not set",
        "QStandardPaths: wrong permissions on runtime directory",
    };
    for (const char* note : kNotes) {
        if (message.startsWith(QLatin1String(note)))
            return true;
    }
    return message.trimmed().isEmpty();
}

void filterEngineNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg && type != QtCriticalMsg && isEngineNote(context, message)) {
        if (!lcEngine().isDebugEnabled())
            return;
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

void keepStandardErrorForTheUser() {
    QLoggingCategory::setFilterRules(QStringLiteral("lumeno.*.debug=false\n"
                                                    "lumeno.*.info=false\n"
                                                    "qt.webenginecontext.info=false"));
    previousHandler = qInstallMessageHandler(filterEngineNotes);
}

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
