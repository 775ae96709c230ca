#include "ExportWebPage.h"

#include "LumenoLogging.h"

ExportWebPage::ExportWebPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {}

void ExportWebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message,
                                             int lineNumber, const QString& sourceID) {
    qCDebug(lcPage).noquote() << QStringLiteral("%1:%2:").arg(logSafe(sourceID)).arg(lineNumber)
                              << logSafe(message);
}
