// How long opening a file takes, against what chmlib alone needs for it in the same run.
//
// For each file: CHMDocument::readFromURL (container checks, chm_open, metadata, both sitemap
// trees) against a bare chm_open, and against chm_open plus reading the raw ".hhc" and ".hhk"
// bytes, which is the least any reader showing the sidebar must do. A second table takes the
// open apart, so that a slow step shows by name.
//
// usage: openBench [file.chm...]   (default: the corpus and the generated large book)
#include "BenchSupport.h"
#include "CHMContainerLayout.h"
#include "CHMDocument.h"
#include "CHMTableOfContent.h"
#include "TextTable.h"

#include <QFile>
#include <QUrl>
#include <chm_lib.h>
#include <cstdio>
#include <memory>

namespace {

constexpr double kBudgetMs = 1500;

quint64 itemCount(const std::shared_ptr<CHMTableOfContent>& tree) {
    quint64 count = 0;
    if (tree)
        tree->rootItems()->enumerateItems([&count](LinkItem*) { ++count; });
    return count;
}

struct FileFigures {
    double open = 0, bare = 0, sitemaps = 0, layout = 0, tocParse = 0, indexParse = 0;
};

// What one untimed open finds out: what the timed steps then work on.
struct FileFacts {
    size_t objects = 0;
    quint64 tocItems = 0, indexItems = 0;
    QByteArray tocPath, indexPath;
    QByteArray tocBytes, indexBytes;
    QString encoding;
};

FileFigures measure(const QString& path, const FileFacts& facts) {
    const QUrl url = QUrl::fromLocalFile(path);
    const QByteArray nativePath = QFile::encodeName(path);

    const bench::TimedWork open = [&] {
        auto doc = std::make_unique<CHMDocument>();
        QString error;
        return bench::timeOnceMs([&] { doc->readFromURL(url, QString(), &error); });
    };
    const bench::TimedWork bare = [&] {
        chmFile* file = nullptr;
        const double ms = bench::timeOnceMs([&] { file = chm_open(nativePath.constData()); });
        if (file)
            chm_close(file);
        return ms;
    };
    const bench::TimedWork sitemaps = [&] {
        chmFile* file = chm_open(nativePath.constData());
        if (!file)
            return 0.0;
        const double ms = bench::timeOnceMs([&] {
            if (!facts.tocPath.isEmpty())
                bench::rawRead(file, facts.tocPath);
            if (!facts.indexPath.isEmpty())
                bench::rawRead(file, facts.indexPath);
        });
        chm_close(file);
        return ms;
    };
    const bench::TimedWork layout = [&] {
        return bench::timeOnceMs([&] { CHMContainerLayout::read(path, nullptr); });
    };
    const bench::TimedWork tocParse = [&] {
        std::unique_ptr<CHMTableOfContent> tree;
        if (facts.tocPath.isEmpty())
            return 0.0;
        return bench::timeOnceMs(
            [&] { tree = std::make_unique<CHMTableOfContent>(facts.tocBytes, facts.encoding); });
    };
    const bench::TimedWork indexParse = [&] {
        std::unique_ptr<CHMTableOfContent> tree;
        if (facts.indexPath.isEmpty())
            return 0.0;
        return bench::timeOnceMs([&] {
            tree = std::make_unique<CHMTableOfContent>(facts.indexBytes, facts.encoding);
            tree->sort();
        });
    };

    const int rounds = bench::roundsFor(open(), kBudgetMs);
    const std::vector<double> m =
        bench::interleavedMedians(rounds, {open, bare, sitemaps, layout, tocParse, indexParse});
    return {m[0], m[1], m[2], m[3], m[4], m[5]};
}

} // namespace

int main(int argc, char** argv) {
    TextTable summary({QStringLiteral("file"), QStringLiteral("objects"),
                       QStringLiteral("toc items"), QStringLiteral("index items"),
                       QStringLiteral("open ms"), QStringLiteral("chm_open ms"),
                       QStringLiteral("open/chm_open"), QStringLiteral("raw sitemaps ms"),
                       QStringLiteral("open/(chm_open+sitemaps)")});
    TextTable steps({QStringLiteral("file"), QStringLiteral("sitemap KB"),
                     QStringLiteral("open ms"), QStringLiteral("layout check"),
                     QStringLiteral("chm_open"), QStringLiteral("sitemap reads"),
                     QStringLiteral("toc parse"), QStringLiteral("index parse+sort"),
                     QStringLiteral("rest")});

    for (const QString& path : bench::inputFiles(argc, argv)) {
        const QString name = bench::shownName(path);
        FileFacts facts;
        {
            CHMDocument doc;
            QString error;
            if (!doc.readFromURL(QUrl::fromLocalFile(path), QString(), &error)) {
                std::printf("%s: not measured: %s\n", qPrintable(name), qPrintable(error));
                continue;
            }
            facts.objects = doc.objects().size();
            facts.tocItems = itemCount(doc.tocSource());
            facts.indexItems = itemCount(doc.indexSource());
            facts.tocPath = bench::containerPath(doc.tocPath());
            facts.indexPath = bench::containerPath(doc.indexPath());
            facts.tocBytes = doc.content(doc.tocPath());
            facts.indexBytes = doc.content(doc.indexPath());
            facts.encoding = doc.currentEncodingName();
        }
        const FileFigures f = measure(path, facts);
        const double accounted = f.layout + f.bare + f.sitemaps + f.tocParse + f.indexParse;
        summary.addRow({name, QString::number(facts.objects), QString::number(facts.tocItems),
                        QString::number(facts.indexItems), TextTable::ms(f.open),
                        TextTable::ms(f.bare), TextTable::ratio(f.open, f.bare, 1),
                        TextTable::ms(f.sitemaps),
                        TextTable::ratio(f.open, f.bare + f.sitemaps, 1)});
        steps.addRow({name,
                      QString::number((facts.tocBytes.size() + facts.indexBytes.size()) / 1024),
                      TextTable::ms(f.open), TextTable::ms(f.layout), TextTable::ms(f.bare),
                      TextTable::ms(f.sitemaps), TextTable::ms(f.tocParse),
                      TextTable::ms(f.indexParse), TextTable::ms(f.open - accounted)});
    }

    std::printf("Opening a file: CHMDocument::readFromURL against chmlib alone (medians)\n\n");
    summary.print();
    std::printf("\nWhere the open goes (medians, ms; \"rest\" is metadata and what the steps "
                "leave out)\n\n");
    steps.print();
    return 0;
}
