#include "PrintPipeline.h"

#include "CHMExporter.h"
#include "PageTextContent.h"
#include "PreparedPrint.h"

#include <algorithm>

PrintPipeline::PrintPipeline(CHMExporter& exporter, Done done)
    : m_exporter(exporter), m_done(std::move(done)) {
    // More workers than prints held at once would only wait.
    const std::size_t hardware = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t count = std::min(hardware, kMaxPrintsInWork);
    m_workers.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        m_workers.emplace_back([this] { work(); });
}

PrintPipeline::~PrintPipeline() {
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_jobs.clear();
    }
    m_jobReady.notify_all();
    m_turnChanged.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
}

void PrintPipeline::addPrint(const QString& pagePath, QByteArray pdf, QVariant walk) {
    Job job;
    job.pagePath = pagePath;
    job.printed = true;
    job.pdf = std::move(pdf);
    job.walk = std::move(walk);
    hand(std::move(job));
}

void PrintPipeline::skipPage(const QString& pagePath) {
    Job job;
    job.pagePath = pagePath;
    hand(std::move(job));
}

void PrintPipeline::hand(Job job) {
    {
        const std::lock_guard lock(m_mutex);
        job.turn = m_handed++;
        m_jobs.push_back(std::move(job));
    }
    m_jobReady.notify_one();
}

std::size_t PrintPipeline::inWork() const {
    const std::lock_guard lock(m_mutex);
    return static_cast<std::size_t>(m_handed - m_finished);
}

void PrintPipeline::work() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_jobReady.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        // The reading, in parallel with the other workers.
        std::unique_ptr<PreparedPrint> prepared;
        PageTextContent text;
        if (job.printed) {
            prepared = CHMExporter::preparePrint(job.pdf, job.pagePath);
            text = PageTextContent::fromWalk(job.walk);
            job.pdf = QByteArray();
            job.walk = QVariant();
        }
        {
            std::unique_lock lock(m_mutex);
            m_turnChanged.wait(lock, [&] { return m_stopping || m_nextTurn == job.turn; });
            if (m_stopping)
                return;
        }
        // This worker alone holds the turn: the exporter is its own until the turn moves on.
        Outcome outcome;
        outcome.pagePath = job.pagePath;
        outcome.printed = job.printed;
        if (job.printed)
            outcome.added = m_exporter.addPreparedPrint(*prepared, text, &outcome.error);
        else
            m_exporter.skipPage();
        outcome.outputPages = m_exporter.outputPageCount();
        {
            // Done before the news goes out: whoever hears it finds the count that goes with it.
            const std::lock_guard lock(m_mutex);
            ++m_finished;
        }
        // Still in turn, so that the news goes out in hand-in order.
        if (m_done)
            m_done(outcome);
        {
            const std::lock_guard lock(m_mutex);
            ++m_nextTurn;
        }
        m_turnChanged.notify_all();
        // Freeing a parsed print costs too: off the turn.
        prepared.reset();
    }
}
