// Decodes and writes the pictures of a PDF on a few worker threads while the caller walks the
// pages. Each worker opens the file with its own QPDF (QPDF objects are not shared between
// threads) and handles one picture at a time: it decodes it, encodes it in the output format,
// frees the pixels, and writes the file once its number is known. A picture's number on its page
// depends on which earlier pictures decoded, so numbers are handed out in the order the pictures
// were added, as soon as the decoding of every earlier one is settled; the names, files and
// bytes are those of a one-by-one run. Pictures in flight are bounded by a share of the memory
// available, so that many large pictures never decode at once.
//
// The caller is one thread (the job's): it adds pictures in page order, and the messages of the
// run (damaged pictures, failed writes) are logged from it, in that order. finish() and the
// destructor wait for every picture added and join the workers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <qpdf/QPDFObjGen.hh>

class QPDF;

namespace conversion {

struct PictureOutput {
    std::filesystem::path input;
    std::optional<std::string> password;
    std::filesystem::path folder;
    std::int32_t format = 0;
    double quality = 0.8;
    bool replaceExisting = false;
    std::string extension;
};

// One picture: an image XObject of the file, or an inline image carried as its dictionary's text
// and its data.
struct PictureTask {
    std::int64_t page = 0;  // 1-based
    std::string namePrefix; // "<base>_Page<p>_"
    QPDFObjGen image;
    bool isInline = false;
    std::string inlineDictionary;
    std::string inlineData;
    // What decoding and encoding it may take at most, in bytes.
    std::uint64_t memoryEstimate = 0;
};

// Opens (and with the password, unlocks) a PDF as the extractor reads it; null with `error` set.
std::unique_ptr<QPDF> openPDFForPictures(const std::filesystem::path& path,
                                         const std::optional<std::string>& password,
                                         std::string& error);

class PictureExtractionPool {
public:
    // `maxWorkers` 0: as many as the processors this process may run on.
    PictureExtractionPool(PictureOutput output, unsigned maxWorkers);
    ~PictureExtractionPool();
    PictureExtractionPool(const PictureExtractionPool&) = delete;
    PictureExtractionPool& operator=(const PictureExtractionPool&) = delete;

    // Queues a picture; waits while enough are queued to keep every worker busy.
    void add(PictureTask task);
    // A message in the run's order; with `failure` it is also an outcome (a page that could not
    // be walked), which counts as the last one handled until a later picture settles.
    void addMessage(std::string message, bool failure);
    // Waits for everything added. False when the last picture handled was not written (or the
    // last outcome was a failure); `lastOutput` is the file of the last picture given a name.
    bool finish(std::filesystem::path& lastOutput);

    // The workers a run would start at most, for the tests.
    static unsigned workerLimit(unsigned maxWorkers);

private:
    struct Slot {
        enum Kind { Picture, Message, Failure } kind = Picture;
        std::int64_t page = 0;
        int decoded = -1;        // -1 unsettled, 0 not decodable, 1 decoded
        std::int64_t number = 0; // on its page, once settled and decoded
        bool done = false;
        bool written = false;
        std::string message;
        std::filesystem::path output;
    };
    struct Worker;

    void work();
    void handle(Worker& worker, std::int64_t sequence, PictureTask& task);
    void settleDecoding(std::int64_t sequence, bool decoded);
    void complete(std::int64_t sequence, bool written, std::string message,
                  std::filesystem::path output);
    void acquireMemory(std::uint64_t bytes);
    void releaseMemory(std::uint64_t bytes);
    // Logs the messages of the finished slots at the front, in order, and lets them go. Called
    // with the lock held, which it lets go of while logging: a caller that then waits must first
    // look again (frontIsFinished) at what finished meanwhile, or it waits for news already told.
    void flushMessages(std::unique_lock<std::mutex>& lock);
    bool frontIsFinished() const;

    const PictureOutput m_output;
    const unsigned m_workerLimit;
    const std::uint64_t m_memoryBudget;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<std::int64_t, PictureTask>> m_queue;
    // The pictures and messages not yet done with, in the order added; the first is number
    // m_firstSlot in that order. Finished ones leave from the front, so that a document of
    // countless small pictures keeps no record of each.
    std::deque<Slot> m_slots;
    std::size_t m_firstSlot = 0;
    std::size_t m_settled = 0; // slots before this one have their decoding settled
    bool m_lastWritten = true; // the outcome of the last slot that left
    std::filesystem::path m_lastOutput;
    Slot& slot(std::int64_t sequence) { return m_slots[std::size_t(sequence) - m_firstSlot]; }
    std::size_t slotsEnd() const { return m_firstSlot + m_slots.size(); }
    std::int64_t m_counterPage = 0;
    std::int64_t m_counter = 1;
    std::uint64_t m_memoryInUse = 0;
    unsigned m_idleWorkers = 0;
    bool m_closing = false;
    std::vector<std::thread> m_workers;
};

} // namespace conversion
