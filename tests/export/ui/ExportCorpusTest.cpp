// Whole exports of real-world books on the real web engine (headless), read back with qpdf and
// Poppler: where links and outline entries lead, and what the export's worker threads change
// (nothing).
#include "CHMDocument.h"
#include "CHMExporter.h"
#include "CHMTableOfContent.h"
#include "ExportCHMFileToPDF.h"
#include "ExportPagePrinter.h"
#include "ExportTestData.h"
#include "ExportWebProfile.h"
#include "PageTextContent.h"
#include "PrintPipeline.h"
#include "TestSupport.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <algorithm>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>

using namespace exporttest;

namespace {

QString exportCorpusBook(const QString& fileName) {
    CHMToPDFConversionOptions options;
    options.inputURL = testsupport::corpusPath(fileName);
    options.outputFolderURL = freshFolder(QFileInfo(fileName).completeBaseName());
    QString output, error;
    EXPECT_TRUE(ExportCHMFileToPDF(&options, &output, &error)) << error.toStdString();
    return output;
}

QString withoutCallParentheses(QString name) {
    while (name.endsWith(QLatin1Char(')')) || name.endsWith(QLatin1Char('(')))
        name.chop(1);
    return name;
}

QString textInside(const std::vector<WordBox>& words, const Link& link) {
    QString text;
    for (const WordBox& w : words) {
        const double x = (w.left + w.right) / 2, y = (w.bottom + w.top) / 2;
        if (x >= link.left - 1 && x <= link.right + 1 && y >= link.bottom - 1 && y <= link.top + 1)
            text += w.text;
    }
    return text;
}

struct Heading {
    int page = -1;
    double top = 0;
    int rank = 0; // k of an overload's "[k/n]"
};

// k of "[k/n]", or 0.
int overloadRank(const QString& word) {
    if (!word.startsWith(QLatin1Char('[')) || !word.endsWith(QLatin1Char(']')))
        return 0;
    return word.mid(1, word.indexOf(QLatin1Char('/')) - 1).toInt();
}

void collectFilePages(const std::vector<OutlineEntry>& entries,
                      std::vector<const OutlineEntry*>* files) {
    for (const OutlineEntry& entry : entries) {
        if (entry.title.endsWith(QLatin1String(".h")))
            files->push_back(&entry);
        collectFilePages(entry.kids, files);
    }
}

} // namespace

// Doxygen boxes each member's "◆ Name" heading as a float, which the engine paints before the
// text around it, gives its prototypes a text shadow, and hides its navigation when printing.
// Overloaded members share one name under headings "[1/3]", "[2/3]", ...
TEST(ExportCorpus, DoxygenMemberLinksLandOnTheirHeadingsAndFileEntriesOnTheirFirstLine) {
    const QString book = QStringLiteral("ja-sjis-doxygen-api.chm");
    REQUIRE_CORPUS(book);
    const QString pdf = exportCorpusBook(book);
    const std::vector<std::vector<WordBox>> words = pageWords(pdf);
    ASSERT_FALSE(words.empty());

    std::map<QString, std::vector<Heading>> headings;
    for (int page = 0; page < static_cast<int>(words.size()); ++page) {
        const std::vector<WordBox>& on = words[static_cast<std::size_t>(page)];
        for (std::size_t i = 0; i + 1 < on.size(); ++i) {
            if (on[i].text == QStringLiteral("◆"))
                headings[withoutCallParentheses(on[i + 1].text)].push_back(
                    {page, on[i + 1].top, i + 2 < on.size() ? overloadRank(on[i + 2].text) : 0});
        }
    }
    // Overloads in the order of their "[k/n]".
    for (auto& [name, list] : headings)
        std::sort(list.begin(), list.end(),
                  [](const Heading& a, const Heading& b) { return a.rank < b.rank; });
    int checked = 0;
    for (const Link& link : links(pdf)) {
        if (link.targetPage < 0)
            continue;
        const QString name =
            withoutCallParentheses(textInside(words[static_cast<std::size_t>(link.page)], link));
        const auto heading = headings.find(name);
        if (heading == headings.end() || heading->second.size() != 1)
            continue;
        ++checked;
        SCOPED_TRACE(name.toStdString() + " linked from page " + std::to_string(link.page + 1));
        EXPECT_EQ(link.targetPage, heading->second.front().page);
        EXPECT_NEAR(link.targetY, heading->second.front().top, 12.0);
    }
    EXPECT_GE(checked, 98); // every link that names a member with one heading

    // Overloads share their name: the k-th link of the structure's pages that names one, from
    // the top, and the k-th outline entry of that name under one entry, lead to the k-th heading
    // "[k/n]". (Other pages name other members after their structure: "Height : Size".)
    int overloads = 0;
    const auto expectOverloads = [&](const QString& name,
                                     const std::vector<std::pair<int, double>>& targets,
                                     const std::string& where) {
        const auto heading = headings.find(name);
        if (heading == headings.end() || heading->second.size() < 2 ||
            heading->second.size() != targets.size() || heading->second.front().rank != 1)
            return;
        for (std::size_t k = 0; k < targets.size(); ++k) {
            SCOPED_TRACE(name.toStdString() + " [" + std::to_string(k + 1) + "] " + where);
            EXPECT_EQ(heading->second[k].rank, static_cast<int>(k + 1));
            EXPECT_EQ(targets[k].first, heading->second[k].page);
            EXPECT_NEAR(targets[k].second, heading->second[k].top, 12.0);
            ++overloads;
        }
    };
    std::map<std::pair<int, QString>, std::vector<const Link*>> linksByPage;
    const std::vector<Link> all = links(pdf);
    for (const Link& link : all) {
        // Not a link to a page itself (to the top of its first page): a structure's name links
        // to its page.
        if (link.targetPage >= 0 && link.targetY < 841.0)
            linksByPage[{link.page, withoutCallParentheses(textInside(
                                        words[static_cast<std::size_t>(link.page)], link))}]
                .push_back(&link);
    }
    for (auto& [key, group] : linksByPage) {
        const auto heading = headings.find(key.second);
        if (heading == headings.end() || key.first < heading->second.front().page - 1 ||
            key.first > heading->second.back().page)
            continue;
        std::sort(group.begin(), group.end(),
                  [](const Link* a, const Link* b) { return a->top > b->top; });
        std::vector<std::pair<int, double>> targets;
        for (const Link* link : group)
            targets.push_back({link->targetPage, link->targetY});
        expectOverloads(key.second, targets, "linked from page " + std::to_string(key.first + 1));
    }
    const std::function<void(const std::vector<OutlineEntry>&)> overloadEntries =
        [&](const std::vector<OutlineEntry>& entries) {
            std::map<QString, std::vector<std::pair<int, double>>> byTitle;
            for (const OutlineEntry& entry : entries) {
                byTitle[entry.title].push_back({entry.targetPage, entry.targetY});
                overloadEntries(entry.kids);
            }
            for (const auto& [title, targets] : byTitle)
                expectOverloads(title, targets, "in the outline");
        };
    overloadEntries(outline(pdf));
    // Size and Vec2, three each: on their own pages and in two places of the outline.
    EXPECT_GE(overloads, 18);

    const std::vector<OutlineEntry> entries = outline(pdf);
    std::vector<const OutlineEntry*> files;
    collectFilePages(entries, &files);
    EXPECT_GE(files.size(), 11u);
    for (const OutlineEntry* file : files) {
        SCOPED_TRACE(file->title.toStdString());
        ASSERT_GE(file->targetPage, 0);
        double highest = 0;
        for (const WordBox& w : words[static_cast<std::size_t>(file->targetPage)])
            highest = std::max(highest, w.top);
        // At its first line (a title, 16 points high), not further down.
        EXPECT_GE(file->targetY, highest - 24.0);
    }
}

namespace {

// Every page of the book's page list printed and walked by the engine, as the export does.
std::vector<StoredPrint> printEveryPage(CHMDocument& document, QWebEngineProfile* profile,
                                        const CHMExporter& exporter) {
    std::vector<StoredPrint> prints;
    ExportPagePrinter printer(profile, exporter.pageSettings());
    for (std::size_t i = 0; i < exporter.pageList().size(); ++i) {
        StoredPrint print;
        print.path = exporter.pageList().at(i).path();
        const QUrl url = CHMDocument::composeURL(print.path);
        if (url.isValid()) {
            QEventLoop loop;
            printer.print(url, [&](const ExportPagePrinter::Result& result) {
                if (result.printed) {
                    print.pdf = result.pdf;
                    print.walk = result.walk;
                }
                loop.quit();
            });
            loop.exec();
        }
        prints.push_back(print);
    }
    (void)document;
    return prints;
}

} // namespace

// A Chinese book printed once, then assembled serially and through the pipeline's workers: the
// same pages, texts, links and outline.
TEST(ExportCorpus, ChineseBookAssembledOnWorkersIsTheSerialExport) {
    const QString book = QStringLiteral("zh-gbk-7zip-help.chm");
    REQUIRE_CORPUS(book);
    std::unique_ptr<CHMDocument> document = CHMDocument::open(testsupport::corpusPath(book));
    ASSERT_TRUE(document);
    const auto toc = document->tocSource();
    ASSERT_TRUE(toc);
    const QString folder = freshFolder(QStringLiteral("cjk-pipeline"));
    const auto exporterFor = [&](const QString& name) {
        return std::make_unique<CHMExporter>(*document, QDir(folder).filePath(name),
                                             toc->pageList(), nullptr);
    };
    std::vector<StoredPrint> prints;
    {
        ExportWebProfile profile(document.get());
        prints = printEveryPage(*document, profile.profile(), *exporterFor(QString()));
    }
    ASSERT_GE(prints.size(), 50u);

    const auto finish = [&](CHMExporter& exporter) {
        for (int i = 0; i < exporter.outputPageCount(); ++i)
            exporter.ResolveDestination(i);
        exporter.GenerateTableOfContents(toc->rootItems());
        QString error;
        EXPECT_TRUE(exporter.WritePDFData(&error)) << error.toStdString();
        return exporter.outputPath();
    };
    std::unique_ptr<CHMExporter> serial = exporterFor(QStringLiteral("serial.pdf"));
    for (const StoredPrint& print : prints) {
        if (print.pdf.isEmpty())
            serial->skipPage();
        else
            serial->addPrintedPage(print.pdf, PageTextContent::fromWalk(print.walk));
    }
    const QString serialPDF = finish(*serial);

    std::unique_ptr<CHMExporter> piped = exporterFor(QStringLiteral("piped.pdf"));
    {
        std::mutex mutex;
        std::condition_variable changed;
        std::size_t told = 0;
        PrintPipeline pipeline(*piped, [&](const PrintPipeline::Outcome&) {
            const std::lock_guard lock(mutex);
            ++told;
            changed.notify_all();
        });
        for (const StoredPrint& print : prints) {
            if (print.pdf.isEmpty())
                pipeline.skipPage(print.path);
            else
                pipeline.addPrint(print.path, print.pdf, print.walk);
        }
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return told == prints.size(); });
    }
    const QString pipedPDF = finish(*piped);

    const QStringList texts = pageTexts(pipedPDF);
    EXPECT_GE(texts.size(), static_cast<qsizetype>(prints.size()));
    EXPECT_EQ(texts, pageTexts(serialPDF));
    const std::vector<Link> pipedLinks = links(pipedPDF), serialLinks = links(serialPDF);
    ASSERT_EQ(pipedLinks.size(), serialLinks.size());
    int leadSomewhere = 0;
    for (std::size_t i = 0; i < pipedLinks.size(); ++i) {
        EXPECT_EQ(pipedLinks[i].page, serialLinks[i].page);
        EXPECT_EQ(pipedLinks[i].targetPage, serialLinks[i].targetPage);
        EXPECT_DOUBLE_EQ(pipedLinks[i].targetY, serialLinks[i].targetY);
        EXPECT_EQ(pipedLinks[i].uri, serialLinks[i].uri);
        leadSomewhere += pipedLinks[i].targetPage >= 0;
    }
    EXPECT_GE(leadSomewhere, 100);
    std::vector<const OutlineEntry*> pipedEntries, serialEntries;
    const std::vector<OutlineEntry> pipedOutline = outline(pipedPDF),
                                    serialOutline = outline(serialPDF);
    const std::function<void(const std::vector<OutlineEntry>&, std::vector<const OutlineEntry*>*)>
        flatten =
            [&](const std::vector<OutlineEntry>& entries, std::vector<const OutlineEntry*>* into) {
                for (const OutlineEntry& entry : entries) {
                    into->push_back(&entry);
                    flatten(entry.kids, into);
                }
            };
    flatten(pipedOutline, &pipedEntries);
    flatten(serialOutline, &serialEntries);
    ASSERT_EQ(pipedEntries.size(), serialEntries.size());
    EXPECT_GE(pipedEntries.size(), 40u);
    for (std::size_t i = 0; i < pipedEntries.size(); ++i) {
        EXPECT_EQ(pipedEntries[i]->title, serialEntries[i]->title);
        EXPECT_EQ(pipedEntries[i]->targetPage, serialEntries[i]->targetPage);
        EXPECT_DOUBLE_EQ(pipedEntries[i]->targetY, serialEntries[i]->targetY);
    }
}
