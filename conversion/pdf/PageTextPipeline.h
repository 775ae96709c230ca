// Reads the styled text of a run of PDF pages on a few worker threads and hands the pages out in
// order. Each worker opens the file on its own (poppler documents are not shared between
// threads) and reads at most a bounded number of pages ahead of the consumer, so memory stays
// small on long documents. A short run is read on the consumer's thread as it asks, since
// handing a few pages between threads costs more than it gains. The consumer is one thread (the
// job's); stop() and the destructor end and join the workers.
#pragma once

#include "PDFPageTextReader.h"
#include "StyledText.h"

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace conversion {

class PageTextPipeline {
public:
    // Reads pages `start` to `end` - 1 (0-based) of the PDF, opened with `password` when set.
    PageTextPipeline(std::filesystem::path pdf, std::optional<std::string> password,
                     std::int64_t start, std::int64_t end);
    ~PageTextPipeline();
    PageTextPipeline(const PageTextPipeline&) = delete;
    PageTextPipeline& operator=(const PageTextPipeline&) = delete;

    // The text of page `index`, which must be the next one in order; nullopt when the page could
    // not be read. Waits for a worker when it is not read yet.
    std::optional<StyledText> take(std::int64_t index);
    void stop();

private:
    struct Slot {
        bool done = false;
        std::optional<StyledText> text;
    };
    void work();
    Slot& slot(std::int64_t index) { return m_slots[size_t(index % std::int64_t(m_slots.size()))]; }

    const std::filesystem::path m_pdf;
    const std::optional<std::string> m_password;
    const std::int64_t m_end;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Slot> m_slots; // a ring of the pages read ahead
    std::int64_t m_nextToRead;
    std::int64_t m_nextToTake;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
    // A short run: no workers; the consumer reads from its own document.
    bool m_onCallersThread = false;
    bool m_opened = false;
    std::unique_ptr<PDFDoc> m_document;
    PDFPageTextReader m_reader;
};

} // namespace conversion
