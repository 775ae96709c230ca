// The full-text index of one document, and the two searches of its search field.
//
// Owned by its CHMDocument, which it must not outlive; the document destroys (or cancels) it
// before closing its container. `prepareSearchIndex`, called on the document's thread, takes a
// copy of the object list and of the document's encoding and starts one index thread. That
// thread reads one object at a time through the document, whose lock is held for that object
// only, so page requests never wait for the whole walk. It stops between two objects when the
// index is cancelled or destroyed, and is always joined.
//
// The index holds the text a reader sees on each page, in an in-memory Xapian database, with
// CJK text split into n-grams both when indexing and when searching, so Chinese, Japanese and
// Korean words are found without a dictionary. The index keeps no word positions (they cost a
// third more memory and time), so a quoted phrase finds the pages holding all of its words.
// Every Xapian error is caught here: indexing skips the object, a search answers what it could
// find.
//
// Locks: the state lock (guarding the state, the done flag) and the database lock are never held
// together and never taken while the caller holds the document's lock; the index thread takes
// the document's lock only while holding neither. So a search must not be started by a thread
// that holds the document's lock.
//
// Threads: `isIndexDone` never blocks. `searchInFile` waits for the index to be complete: the
// window instead asks only once the done callback has run (on the index thread: the window
// bounces it to its own thread), so it never waits; chmtool and tests simply wait.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CHMDocument;
class CHMSearchResult;
class CHMTableOfContent;
class SearchHitEntries;
struct CHMObjectEntry;

class CHMSearchIndex {
public:
    // Hits taken from one search; more than a reader scrolls through.
    static constexpr unsigned kMaxHits = 1000;

    explicit CHMSearchIndex(CHMDocument& document);
    // Cancels and joins the index thread.
    ~CHMSearchIndex();
    CHMSearchIndex(const CHMSearchIndex&) = delete;
    CHMSearchIndex& operator=(const CHMSearchIndex&) = delete;

    // Starts building the index once (later calls do nothing). `onDone` runs on the index thread
    // when the index is complete, never when it was cancelled.
    void prepareSearchIndex(std::function<void()> onDone = {});

    bool isIndexDone() const;
    // Blocks until the index thread has ended; true when the index is complete (false when it
    // was cancelled or never started).
    bool waitUntilDone();
    // Stops the index thread between two objects and joins it. Idempotent.
    void cancel();

    // The full-text search: the pages whose text matches `text` (Xapian's query syntax; text it
    // cannot parse is searched as plain words), each listed under its contents entry (else its
    // index entry), best score first. Null when the text is empty, the document has no table of
    // contents, or the index is not complete and cannot become so. Waits for the index.
    std::shared_ptr<CHMSearchResult> searchInFile(const QString& text);

    // The keyword-index search: the index's top-level entries whose name begins with `text`,
    // ignoring case, in index order. Null when the text is empty or there is no index.
    static std::unique_ptr<CHMTableOfContent> searchInIndex(const CHMTableOfContent* indexSource,
                                                            const QString& text);

    // Whether the walk indexes an object of this path as stored: rooted at "/", no "/../", not a
    // folder ("/" at the end).
    static bool isSearchablePath(const QByteArray& path);

    // Pages in the index and distinct terms; for diagnosis and benchmarks. Zero until done.
    quint64 documentCount();
    quint64 termCount();

private:
    struct Database;
    enum class State { Idle, Running, Done, Stopped };

    void buildSearchIndex();
    // Adds one object (its path as stored is `entry.name`); false when it holds no text.
    bool addToSearchIndex(const CHMObjectEntry& entry);
    void finish(State state);

    CHMDocument& m_document;
    std::vector<CHMObjectEntry> m_objects; // copied when the build starts
    QString m_encodingName;
    bool m_hasContents = false; // whether hits can be named by contents entries
    std::function<void()> m_onDone;

    std::unique_ptr<Database> m_database;           // guarded by m_databaseLock
    std::shared_ptr<SearchHitEntries> m_hitEntries; // guarded by m_databaseLock
    std::mutex m_databaseLock;

    mutable std::mutex m_stateLock;
    std::condition_variable m_stateChanged;
    State m_state = State::Idle; // guarded by m_stateLock
    std::atomic<bool> m_stop{false};
    std::thread m_thread; // started and joined on the owner's thread
};
