// The full-text index: how long it takes to build, what it costs in memory, how fast it answers.
//
// For each file:
// - build: prepareSearchIndex until the index is done, against the floor measured in the same
//   run: reading through CHMDocument::content every object the index reads (same paths), with
//   nothing done to the bytes. Medians of interleaved rounds, each on a freshly opened document.
// - text: reading the same objects and extracting their searchable text, without indexing.
// - memory: the growth of the heap in use and of the process's resident set while the first
//   index of the file is built (the resident set of later files grows less: freed memory of
//   earlier ones is reused), and the index's pages and distinct terms.
// - search: searchInFile (query parsing, matching, the result list with its entries) for 100
//   queries: 40 of the words most common in the book's text, 40 that occur on one page only,
//   20 CJK words (two-character words from the book's own text when it has any, else fixed
//   Chinese and Japanese words that the book lacks). Median and worst time of one search.
//
// usage: searchBench [file.chm...]   (default: the two largest corpus books, the generated
//                                     20,000-topic book with its small vocabulary, and the three
//                                     books with a realistic one, when they were built)
// SEARCHBENCH_BUILD_ROUNDS=0 skips the build timing and measures the searches alone. Where the
// index lives is printed first: when the shell has no memory-backed XDG_RUNTIME_DIR, the run
// makes one in /dev/shm, as a desktop session has.
#include "BenchSupport.h"
#include "CHMDocument.h"
#include "CHMSearchIndex.h"
#include "CHMSearchIndexFolder.h"
#include "CHMSearchResult.h"
#include "SearchableText.h"
#include "TextTable.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kBuildRounds = 3;
constexpr int kCommonQueries = 40;
constexpr int kRareQueries = 40;
constexpr int kCjkQueries = 20;

// Goals: the index costs at most this many times the processor time of reading what it reads;
// a search's median and worst time, in milliseconds.
constexpr double kBuildGoal = 4.0;
constexpr double kMedianGoalMs = 0.5;
constexpr double kWorstGoalMs = 20.0;

std::unique_ptr<CHMDocument> openBook(const QString& path) {
    auto doc = std::make_unique<CHMDocument>();
    QString error;
    if (!doc->readFromURL(QUrl::fromLocalFile(path), QString(), &error)) {
        std::printf("%s: not measured: %s\n", qPrintable(bench::shownName(path)),
                    qPrintable(error));
        return nullptr;
    }
    return doc;
}

double residentMB() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() < 2)
        return 0;
    return fields[1].toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Bytes the heap hands out at the moment, over every arena (the index thread has its own).
double heapInUseMB() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// The paths the index reads: those it does not rule out by their name.
QStringList indexedPaths(const CHMDocument& doc) {
    QStringList paths;
    for (const CHMObjectEntry& e : doc.objects()) {
        if (CHMSearchIndex::isSearchablePath(e.name) && !SearchableText::isSkippedPath(e.name))
            paths << QString::fromUtf8(e.name);
    }
    return paths;
}

bool isCjk(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x3040 && u <= 0x30FF) || (u >= 0x4E00 && u <= 0x9FFF) ||
           (u >= 0xAC00 && u <= 0xD7AF);
}

// Queries drawn from the book's own visible text: its most common words, words of one page
// only, and CJK words.
QStringList queriesFor(CHMDocument& doc, const QStringList& paths) {
    QHash<QString, int> pagesWithWord;
    QHash<QString, int> cjkWords;
    for (const QString& path : paths) {
        const QString text =
            SearchableText::textOf(path.toUtf8(), doc.content(path), doc.encodingName());
        QSet<QString> seen;
        QString word;
        auto flush = [&] {
            if (word.size() >= 3)
                seen.insert(word);
            word.clear();
        };
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (isCjk(c)) {
                flush();
                if (i + 1 < text.size() && isCjk(text[i + 1]))
                    ++cjkWords[text.mid(i, 2)];
            } else if (c.isLetter()) {
                word += c.toLower();
            } else {
                flush();
            }
        }
        flush();
        for (const QString& w : seen)
            ++pagesWithWord[w];
    }
    std::vector<std::pair<int, QString>> byCount;
    for (auto it = pagesWithWord.cbegin(); it != pagesWithWord.cend(); ++it)
        byCount.emplace_back(it.value(), it.key());
    std::sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QStringList queries;
    for (size_t i = 0; i < byCount.size() && queries.size() < kCommonQueries; ++i)
        queries << byCount[i].second;
    // The rarest words: those of one page when there are enough, spread over the alphabet
    // rather than the first few; else the least common ones.
    QStringList rare;
    for (auto it = byCount.rbegin(); it != byCount.rend(); ++it) {
        if (it->first == 1 || rare.size() < kRareQueries)
            rare << it->second;
    }
    std::sort(rare.begin(), rare.end());
    const double step = std::max(1.0, static_cast<double>(rare.size()) / kRareQueries);
    for (int i = 0; i < kRareQueries && static_cast<qsizetype>(i * step) < rare.size(); ++i)
        queries << rare[static_cast<qsizetype>(i * step)];

    std::vector<std::pair<int, QString>> cjk;
    for (auto it = cjkWords.cbegin(); it != cjkWords.cend(); ++it)
        cjk.emplace_back(it.value(), it.key());
    std::sort(cjk.begin(), cjk.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    const QStringList fixedCjk = QString::fromUtf8("性能 搜索 中文 设置 文件 压缩 格式 帮助 检索 "
                                                   "日本 検索 設定 使用 方法 説明 関数 対応 "
                                                   "表示 取得 変更")
                                     .split(u' ');
    for (int i = 0; i < kCjkQueries; ++i)
        queries << (static_cast<size_t>(i) < cjk.size() ? cjk[static_cast<size_t>(i)].second
                                                        : fixedCjk[i % fixedCjk.size()]);
    return queries;
}

std::vector<QString> defaultFiles() {
    const QString corpus = QStringLiteral(LUMENO_BENCH_CORPUS_DIR);
    std::vector<QString> files{corpus + QStringLiteral("/en-fpc-fcl-chmcmd-large.chm"),
                               corpus + QStringLiteral("/en-riak-sandcastle-api.chm")};
    const QString dir = QStringLiteral(LUMENO_BENCH_BOOK_DIR);
    for (const QString& book :
         {QStringLiteral(LUMENO_BENCH_BOOK), dir + QStringLiteral("/realistic1000.chm"),
          dir + QStringLiteral("/realistic5000.chm"),
          dir + QStringLiteral("/realistic20000.chm")}) {
        if (QFile::exists(book))
            files.push_back(book);
        else
            std::printf("%s: not built, skipped\n", qPrintable(book));
    }
    return files;
}

// A desktop session has a memory-backed runtime folder, where the index keeps its files; a bare
// shell may not. Then one is made in /dev/shm for the run, so that what is measured is what
// users get.
void ensureRuntimeFolder() {
    if (CHMSearchIndexFolder::isMemoryBacked(qEnvironmentVariable("XDG_RUNTIME_DIR")))
        return;
    static QByteArray folder("/dev/shm/lumeno-bench-XXXXXX");
    if (CHMSearchIndexFolder::isMemoryBacked(QStringLiteral("/dev/shm")) &&
        mkdtemp(folder.data())) {
        qputenv("XDG_RUNTIME_DIR", folder);
        std::atexit([] { QDir(QString::fromLocal8Bit(folder)).removeRecursively(); });
    }
}

} // namespace

int main(int argc, char** argv) {
    ensureRuntimeFolder();
    std::printf("The index lives in %s\n",
                CHMSearchIndexFolder::isMemoryBacked(qEnvironmentVariable("XDG_RUNTIME_DIR"))
                    ? "a memory folder (Glass files)"
                    : "the heap (no memory-backed runtime folder)");
    // SEARCHBENCH_BUILD_ROUNDS=0 measures the searches alone.
    const int buildRounds = qEnvironmentVariableIsSet("SEARCHBENCH_BUILD_ROUNDS")
                                ? qEnvironmentVariableIntValue("SEARCHBENCH_BUILD_ROUNDS")
                                : kBuildRounds;
    const std::vector<QString> files = argc > 1 ? bench::inputFiles(argc, argv) : defaultFiles();
    TextTable build({QStringLiteral("file"), QStringLiteral("objects"), QStringLiteral("pages"),
                     QStringLiteral("terms"), QStringLiteral("floor CPU ms"),
                     QStringLiteral("text CPU ms"), QStringLiteral("index CPU ms"),
                     QStringLiteral("index/floor CPU"), QStringLiteral("goal <= 4"),
                     QStringLiteral("index wall ms"), QStringLiteral("wall/floor"),
                     QStringLiteral("heap +MB"), QStringLiteral("RSS +MB"),
                     QStringLiteral("folder MB"), QStringLiteral("MB/1000 pages")});
    TextTable search({QStringLiteral("file"), QStringLiteral("queries"),
                      QStringLiteral("hits/query"), QStringLiteral("median ms"),
                      QStringLiteral("goal < 0.5"), QStringLiteral("worst ms"),
                      QStringLiteral("goal < 20"), QStringLiteral("worst query")});

    for (const QString& path : files) {
        const QString name = bench::shownName(path);
        auto doc = openBook(path);
        if (!doc)
            continue;
        const QStringList paths = indexedPaths(*doc);

        // Memory first: the first index of a file, kept while measured.
        const double rssBefore = residentMB();
        const double heapBefore = heapInUseMB();
        auto index = std::make_unique<CHMSearchIndex>(*doc);
        index->prepareSearchIndex();
        index->waitUntilDone();
        const double rssGrowth = residentMB() - rssBefore;
        const double heapGrowth = heapInUseMB() - heapBefore;
        const quint64 pages = index->documentCount();
        const quint64 terms = index->termCount();
        const double folderMB = static_cast<double>(index->storageBytes()) / (1024.0 * 1024.0);
        // What the index costs in all: its folder's files and the heap it grew.
        const double perThousand =
            pages > 0 ? (folderMB + heapGrowth) * 1000.0 / static_cast<double>(pages) : 0.0;

        // Processor time of each piece (this process's threads and the book's reading
        // process), the figure the goal is set on; wall time beside it.
        std::vector<std::vector<double>> walls(3);
        const auto timed = [&](size_t which, const std::function<void()>& work) {
            double wall = 0;
            const double cpu = bench::cpuOnceMs([&] { wall = bench::timeOnceMs(work); });
            walls[which].push_back(wall);
            return cpu;
        };
        const bench::TimedWork floor = [&] {
            auto fresh = openBook(path);
            quint64 bytes = 0;
            const double t = timed(0, [&] {
                for (const QString& p : paths)
                    bytes += static_cast<quint64>(fresh->content(p).size());
            });
            return bytes > 0 ? t : 0.0;
        };
        // Reading and extracting the text without indexing it.
        const bench::TimedWork text = [&] {
            auto fresh = openBook(path);
            quint64 chars = 0;
            const double t = timed(1, [&] {
                for (const QString& p : paths) {
                    chars += static_cast<quint64>(
                        SearchableText::textOf(p.toUtf8(), fresh->content(p), fresh->encodingName())
                            .size());
                }
            });
            return chars > 0 ? t : 0.0;
        };
        const bench::TimedWork indexing = [&] {
            auto fresh = openBook(path);
            CHMSearchIndex built(*fresh);
            return timed(2, [&] {
                built.prepareSearchIndex();
                built.waitUntilDone();
            });
        };
        const std::vector<double> medians =
            buildRounds > 0 ? bench::interleavedMedians(buildRounds, {floor, text, indexing})
                            : std::vector<double>{0, 0, 0};
        const auto medianOf = [](std::vector<double> v) {
            if (v.empty())
                return 0.0;
            std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2),
                             v.end());
            return v[v.size() / 2];
        };
        const double ratio = medians[0] > 0 ? medians[2] / medians[0] : 0.0;
        build.addRow(
            {name, QString::number(paths.size()), QString::number(pages), QString::number(terms),
             TextTable::ms(medians[0]), TextTable::ms(medians[1]), TextTable::ms(medians[2]),
             medians[0] > 0 ? TextTable::number(ratio, 2) : QStringLiteral("-"),
             medians[0] > 0 ? QString::fromLatin1(ratio <= kBuildGoal ? "met" : "MISSED")
                            : QStringLiteral("-"),
             TextTable::ms(medianOf(walls[2])),
             TextTable::number(
                 medianOf(walls[0]) > 0 ? medianOf(walls[2]) / medianOf(walls[0]) : 0.0, 2),
             TextTable::number(heapGrowth, 1), TextTable::number(rssGrowth, 1),
             TextTable::number(folderMB, 1), TextTable::number(perThousand, 1)});

        const QStringList queries = queriesFor(*doc, paths);
        index->searchInFile(queries.value(0)); // warm the caches once
        std::vector<double> times;
        quint64 hits = 0;
        double worst = 0;
        QString worstQuery;
        for (const QString& query : queries) {
            std::shared_ptr<CHMSearchResult> result;
            const double t = bench::timeOnceMs([&] { result = index->searchInFile(query); });
            hits += result ? result->rootChildrenCount() : 0;
            times.push_back(t);
            if (t > worst) {
                worst = t;
                worstQuery = query;
            }
        }
        std::vector<double> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted.empty() ? 0 : sorted[sorted.size() / 2];
        search.addRow(
            {name, QString::number(queries.size()),
             TextTable::number(queries.isEmpty() ? 0.0
                                                 : static_cast<double>(hits) /
                                                       static_cast<double>(queries.size()),
                               1),
             TextTable::ms(median), QString::fromLatin1(median < kMedianGoalMs ? "met" : "MISSED"),
             TextTable::ms(worst), QString::fromLatin1(worst < kWorstGoalMs ? "met" : "MISSED"),
             worstQuery});
        index.reset();
    }
    // The ways of building the index weighed against each other on one book (the first given,
    // else the realistic 5,000-topic one): Xapian's heap database or Glass files in a memory
    // folder, on one thread or on several (0: as many as the index chooses).
    const QString weighed =
        argc > 1 ? files.front() : QStringLiteral(LUMENO_BENCH_BOOK_DIR "/realistic5000.chm");
    TextTable alternatives({QStringLiteral("way"), QStringLiteral("floor ms"),
                            QStringLiteral("index ms"), QStringLiteral("index/floor"),
                            QStringLiteral("heap +MB"), QStringLiteral("folder MB"),
                            QStringLiteral("MB/1000 pages")});
    if (buildRounds > 0 && QFile::exists(weighed)) {
        const QStringList paths = [&] {
            auto doc = openBook(weighed);
            return doc ? indexedPaths(*doc) : QStringList();
        }();
        struct Way {
            const char* name;
            CHMSearchIndex::BuildOptions options;
        };
        const Way ways[] = {{"heap, 1 thread", {1, true}},
                            {"heap, threads", {0, true}},
                            {"memory folder, 1 thread", {1, false}},
                            {"memory folder, threads", {0, false}}};
        const bench::TimedWork floor = [&] {
            auto fresh = openBook(weighed);
            return bench::timeOnceMs([&] {
                for (const QString& p : paths)
                    fresh->content(p);
            });
        };
        std::vector<bench::TimedWork> works{floor};
        std::vector<std::pair<double, double>> memory; // heap growth, folder
        for (const Way& way : ways) {
            auto fresh = openBook(weighed);
            const double heapBefore = heapInUseMB();
            CHMSearchIndex index(*fresh);
            index.setBuildOptions(way.options);
            index.prepareSearchIndex();
            index.waitUntilDone();
            memory.emplace_back(heapInUseMB() - heapBefore,
                                static_cast<double>(index.storageBytes()) / (1024.0 * 1024.0));
            works.push_back([&, options = way.options] {
                auto timedDoc = openBook(weighed);
                CHMSearchIndex timed(*timedDoc);
                timed.setBuildOptions(options);
                return bench::timeOnceMs([&] {
                    timed.prepareSearchIndex();
                    timed.waitUntilDone();
                });
            });
        }
        const std::vector<double> medians = bench::interleavedMedians(buildRounds, works);
        for (size_t i = 0; i < std::size(ways); ++i) {
            const auto [heap, folder] = memory[i];
            alternatives.addRow(
                {QString::fromLatin1(ways[i].name), TextTable::ms(medians[0]),
                 TextTable::ms(medians[i + 1]),
                 TextTable::number(medians[0] > 0 ? medians[i + 1] / medians[0] : 0.0, 2),
                 TextTable::number(heap, 1), TextTable::number(folder, 1),
                 TextTable::number((heap + folder) * 1000.0 / std::max(1, int(paths.size())), 1)});
        }
        std::printf("Ways of building the index, on %s\n", qPrintable(bench::shownName(weighed)));
        alternatives.print();
        std::printf("\n");
    }
    std::printf("Index build against reading the same objects, processor time (goal: index/floor "
                "<= 4)\n");
    build.print();
    std::printf("\nsearchInFile over 100 queries: 40 common, 40 single-page, 20 CJK words\n");
    search.print();
    return 0;
}
