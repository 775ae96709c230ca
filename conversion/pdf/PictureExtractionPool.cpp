#include "PictureExtractionPool.h"

#include "ConversionLog.h"
#include "ImageConversionJob.h"
#include "ImageFormats.h"
#include "OutputFile.h"
#include "PDFImageStream.h"
#include "PictureConversion.h"
#include "Workers.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>

namespace conversion {

namespace {

// Pictures in flight may use this share of the memory available when the run starts.
constexpr std::uint64_t kMemoryShare = 2;

} // namespace

std::unique_ptr<QPDF> openPDFForPictures(const std::filesystem::path& path,
                                         const std::optional<std::string>& password,
                                         std::string& error) {
    auto pdf = std::make_unique<QPDF>();
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(true);
    try {
        pdf->processFile(path.c_str(), password ? password->c_str() : nullptr);
    } catch (const std::exception& e) {
        error = e.what();
        return nullptr;
    }
    return pdf;
}

// What a worker keeps between pictures: its own document, its pages and its image job (whose
// encoders and last error are not shared).
struct PictureExtractionPool::Worker {
    std::unique_ptr<QPDF> pdf;
    std::string openError;
    std::vector<QPDFPageObjectHelper> pages;
    ImageConversionJob job;
    std::int64_t colorSpacesPage = 0;
    QPDFObjectHandle colorSpaces;

    // The ColorSpace dictionary of the page's resources, which named colour spaces refer to.
    QPDFObjectHandle pageColorSpaces(std::int64_t page) {
        if (page != colorSpacesPage) {
            colorSpacesPage = page;
            colorSpaces = QPDFObjectHandle();
            if (pages.empty())
                pages = QPDFPageDocumentHelper(*pdf).getAllPages();
            if (page >= 1 && std::size_t(page) <= pages.size()) {
                QPDFObjectHandle resources =
                    pages[std::size_t(page - 1)].getAttribute("/Resources", false);
                if (resources.isDictionary()) {
                    QPDFObjectHandle c = resources.getKey("/ColorSpace");
                    if (c.isDictionary())
                        colorSpaces = c;
                }
            }
        }
        return colorSpaces;
    }
};

unsigned PictureExtractionPool::workerLimit(unsigned maxWorkers) {
    const unsigned processors = usableCores();
    return maxWorkers > 0 ? std::min(maxWorkers, processors) : processors;
}

PictureExtractionPool::PictureExtractionPool(PictureOutput output, unsigned maxWorkers)
    : m_output(std::move(output)), m_workerLimit(workerLimit(maxWorkers)),
      m_memoryBudget(availableMemoryBytes() / kMemoryShare) {}

PictureExtractionPool::~PictureExtractionPool() {
    std::filesystem::path ignored;
    finish(ignored);
}

void PictureExtractionPool::add(PictureTask task) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const std::int64_t sequence = std::int64_t(slotsEnd());
    Slot added;
    added.page = task.page;
    m_slots.push_back(std::move(added));
    // A worker more while none is free: never more than the pictures added.
    if (m_idleWorkers == 0 && m_workers.size() < m_workerLimit)
        m_workers.emplace_back([this] { work(); });
    // Enough are queued to keep every worker busy: wait, logging what is finished meanwhile.
    while (m_queue.size() >= m_workerLimit) {
        if (frontIsFinished())
            flushMessages(lock);
        else
            m_changed.wait(lock);
    }
    m_queue.emplace_back(sequence, std::move(task));
    m_changed.notify_all();
    flushMessages(lock);
}

void PictureExtractionPool::addMessage(std::string message, bool failure) {
    std::unique_lock<std::mutex> lock(m_mutex);
    Slot added;
    added.kind = failure ? Slot::Failure : Slot::Message;
    added.decoded = 0;
    added.done = true;
    added.message = std::move(message);
    m_slots.push_back(std::move(added));
    // Nothing waits on its decoding: the settled front moves past it when it reaches it.
    settleDecoding(std::int64_t(slotsEnd() - 1), false);
    flushMessages(lock);
}

bool PictureExtractionPool::finish(std::filesystem::path& lastOutput) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_closing = true;
    m_changed.notify_all();
    while (!m_slots.empty()) {
        if (frontIsFinished())
            flushMessages(lock);
        else
            m_changed.wait(lock);
    }
    std::vector<std::thread> workers = std::move(m_workers);
    m_workers.clear();
    lock.unlock();
    for (std::thread& worker : workers)
        worker.join();
    lock.lock();
    lastOutput = m_lastOutput;
    return m_lastWritten;
}

bool PictureExtractionPool::frontIsFinished() const {
    return !m_slots.empty() && m_slots.front().done && m_firstSlot < m_settled;
}

void PictureExtractionPool::flushMessages(std::unique_lock<std::mutex>& lock) {
    std::vector<std::string> lines;
    while (frontIsFinished()) {
        Slot& front = m_slots.front();
        if (!front.message.empty())
            lines.push_back(std::move(front.message));
        if (!front.output.empty())
            m_lastOutput = std::move(front.output);
        if (front.kind != Slot::Message)
            m_lastWritten = front.written;
        m_slots.pop_front();
        ++m_firstSlot;
    }
    if (lines.empty())
        return;
    // A log hook may take its time or log itself: not under the lock.
    lock.unlock();
    for (const std::string& line : lines)
        ConversionLog(line);
    lock.lock();
}

void PictureExtractionPool::work() {
    Worker worker;
    worker.job.SetOutputFormat(m_output.format, m_output.folder, m_output.quality);
    worker.pdf = openPDFForPictures(m_output.input, m_output.password, worker.openError);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        ++m_idleWorkers;
        while (m_queue.empty() && !m_closing)
            m_changed.wait(lock);
        --m_idleWorkers;
        if (m_queue.empty())
            return;
        auto [sequence, task] = std::move(m_queue.front());
        m_queue.pop_front();
        m_changed.notify_all(); // room in the queue
        lock.unlock();
        handle(worker, sequence, task);
        lock.lock();
    }
}

void PictureExtractionPool::acquireMemory(std::uint64_t bytes) {
    std::unique_lock<std::mutex> lock(m_mutex);
    // One picture alone always goes ahead, however large.
    while (m_memoryInUse > 0 && m_memoryInUse + bytes > m_memoryBudget)
        m_changed.wait(lock);
    m_memoryInUse += bytes;
}

void PictureExtractionPool::releaseMemory(std::uint64_t bytes) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    m_memoryInUse -= bytes;
    m_changed.notify_all();
}

void PictureExtractionPool::settleDecoding(std::int64_t sequence, bool decoded) {
    // Called with the lock held.
    Slot& settled = slot(sequence);
    if (settled.kind == Slot::Picture)
        settled.decoded = decoded ? 1 : 0;
    // The settled front moves on, numbering the decoded pictures of each page from 1.
    while (m_settled < slotsEnd() && slot(std::int64_t(m_settled)).decoded >= 0) {
        Slot& s = slot(std::int64_t(m_settled));
        if (s.kind == Slot::Picture) {
            if (s.page != m_counterPage) {
                m_counterPage = s.page;
                m_counter = 1;
            }
            if (s.decoded == 1)
                s.number = m_counter++;
        }
        ++m_settled;
    }
    m_changed.notify_all();
}

void PictureExtractionPool::complete(std::int64_t sequence, bool written, std::string message,
                                     std::filesystem::path output) {
    const std::lock_guard<std::mutex> guard(m_mutex);
    Slot& completed = slot(sequence);
    completed.written = written;
    completed.message = std::move(message);
    completed.output = std::move(output);
    completed.done = true;
    m_changed.notify_all();
}

void PictureExtractionPool::handle(Worker& worker, std::int64_t sequence, PictureTask& task) {
    const std::uint64_t memory = std::min(task.memoryEstimate, m_memoryBudget);
    acquireMemory(memory);
    PDFPicture picture;
    std::string error;
    bool decoded = false;
    if (!worker.pdf) {
        error = "the file cannot be opened again: " + worker.openError;
    } else {
        try {
            QPDFObjectHandle stream;
            if (task.isInline) {
                QPDFObjectHandle dict =
                    QPDFObjectHandle::parse(worker.pdf.get(), task.inlineDictionary);
                stream = QPDFObjectHandle::newStream(worker.pdf.get(), task.inlineData);
                for (const std::string& k : dict.getKeys())
                    stream.getDict().replaceKey(k, dict.getKey(k));
                task.inlineData = std::string();
            } else {
                stream = worker.pdf->getObjectByObjGen(task.image);
            }
            ImageStreamContext context;
            context.pageColorSpaces = worker.pageColorSpaces(task.page);
            context.formatSupportsAlpha = FormatSupportsAlpha(m_output.format);
            decoded = stream.isStream() &&
                      CreateImageFromPDFStream(context, stream.getDict(), stream, picture, error);
            if (!stream.isStream())
                error = "not an image stream";
        } catch (const std::exception& e) {
            error = std::string("damaged image: ") + e.what();
        }
    }
    {
        const std::lock_guard<std::mutex> guard(m_mutex);
        settleDecoding(sequence, decoded);
    }
    if (!decoded) {
        // Skipped without using a number.
        picture = PDFPicture();
        releaseMemory(memory);
        complete(sequence, false,
                 m_output.input.string() + ": an image on page " + std::to_string(task.page) +
                     " was skipped: " + error,
                 {});
        return;
    }

    // Encoded before the number is known: the pixels go as soon as the bytes are there.
    ImageConversionJob& job = worker.job;
    job.lastError.clear();
    std::vector<std::uint8_t> bytes;
    {
        const Bitmap bitmap = bitmapFromPicture(std::move(picture));
        bool encoded = m_output.format != kFormatPDF && EncodeImageData(job, bitmap, bytes);
        if (!encoded) {
            // PDF output, or a picture the chosen encoder refused: through TIFF and back.
            bytes.clear();
            const std::int32_t format = job.outputFormat;
            job.outputFormat = kFormatTIFF;
            std::vector<std::uint8_t> tiff;
            const bool tiffEncoded = EncodeImageData(job, bitmap, tiff);
            job.outputFormat = format;
            Bitmap decodedTIFF;
            if (tiffEncoded && ImageFromData(job, tiff, decodedTIFF)) {
                tiff = std::vector<std::uint8_t>();
                encoded = EncodeImageData(job, decodedTIFF, bytes);
            }
        }
        if (!encoded)
            bytes.clear();
    }
    releaseMemory(memory);

    std::int64_t number = 0;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (m_settled <= std::size_t(sequence))
            m_changed.wait(lock);
        number = slot(sequence).number;
    }
    // An existing file to be replaced stays until its successor is complete.
    const std::filesystem::path path =
        outputPathInFolder(m_output.folder, task.namePrefix + std::to_string(number),
                           m_output.extension, m_output.replaceExisting);
    if (path.empty()) {
        complete(sequence, false, "no file name is free in " + m_output.folder.string(), {});
        return;
    }
    const bool written =
        !bytes.empty() && writeFileAtomically(path, bytes, job.fileAttributes, job.lastError);
    bytes = std::vector<std::uint8_t>();
    complete(sequence, written,
             written ? std::string()
                     : "cannot write " + path.string() + ": " +
                           (job.lastError.empty() ? std::string("the encoder refused the picture")
                                                  : job.lastError),
             path);
}

} // namespace conversion
