// Hands printed pages to the exporter off the thread that prints them: each print is read
// (qpdf, the text engine, the blank test) on one of a few worker threads, several at once, and
// appended to the exporter strictly in the order the prints were handed in, one at a time, so the
// output is the one a serial export makes. Skipped pages take their turn in the same order.
//
// The exporter belongs to the pipeline from construction until `idle()` is true (or the pipeline
// is destroyed): nobody else may touch it meanwhile. `done` is called once per print or skip, in
// hand-in order, on a worker thread, after the exporter has moved on from that page; it must only
// hand the news on (post it to the owner's thread). Destruction drops what has not been started,
// waits for what is in work and leaves the exporter consistent (pages appended stay appended).
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CHMExporter;

class PrintPipeline {
public:
    struct Outcome {
        QString pagePath;
        bool printed = false; // a print was handed in (not a skip)
        bool added = false;   // it was read and its pages appended
        QString error;        // why not, when printed and not added
        int outputPages = 0;  // the exporter's output pages after this one
    };
    using Done = std::function<void(const Outcome&)>;

    // Prints held at once, from hand-in to the end of their turn: each holds its parsed PDF.
    static constexpr std::size_t kMaxPrintsInWork = 3;

    PrintPipeline(CHMExporter& exporter, Done done);
    ~PrintPipeline();
    PrintPipeline(const PrintPipeline&) = delete;
    PrintPipeline& operator=(const PrintPipeline&) = delete;

    // The next page of the exporter's page list was printed; walk is the DOM walk's answer.
    void addPrint(const QString& pagePath, QByteArray pdf, QVariant walk);
    // The next page of the page list has no print.
    void skipPage(const QString& pagePath);

    // Handed in and not yet done.
    std::size_t inWork() const;
    bool idle() const { return inWork() == 0; }
    std::size_t workerCount() const { return m_workers.size(); }

private:
    struct Job {
        std::uint64_t turn = 0;
        QString pagePath;
        bool printed = false;
        QByteArray pdf;
        QVariant walk;
    };
    void hand(Job job);
    void work();

    CHMExporter& m_exporter;
    Done m_done;
    mutable std::mutex m_mutex;
    std::condition_variable m_jobReady;
    std::condition_variable m_turnChanged;
    std::deque<Job> m_jobs;
    std::uint64_t m_handed = 0;   // turns handed in
    std::uint64_t m_nextTurn = 0; // the turn whose print is appended next
    std::uint64_t m_finished = 0; // turns done
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};
