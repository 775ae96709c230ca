// What answering an itss request costs on top of reading the object: for every page of the
// largest corpus book, ITSSProtocol::startLoading (URL -> lookup, MIME type, charset scan)
// against CHMDocument::content of the same path, measured in the same run.
//
// The ratio printed last is the median pass of startLoading over the median pass of content.
//
// usage: serveBench [benchmark flags] [file.chm]   (default: en-fpc-fcl-chmcmd-large.chm)
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "ITSSProtocol.h"

#include <QFileInfo>
#include <QUrl>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>

namespace {

struct Book {
    CHMDocument doc;
    std::vector<QUrl> urls;     // as the web view asks for each page
    std::vector<QString> paths; // the container path each URL names
    QString encoding;
};

Book* g_book = nullptr;

void BM_Content(benchmark::State& state) {
    qint64 bytes = 0;
    for (auto _ : state) {
        for (const QString& path : g_book->paths) {
            const QByteArray page = g_book->doc.content(path);
            bytes += page.size();
            benchmark::DoNotOptimize(page.constData());
        }
    }
    state.SetBytesProcessed(bytes);
    state.counters["pages"] = static_cast<double>(g_book->paths.size());
}

void BM_Serve(benchmark::State& state) {
    qint64 bytes = 0;
    for (auto _ : state) {
        for (const QUrl& url : g_book->urls) {
            const ITSSResponse r =
                ITSSProtocol::startLoading(url, &g_book->doc, g_book->encoding, false);
            bytes += r.bytes.size();
            benchmark::DoNotOptimize(r.bytes.constData());
        }
    }
    state.SetBytesProcessed(bytes);
    state.counters["pages"] = static_cast<double>(g_book->urls.size());
}

// Keeps each benchmark's time per pass over all pages, every repetition, for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Iteration && run.iterations > 0)
                secondsPerPass[run.run_name.function_name].push_back(
                    run.real_accumulated_time / static_cast<double>(run.iterations));
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // The median over the repetitions; 0 when the benchmark did not run.
    double median(const std::string& name) {
        std::vector<double>& v = secondsPerPass[name];
        if (v.empty())
            return 0;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    std::map<std::string, std::vector<double>> secondsPerPass;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const QString path =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : QStringLiteral(LUMENO_BENCH_CORPUS_DIR "/en-fpc-fcl-chmcmd-large.chm");
    Book book;
    QString error;
    if (!book.doc.readFromURL(QUrl::fromLocalFile(path), QString(), &error)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(error));
        return 1;
    }
    book.encoding = book.doc.currentEncodingName();
    if (const auto toc = book.doc.tocSource()) {
        for (const auto& item : toc->pageList()) {
            const QUrl url = CHMDocument::composeURL(item->path());
            if (!url.isValid())
                continue;
            book.urls.push_back(url);
            book.paths.push_back(url.path(QUrl::FullyDecoded));
        }
    }
    if (book.urls.empty()) {
        std::fprintf(stderr, "%s: no pages to serve\n", qPrintable(path));
        return 1;
    }
    g_book = &book;

    benchmark::RegisterBenchmark("BM_Content", BM_Content)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_Serve", BM_Serve)->Unit(benchmark::kMillisecond);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double content = reporter.median("BM_Content");
    const double serve = reporter.median("BM_Serve");
    if (content > 0 && serve > 0) {
        std::printf("\n%s: %zu pages; per page: content %.1f us, startLoading %.1f us; "
                    "startLoading/content = %.2f\n",
                    qPrintable(QFileInfo(path).fileName()), book.urls.size(),
                    content * 1e6 / static_cast<double>(book.urls.size()),
                    serve * 1e6 / static_cast<double>(book.urls.size()), serve / content);
    }
    return 0;
}
