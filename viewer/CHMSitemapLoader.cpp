#include "CHMSitemapLoader.h"

#include "CHMTableOfContent.h"
#include "LumenoLogging.h"

CHMSitemapLoader::CHMSitemapLoader(Reader read)
    : m_read(std::move(read)), m_thread([this] { run(); }) {}

CHMSitemapLoader::~CHMSitemapLoader() {
    {
        std::lock_guard guard(m_mutex);
        m_stop = true;
        m_cancel = true;
        m_pending.reset();
    }
    m_wake.notify_all();
    m_thread.join();
}

quint64 CHMSitemapLoader::load(Request request, Done done) {
    quint64 generation = 0;
    {
        std::lock_guard guard(m_mutex);
        generation = ++m_lastGeneration;
        m_pending = Job{std::move(request), std::move(done), generation};
        m_latest = generation;
        // A parse in progress is stale now: it ends at its next entry.
        m_cancel = true;
    }
    m_wake.notify_one();
    return generation;
}

CHMSitemapLoader::Trees CHMSitemapLoader::parse(const Reader& read, const Request& request,
                                                const std::atomic<bool>* stop) {
    Trees trees;
    if (!request.tocPath.isEmpty())
        trees.toc =
            std::make_shared<CHMTableOfContent>(read(request.tocPath), request.encodingName, stop);
    if (stop && stop->load())
        return trees;
    if (!request.indexPath.isEmpty()) {
        auto index = std::make_shared<CHMTableOfContent>(read(request.indexPath),
                                                         request.encodingName, stop);
        index->sort();
        trees.index = std::move(index);
    }
    return trees;
}

void CHMSitemapLoader::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_pending.has_value(); });
            if (m_stop)
                return;
            job = std::move(*m_pending);
            m_pending.reset();
            m_cancel = false;
        }
        Trees trees;
        try {
            trees = parse(m_read, job.request, &m_cancel);
        } catch (const std::bad_alloc&) {
            // A sitemap too large for memory leaves its list empty, not the reader gone.
            qCWarning(lcSitemap) << "the sitemaps do not fit in memory; they are left empty";
            trees = Trees{};
        }
        if (m_stop)
            return;
        // A newer request (another encoding) makes these trees stale.
        if (job.generation != m_latest.load())
            continue;
        if (job.done)
            job.done(std::move(trees), job.generation);
    }
}
