// The offscreen page an exported book page is printed from. It is the engine's page but for its
// console: what a page's scripts write or throw (a book's scripts often fail outside the viewer
// they were written for) goes to the "lumeno.page" category's debug notes, which programs turn
// off, instead of standard error. GUI thread only; its profile must outlive it.
#pragma once

#include <QWebEnginePage>

class ExportWebPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit ExportWebPage(QWebEngineProfile* profile, QObject* parent = nullptr);

protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message,
                                  int lineNumber, const QString& sourceID) override;
};
