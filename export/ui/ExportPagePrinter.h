// Prints one page of a book through the web engine for the export, and walks its DOM.
//
// For each call of `print`: an offscreen view the width of the printable area loads the URL on
// the given profile (the same view page after page, a new one after a page failed); once the main
// frame has loaded (a redirect to another page counts as that page's load), framesets become frames
// one below the other, frames are sized to their content, a page wider than the paper is shrunk to
// fit, the page is printed to memory with the paper and margins of the settings, and the DOM walk
// collects the page text and anchors. Page scripts' messages go to the log, not standard error.
// Every step has a time limit; a page that misses it is given up (its view and renderer go) and
// reported as not printed. The callback runs once per `print`, on the GUI thread, from the event
// loop (never from inside `print`). GUI thread only; the profile must outlive this.
#pragma once

#include "CHMExporter.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVariant>
#include <functional>

class QWebEngineProfile;
class QWebEngineView;

class ExportPagePrinter : public QObject {
    Q_OBJECT
public:
    struct Result {
        bool printed = false;
        QByteArray pdf;
        QVariant walk;
        QString failure; // why nothing was printed
        QUrl url;        // what the view showed (after redirects)
    };
    using Callback = std::function<void(const Result&)>;

    static constexpr int kDefaultTimeLimitMs = 30000;

    ExportPagePrinter(QWebEngineProfile* profile, const ExportPageSettings& settings,
                      QObject* parent = nullptr);
    ~ExportPagePrinter() override;

    void setTimeLimit(int milliseconds) { m_timeLimitMs = milliseconds; }
    void print(const QUrl& url, Callback done);
    // Drops the page in work without calling back.
    void abort();
    // A page is in work: its callback has not run yet.
    bool isBusy() const { return static_cast<bool>(m_done); }

private:
    void onLoadFinished(bool ok);
    void sizeFrames();
    void flattenFramesets();
    void fitFrames();
    void fitWidth();
    void printPage();
    void walkDom();
    void finish(Result result);
    void armTimer(const char* step);
    void releaseView();

    QWebEngineProfile* m_profile;
    ExportPageSettings m_settings;
    int m_timeLimitMs = kDefaultTimeLimitMs;
    QWebEngineView* m_view = nullptr;
    QTimer m_timer;
    QElapsedTimer m_frameWait; // since the frames of a frameset were asked for
    QString m_step;
    QUrl m_url;
    quint64 m_generation = 0; // callbacks of an earlier page are ignored
    bool m_loading = false;   // a load of the current page is awaited
    Callback m_done;
    Result m_result;
};
