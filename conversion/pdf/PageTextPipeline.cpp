#include "PageTextPipeline.h"

#include "PDFPageTextReader.h"

#include "PopplerGlobals.h"

#include <PDFDoc.h>
#include <goo/GooString.h>

#include <algorithm>
#include <memory>

namespace conversion {

namespace {

constexpr std::int64_t kReadAhead = 32;
constexpr std::int64_t kPagesPerWorker = 8;
// Each worker holds a document of its own with its page cache (about 3 MB on a 1000-page book)
// and its own heap; two already read pages faster than pdftotext writes them.
constexpr unsigned kMostWorkers = 2;

// The document as the job opened it (the password serves as owner and user password alike);
// none when it cannot be read or stays locked.
std::unique_ptr<PDFDoc> openDocument(const std::filesystem::path& pdf,
                                     const std::optional<std::string>& password) {
    lumeno::ensurePopplerGlobals();
    const std::string secret = password.value_or(std::string());
    auto document = std::make_unique<PDFDoc>(std::make_unique<GooString>(pdf.string()),
                                             GooString(secret), GooString(secret));
    if (!document->isOk())
        document.reset();
    return document;
}

} // namespace

PageTextPipeline::PageTextPipeline(std::filesystem::path pdf, std::optional<std::string> password,
                                   std::int64_t start, std::int64_t end)
    : m_pdf(std::move(pdf)), m_password(std::move(password)), m_end(end),
      m_slots(size_t(kReadAhead)), m_nextToRead(start), m_nextToTake(start) {
    const std::int64_t pages = std::max<std::int64_t>(0, end - start);
    if (pages < 2 * kPagesPerWorker) {
        m_onCallersThread = true;
        return;
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto workers = unsigned(std::clamp<std::int64_t>(
        pages / kPagesPerWorker, 1, std::int64_t(std::min(cores, kMostWorkers))));
    for (unsigned i = 0; i < workers && pages > 0; ++i)
        m_workers.emplace_back([this] { work(); });
}

PageTextPipeline::~PageTextPipeline() {
    stop();
}

void PageTextPipeline::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (std::thread& worker : m_workers)
        if (worker.joinable())
            worker.join();
}

void PageTextPipeline::work() {
    const std::unique_ptr<PDFDoc> document = openDocument(m_pdf, m_password);
    PDFPageTextReader reader;
    while (true) {
        std::int64_t index;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] {
                return m_stopping || m_nextToRead >= m_end ||
                       m_nextToRead < m_nextToTake + kReadAhead;
            });
            if (m_stopping || m_nextToRead >= m_end)
                return;
            index = m_nextToRead++;
        }
        std::optional<StyledText> text;
        if (document)
            text = reader.read(*document, int(index));
        {
            std::lock_guard lock(m_mutex);
            Slot& done = slot(index);
            done.text = std::move(text);
            done.done = true;
        }
        m_changed.notify_all();
    }
}

std::optional<StyledText> PageTextPipeline::take(std::int64_t index) {
    if (m_onCallersThread) {
        if (index != m_nextToTake || index >= m_end)
            return std::nullopt;
        ++m_nextToTake;
        if (!m_opened) {
            m_document = openDocument(m_pdf, m_password);
            m_opened = true;
        }
        if (!m_document)
            return std::nullopt;
        return m_reader.read(*m_document, int(index));
    }
    std::unique_lock lock(m_mutex);
    if (index != m_nextToTake || index >= m_end || m_workers.empty())
        return std::nullopt;
    Slot& wanted = slot(index);
    m_changed.wait(lock, [&] { return wanted.done || m_stopping; });
    if (!wanted.done)
        return std::nullopt;
    std::optional<StyledText> text = std::move(wanted.text);
    wanted = Slot();
    ++m_nextToTake;
    lock.unlock();
    m_changed.notify_all();
    return text;
}

} // namespace conversion
