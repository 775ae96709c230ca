// The full-text index of one document, and the two searches of its search field.
//
// Owned by its CHMDocument, which it must not outlive; the document destroys (or cancels) it
// before closing its container. `prepareSearchIndex`, called on the document's thread, takes a
// copy of the list of objects to index and of the document's encoding and starts the index
// thread. That thread fills the index on up to kMaxShards threads of its own (each writes its
// own part of the index; a search reads the parts as one database). The objects are read one at
// a time, in storage order, under the document's lock, which is held for that one object only,
// so page requests never wait for the whole walk. The threads stop between two objects when the
// index is cancelled or destroyed, and are always joined.
//
// Where the index lives: as Xapian Glass files in a private memory-backed folder (see
// CHMSearchIndexFolder), a fraction of the size of Xapian's heap database; on the heap when the
// user has no such folder. Never on disk.
//
// What it holds: the text a reader sees on each page, with CJK text split into n-grams both
// when indexing and when searching, so Chinese, Japanese and Korean words are found without a
// dictionary. In books whose language Xapian can stem (see CHMSearchIndexLanguage) every word
// is indexed as written and by its stem; a search finds the pages holding any form of the
// word and ranks those holding the form typed first. No word positions (they cost a third more
// memory and time), so a quoted phrase finds the pages holding all of its words.
//
// Scores are Xapian's BM25 weights. A word found on every page weighs next to nothing, so such
// hits score near 0 and are ranked by how often the page uses the word; equal scores keep the
// pages' reading order (the order of their entries in the contents, then in the index), not
// the order of the objects in the file. Every hit is listed; none is dropped for their number.
//
// How the build ends: `status()` says Building, then Ready, or Unavailable when Xapian failed
// (the reason is in `failureReason()`), or Cancelled. The done callback is run on every end but
// cancellation, and never on an index thread: it is queued to the thread of its context object
// (by default the application object), so it may freely cancel or destroy the index.
//
// Locks: the state lock (guarding the state, the done flag) and the database lock are never
// held together and never taken while the caller holds the document's lock; the index threads
// take the document's lock only while holding neither. So a search must not be started by a
// thread that holds the document's lock.
//
// Threads: `isIndexDone` and `status` never block. `searchInFile` waits for the build to end:
// the window instead asks only once the done callback has run, so it never waits; chmtool and
// tests simply wait.
#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CHMDocument;
class CHMSearchIndexFolder;
class CHMSearchResult;
class CHMTableOfContent;
class QObject;
class SearchHitEntries;
struct CHMObjectEntry;

class CHMSearchIndex {
public:
    enum class Status { NotStarted, Building, Ready, Unavailable, Cancelled };

    // Threads that fill the index at most (fewer on a machine with few cores, one for a small
    // book).
    static constexpr unsigned kMaxShards = 4;

    // How the build is done; for benchmarks that weigh the choices against each other.
    struct BuildOptions {
        unsigned shards = 0; // threads and parts; 0: chosen by the book's size and the cores
        bool onHeap = false; // Xapian's heap database even where a memory folder exists
    };

    explicit CHMSearchIndex(CHMDocument& document);
    // Cancels and joins the index threads, then removes the index.
    ~CHMSearchIndex();
    CHMSearchIndex(const CHMSearchIndex&) = delete;
    CHMSearchIndex& operator=(const CHMSearchIndex&) = delete;

    // Starts building the index once (later calls do nothing). `onDone` runs once when the
    // build has ended, complete or failed (ask `status()`): queued to the thread of `context`
    // (the application object when null) and run by its event loop; not at all when neither
    // exists by then, nor once cancel() or the destructor has run.
    void prepareSearchIndex(std::function<void()> onDone = {}, QObject* context = nullptr);

    // Before prepareSearchIndex only.
    void setBuildOptions(const BuildOptions& options) { m_options = options; }

    Status status() const;
    // Why the index is Unavailable, for the log or a tooltip; empty otherwise.
    QString failureReason() const;
    bool isIndexDone() const;
    // Blocks until the build has ended; true when the index is complete (false when it failed,
    // was cancelled or never started).
    bool waitUntilDone();
    // Stops the index threads between two objects and joins them. Idempotent. No code of the
    // caller ever runs on those threads, so it is never called from one of them.
    void cancel();

    // The full-text search: the pages whose text matches `text` (Xapian's query syntax; text it
    // cannot parse is searched as plain words), each listed under its contents entry (else its
    // index entry), best score first, every one of them. Null when the text is empty or the
    // index is not complete and cannot become so. Waits for the build.
    std::shared_ptr<CHMSearchResult> searchInFile(const QString& text);

    // The keyword-index search: the index's top-level entries whose name begins with `text`,
    // ignoring case, in index order. Null when the text is empty or there is no index.
    static std::unique_ptr<CHMTableOfContent> searchInIndex(const CHMTableOfContent* indexSource,
                                                            const QString& text);

    // Whether the walk indexes an object of this path as stored: rooted at "/", no "/../", not a
    // folder ("/" at the end).
    static bool isSearchablePath(const QByteArray& path);

    // For diagnosis and benchmarks; zero until the index is complete. Pages in the index,
    // distinct terms (stems included), bytes of the index in its memory folder (0 on the heap).
    quint64 documentCount();
    quint64 termCount();
    quint64 storageBytes();
    // Xapian's name of the stemmer in use; empty when words are searched as written only. The
    // index thread finds it out from the book: this waits for the build to end.
    QString stemmerName();
    // Whether the index lives in a memory folder (else on the heap).
    bool isInMemoryFolder() const;

private:
    struct Shard;
    struct Database;

    void buildSearchIndex();
    void fillShard(Shard& shard);
    void mergeShards(Database& database);
    void finish(Status status, const QString& reason = {});

    CHMDocument& m_document;
    std::vector<CHMObjectEntry> m_objects; // copied when the build starts, in storage order
    std::atomic<size_t> m_nextObject{0};   // taken under the document's lock
    QString m_encodingName;
    QString m_stemmerName;
    bool m_hasContents = false; // whether hits can be named by contents entries
    BuildOptions m_options;
    std::function<void()> m_onDone;
    QPointer<QObject> m_doneContext;
    // Shared with the queued done call, which runs only while it holds true (until cancel()).
    std::shared_ptr<std::atomic<bool>> m_doneWanted = std::make_shared<std::atomic<bool>>(true);

    std::unique_ptr<Database> m_database;           // guarded by m_databaseLock
    std::shared_ptr<SearchHitEntries> m_hitEntries; // guarded by m_databaseLock
    mutable std::mutex m_databaseLock;

    mutable std::mutex m_stateLock;
    std::condition_variable m_stateChanged;
    Status m_status = Status::NotStarted; // guarded by m_stateLock
    QString m_failureReason;              // guarded by m_stateLock
    std::atomic<bool> m_stop{false};
    std::thread m_thread; // started and joined on the owner's thread
};
