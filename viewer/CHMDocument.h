// One open .chm file: its reading process, its metadata and its sidebar trees.
//
// The document is the only road into the container. The container is read by a process of its
// own (CHMReaderProcess: the checks and chmlib, confined), started by `readFromURL` and stopped
// by the destructor. Every request to it runs while the calling thread holds `lock()`
// (recursive), so one request is in flight per book: `content` and `exist` take it themselves;
// a caller that walks the container takes it around each step. Each answer has one deadline
// (CHMReaderProcess::kAnswerTimeoutMs) after which the process counts as dead. When the process
// dies the book reads as damaged: every later request answers as missing and the owner is told.
// Everything else a window, the search index or the export needs is derived from here.
// Headless: QtCore only, usable from any thread for `content`/`exist`/`objects`; the setters
// and trees belong to the thread that owns the document.
//
// A GUI thread never calls `content`, `exist` or `contentOfEntry`, and never takes the lock: a
// request may wait for a stopped process until its deadline, and the lock may be held by a
// thread that waits so. It reads through `readInBackground` instead, which runs the reading on
// the document's request thread and hands the result back by a queued call.
#pragma once

#include "CHMContainerLayout.h"
#include "CHMOpenFailure.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class CHMReaderProcess;
class CHMRequestThread;
class CHMSitemapLoader;
class CHMTableOfContent;
class QObject;
class QSocketNotifier;
class CHMSearchResult;
class CHMSearchIndex;

class CHMDocument {
public:
    CHMDocument();
    ~CHMDocument();
    CHMDocument(const CHMDocument&) = delete;
    CHMDocument& operator=(const CHMDocument&) = delete;

    // Opens the file at the URL's path, checks the container, reads metadata and (unless
    // SitemapLoading::Later was set) the sitemaps.
    // False when the file cannot be used; `error` then holds one line for the user.
    bool readFromURL(const QUrl& url, const QString& type, QString* error);

    // Opens a document in one step: the document, or null with `error` set to one line for the
    // user. What every caller that does not need the two steps of the document architecture uses.
    static std::unique_ptr<CHMDocument> open(const QString& path, QString* error = nullptr);

    // Whether opening parses the sitemaps at once, or leaves them to
    // setupTOCSourceInBackground (a window that shows itself first).
    enum class SitemapLoading { Now, Later };
    static std::unique_ptr<CHMDocument> open(const QString& path, QString* error,
                                             SitemapLoading loading);
    // Before readFromURL; Now unless set.
    void setSitemapLoading(SitemapLoading loading) { m_sitemapLoading = loading; }

    // The document is read-only: saving always fails with this message.
    static QString saveRefusedMessage();

    // The object's whole bytes; a null QByteArray when the path names no object, the object is
    // empty, larger than the reader accepts, or cannot be read completely.
    QByteArray content(const QString& path);
    // Up to `length` bytes of the object from `offset` on (fewer at its end; null past it or
    // under the same conditions as above), without reading the rest of it into memory.
    QByteArray content(const QString& path, quint64 offset, quint64 length);
    // Whether chmlib resolves the path as given (no normalisation).
    bool exist(const QString& path);

    // Every object of the container as its directory lists it (the full walk).
    const std::vector<CHMObjectEntry>& objects() const;
    // Reads one listed object through chmlib; null when it cannot be read completely.
    QByteArray contentOfEntry(const CHMObjectEntry& entry);

    // Whether the book's reading process has died (crashed, was killed, or answered out of
    // turn): every request since has answered as missing.
    bool isDamaged() const { return m_damaged.load(); }
    // Runs `onDamaged` once on receiver's thread, by a queued call, when the reading process is
    // found dead: by a request, or by watching the process from receiver's event loop (at once
    // when it already is). Call it on the document's thread, once; nothing runs once the
    // document is gone.
    void setDamageHandler(QObject* receiver, std::function<void()> onDamaged);
    // The reading process's id (tests stop it); 0 when none runs.
    qint64 readerProcessId() const;

    // What runs on the document's request thread: it reads (through `content`, `exist`, ...) and
    // answers what is to be done with the result on the receiver's thread.
    using BackgroundReading = std::function<std::function<void()>()>;
    // Runs `reading` on the document's request thread (one per document, started here the first
    // time), after the readings asked for before it, and then what it answers on this thread by
    // a queued call, unless receiver or the document is gone by then. Call it on the document's
    // thread (the GUI thread in the reader); it never waits.
    void readInBackground(QObject* receiver, BackgroundReading reading);

    // Metadata and trees (filled by readFromURL; the trees again when the encoding changes).
    bool loadMetadata();
    QString findHomeForPath(const QString& folder);
    void setupTOCSource();
    // Parses the sitemaps in the current encoding on the document's work thread. The trees are
    // installed on receiver's thread by a queued call, which then runs onLoaded there; a later
    // call overtakes an earlier one, whose trees are never installed. Nothing is installed once
    // the document is gone. Call it on the document's thread; receiver must outlive the
    // document (the window that owns it, say).
    void setupTOCSourceInBackground(QObject* receiver, std::function<void()> onLoaded);
    // False from a deferred opening until the first trees are installed.
    bool areSitemapsLoaded() const { return m_sitemapsLoaded; }

    // The itss URL of a container path ("itss://chm/<path>"), escaped when the plain text makes
    // no valid URL; invalid when even that fails.
    static QUrl composeURL(const QString& path);
    // The container path of an itss URL, percent escapes decoded; empty for any other URL.
    static QString extractPathFromURL(const QUrl& url);

    std::recursive_mutex& lock() { return m_lock; }
    bool isOpen() const { return m_reader != nullptr; }

    const QString& filePath() const { return m_filePath; }
    const QString& docTitle() const { return m_docTitle; }
    const QString& homePath() const { return m_homePath; }
    const QString& tocPath() const { return m_tocPath; }
    const QString& indexPath() const { return m_indexPath; }
    const QString& encodingName() const { return m_encodingName; }
    void setEncodingName(const QString& name) { m_encodingName = name; }

    // The user's chosen encoding when there is one, else the file's own.
    QString currentEncodingName() const;
    const QString& customizedEncodingName() const { return m_customizedEncodingName; }
    void setCustomizedEncodingName(const QString& name) { m_customizedEncodingName = name; }

    std::shared_ptr<CHMTableOfContent> tocSource() const { return m_tocSource; }
    std::shared_ptr<CHMTableOfContent> indexSource() const { return m_indexSource; }
    std::shared_ptr<CHMSearchResult> searchSource() const { return m_searchSource; }
    void setSearchSource(std::shared_ptr<CHMSearchResult> result);

    // Starts building the full-text index on its own thread (once); `onDone` runs on the
    // application's thread, through its event loop, when the build has ended, complete or failed
    // (CHMSearchIndex::status()). The index is stopped and joined when the document goes.
    void prepareSearchIndex(std::function<void()> onDone = {});
    CHMSearchIndex* searchIndex() const { return m_searchIndex.get(); }

    // The largest object the reader reads into memory.
    static constexpr quint64 kMaxObjectLength = 256ull << 20;

private:
    // After a request (any thread): tells the owner once when the process was lost.
    void noticeDamage();
    // Tells the owner, by a queued call, that the book reads as damaged.
    void tellDamage();

    std::recursive_mutex m_lock;
    std::unique_ptr<CHMReaderProcess> m_reader;
    std::atomic<bool> m_damaged = false;
    // Guards the two below, set on the document's thread and read by whichever thread finds
    // the process dead; held for nothing else, and no other lock is taken under it.
    std::mutex m_damageHandlerLock;
    QObject* m_damageReceiver = nullptr;
    std::function<void()> m_onDamaged;
    // Sees the process end while nothing is asked of it (on the document's thread).
    std::unique_ptr<QSocketNotifier> m_readerWatch;
    QString m_filePath;
    QString m_docTitle;
    QString m_homePath;
    QString m_tocPath;
    QString m_indexPath;
    QString m_encodingName;
    QString m_customizedEncodingName;
    std::shared_ptr<CHMTableOfContent> m_tocSource;
    std::shared_ptr<CHMTableOfContent> m_indexSource;
    std::shared_ptr<CHMSearchResult> m_searchSource;
    SitemapLoading m_sitemapLoading = SitemapLoading::Now;
    bool m_sitemapsLoaded = false;
    quint64 m_sitemapGeneration = 0; // the newest background parse asked for
    // Expires with the document, so a queued delivery can tell it came too late.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
    std::unique_ptr<CHMSitemapLoader> m_sitemapLoader; // reads the container: stopped early
    std::unique_ptr<CHMRequestThread> m_requestThread; // likewise
    std::unique_ptr<CHMSearchIndex> m_searchIndex; // declared last: stopped before the rest goes
};
