#include "CHMSitemapLoader.h"

#include "CHMTableOfContent.h"
#include "LumenoLogging.h"

#include <algorithm>

CHMSitemapLoader::CHMSitemapLoader(Reader read) : CHMSitemapLoader(rangesOf(std::move(read))) {}

CHMSitemapLoader::CHMSitemapLoader(RangeReader read)
    : m_read(std::move(read)), m_thread([this] { run(); }) {}

CHMSitemapLoader::RangeReader CHMSitemapLoader::rangesOf(Reader read) {
    return [read = std::move(read)](const QString& path, quint64 offset, quint64 length) {
        const QByteArray whole = read(path);
        if (whole.isNull() || offset >= static_cast<quint64>(whole.size()))
            return QByteArray();
        return whole.mid(static_cast<qsizetype>(offset),
                         static_cast<qsizetype>(std::min<quint64>(length, whole.size() - offset)));
    };
}

namespace {

std::shared_ptr<CHMTableOfContent> loadTree(const CHMSitemapLoader::RangeReader& read,
                                            const QString& path, const QString& encodingName,
                                            const std::atomic<bool>* stop) {
    SitemapBytes bytes = readSitemapBytes(read, path, kMaxSitemapBytes, stop);
    auto tree = std::make_shared<CHMTableOfContent>(bytes.head, encodingName, stop);
    tree->addTruncatedItems(bytes.entriesLeftOut);
    return tree;
}

} // namespace

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

CHMSitemapLoader::Trees CHMSitemapLoader::parse(const RangeReader& read, const Request& request,
                                                const std::atomic<bool>* stop) {
    Trees trees;
    if (!request.tocPath.isEmpty())
        trees.toc = loadTree(read, request.tocPath, request.encodingName, stop);
    if (stop && stop->load())
        return trees;
    if (!request.indexPath.isEmpty()) {
        auto index = loadTree(read, request.indexPath, request.encodingName, stop);
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
