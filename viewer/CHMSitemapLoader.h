// Parses a document's table of contents and keyword index on a work thread of its own, so that a
// window can show itself, and stay responsive, while a large sitemap is read.
//
// Owned by the document and driven from the document's thread. The sitemaps' bytes are read
// through the function given at construction (the document's `content`, which holds the
// document's lock for each piece it reads), at most kMaxSitemapBytes of each (SitemapBytes);
// the parse runs with no lock held. The loader's own
// mutex guards only its request slot: it is never held while reading or parsing, and no other
// lock is taken under it, so it joins no lock order.
//
// Requests are served one at a time, in order. A request overtaken by a newer one before it
// starts is skipped; one overtaken while it parses stops at its next entry and is not
// delivered. `done` runs on the work
// thread (a GUI posts a queued call from it). The destructor drops what is queued, stops a parse
// in progress at its next entry and joins the thread; once it returns, no `done` runs.
#pragma once

#include "SitemapBytes.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class CHMTableOfContent;

class CHMSitemapLoader {
public:
    struct Request {
        QString tocPath;   // empty: the book has no table of contents
        QString indexPath; // empty: it has no keyword index
        QString encodingName;
    };
    // A tree is null where its path is empty; the index comes sorted.
    struct Trees {
        std::shared_ptr<CHMTableOfContent> toc;
        std::shared_ptr<CHMTableOfContent> index;
    };
    // Reads whole objects; RangeReader reads pieces of them, so that a sitemap beyond the limit
    // is never held whole.
    using Reader = std::function<QByteArray(const QString& path)>;
    using RangeReader = SitemapRangeReader;
    using Done = std::function<void(Trees trees, quint64 generation)>;

    explicit CHMSitemapLoader(Reader read);
    explicit CHMSitemapLoader(RangeReader read);
    ~CHMSitemapLoader();
    CHMSitemapLoader(const CHMSitemapLoader&) = delete;
    CHMSitemapLoader& operator=(const CHMSitemapLoader&) = delete;

    // Queues a parse and answers its generation (1 for the first request, then counting up).
    quint64 load(Request request, Done done);

    // The parse itself on the calling thread; once *stop (optional) is set, it ends early with
    // what it has read. The entries a sitemap holds beyond the limit count as left out
    // (CHMTableOfContent::truncatedItemCount).
    static Trees parse(const RangeReader& read, const Request& request,
                       const std::atomic<bool>* stop = nullptr);
    // A range reader over a whole-object reader.
    static RangeReader rangesOf(Reader read);

private:
    struct Job {
        Request request;
        Done done;
        quint64 generation = 0;
    };
    void run();

    RangeReader m_read;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Job> m_pending;     // guarded by m_mutex
    quint64 m_lastGeneration = 0;     // guarded by m_mutex
    std::atomic<quint64> m_latest{0}; // the newest request's generation
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_cancel{false}; // ends the parse in progress
    std::thread m_thread;              // last: started once everything above exists
};
